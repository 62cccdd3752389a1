#include "player/win32/wave_out_audio.h"

#include <windows.h>
#include <mmsystem.h>

namespace fluxmere {

struct CWaveOutAudioOutput::Headers {
    WAVEHDR header[kAudioSlots];
    bool prepared[kAudioSlots];
};

namespace {

HWAVEOUT Handle(void* device) {
    return static_cast<HWAVEOUT>(device);
}

}  // namespace

CWaveOutAudioOutput::CWaveOutAudioOutput() : headers_(new Headers()) {
    for (int i = 0; i < kAudioSlots; ++i)
        headers_->header[i].dwFlags = WHDR_DONE;
}

CWaveOutAudioOutput::~CWaveOutAudioOutput() {
    Close();
    delete headers_;
}

bool CWaveOutAudioOutput::Open(uint8_t* const* buffers, uint32_t capacity) {
    Close();
    WAVEFORMATEX format = {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = static_cast<WORD>(kAudioChannels);
    format.nSamplesPerSec = kAudioSampleRate;
    format.wBitsPerSample = 16;
    format.nBlockAlign = static_cast<WORD>(kAudioChannels * 2);
    format.nAvgBytesPerSec = kAudioBytesPerSecond;
    format.cbSize = 0;
    HWAVEOUT device = nullptr;
    const MMRESULT opened =
        waveOutOpen(&device, WAVE_MAPPER, &format, 0, reinterpret_cast<DWORD_PTR>(this),
                    CALLBACK_NULL | WAVE_ALLOWSYNC);
    device_ = opened == MMSYSERR_NOERROR ? device : nullptr;
    for (int i = 0; i < kAudioSlots; ++i) {
        WAVEHDR& header = headers_->header[i];
        header = WAVEHDR();
        header.lpData = reinterpret_cast<LPSTR>(buffers[i]);
        // Prepared for the whole buffer, so any block the ring accepts lies inside it.
        header.dwBufferLength = capacity;
        headers_->prepared[i] =
            device_ != nullptr &&
            waveOutPrepareHeader(Handle(device_), &header, sizeof header) == MMSYSERR_NOERROR;
        header.dwFlags |= WHDR_DONE;
    }
    return device_ != nullptr;
}

bool CWaveOutAudioOutput::IsSlotDone(int slot) const {
    if (slot < 0 || slot >= kAudioSlots)
        return false;
    // The system sets the flag from its own thread.
    const volatile DWORD* flags = &headers_->header[slot].dwFlags;
    return (*flags & WHDR_DONE) != 0;
}

bool CWaveOutAudioOutput::Write(int slot, uint32_t length) {
    if (slot < 0 || slot >= kAudioSlots)
        return false;
    WAVEHDR& header = headers_->header[slot];
    header.dwFlags &= ~static_cast<DWORD>(WHDR_DONE);
    if (device_ == nullptr || !headers_->prepared[slot])
        return false;
    header.dwBufferLength = length;
    return waveOutWrite(Handle(device_), &header, sizeof header) == MMSYSERR_NOERROR;
}

void CWaveOutAudioOutput::Reset() {
    if (device_ != nullptr)
        waveOutReset(Handle(device_));  // gives every queued buffer back
}

void CWaveOutAudioOutput::Close() {
    if (device_ == nullptr)
        return;
    waveOutReset(Handle(device_));
    for (int i = 0; i < kAudioSlots; ++i) {
        if (headers_->prepared[i]) {
            waveOutUnprepareHeader(Handle(device_), &headers_->header[i], sizeof(WAVEHDR));
            headers_->prepared[i] = false;
        }
        headers_->header[i].dwFlags = WHDR_DONE;
    }
    waveOutClose(Handle(device_));
    device_ = nullptr;
}

}  // namespace fluxmere
