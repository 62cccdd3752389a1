#include "download/win32/download_window_thread.h"

#include <ole2.h>

#include <new>

namespace fluxmere {

DownloadWindowThread::~DownloadWindowThread() {
    Stop();
}

bool DownloadWindowThread::Start(const DownloadSettings& settings, HINSTANCE resources) {
    if (dialog_ != nullptr)
        return created_;
    resources_ = resources;
    dialog_.reset(new (std::nothrow) CFluxmereDownloadDlg(settings));
    if (dialog_ == nullptr)
        return false;
    ready_.Reset();
    if (thread_.Start(Run, this))
        ready_.Wait(platform::kInfinite);
    if (!created_) {
        thread_.Join(platform::kInfinite);
        dialog_.reset();
    }
    return created_;
}

void DownloadWindowThread::Stop() {
    if (dialog_ == nullptr)
        return;
    dialog_->RequestDestroy();
    thread_.Join(platform::kInfinite);
    dialog_.reset();
    created_ = false;
}

void DownloadWindowThread::Run(void* context) {
    auto* self = static_cast<DownloadWindowThread*>(context);
    // The folder browser's new style needs OLE on the window's thread.
    const HRESULT ole = OleInitialize(nullptr);
    self->threadId_ = GetCurrentThreadId();
    self->created_ = self->dialog_->Create(self->resources_);
    const HWND window = self->dialog_->Window();
    self->ready_.Set();  // self's Start may return from here on
    if (window != nullptr) {
        MSG message;
        while (GetMessageA(&message, nullptr, 0, 0) > 0) {
            if (!IsDialogMessageA(window, &message)) {
                TranslateMessage(&message);
                DispatchMessageA(&message);
            }
        }
    }
    if (SUCCEEDED(ole))
        OleUninitialize();
}

}  // namespace fluxmere
