// The control in a container of our own, windowed and windowless: where it activates, that it
// paints exactly its position and nothing around it, that the Cancel button takes the mouse in
// both modes, and that deactivating and activating again keeps it painting.
#include <gtest/gtest.h>

#include "player/player_registry.h"
#include "tests/control/test_container.h"
#include "tests/control/test_viewer.h"

namespace fluxmere {
namespace {

using testing::Capture;
using testing::GdiCanvas;
using testing::Pump;
using testing::StatusBand;
using testing::TestContainer;
using testing::TestViewer;

constexpr uint32_t kBackgroundRgb = 0x204060;
const RECT kPosition{40, 30, 360, 270};
constexpr int kHeight = 240;
// Where the status screen's text may be, relative to the position: its first rows, on the left.
constexpr int kTextRows = 20;
constexpr int kTextColumns = 150;

class CountingJob : public IDownloadJob {
public:
    void AddRef() override { ++refs; }
    void Release() override { --refs; }
    void Cancel() override { ++cancels; }
    int refs = 0;
    int cancels = 0;
};

class InContainer : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        viewer_ = new TestViewer;
        ASSERT_EQ(container_.Embed(viewer_->unknown()), S_OK);
        ASSERT_EQ(container_.activatedWindowless(), GetParam());
    }
    void TearDown() override {
        container_.Unembed();
        viewer_->Release();
        CoUninitialize();
    }
    CPlayerSession& session() { return viewer_->Control().Core().Session(); }

    // The status screen ("Not connected" on the gradient) fills exactly the control's position;
    // the container shows around it.
    void ExpectScreenAtPosition() {
        Pump(100);
        GdiCanvas canvas(400, 300);
        Capture(container_.window(), canvas);
        auto expected = [](int x, int y) {
            const bool inside = x >= kPosition.left && x < kPosition.right && y >= kPosition.top &&
                                y < kPosition.bottom;
            return inside ? StatusBand(y - kPosition.top, kHeight) : kBackgroundRgb;
        };
        auto mayHoldText = [](int x, int y) {
            return y >= kPosition.top && y < kPosition.top + kTextRows && x >= kPosition.left &&
                   x < kPosition.left + kTextColumns;
        };
        for (int y = 0; y < 300; y += 2) {
            for (int x = 0; x < 400; x += 2) {
                if (!mayHoldText(x, y))
                    ASSERT_EQ(canvas.Pixel(x, y), expected(x, y)) << x << "," << y;
            }
        }
        // The edges exactly.
        for (int y = kPosition.top - 1; y <= kPosition.bottom; ++y) {
            EXPECT_EQ(canvas.Pixel(kPosition.left - 1, y), kBackgroundRgb);
            EXPECT_EQ(canvas.Pixel(kPosition.right, y), kBackgroundRgb);
            if (!mayHoldText(kPosition.left, y))
                EXPECT_EQ(canvas.Pixel(kPosition.left, y), expected(kPosition.left, y)) << y;
            EXPECT_EQ(canvas.Pixel(kPosition.right - 1, y), expected(kPosition.right - 1, y)) << y;
        }
        for (int x = kPosition.left; x < kPosition.right; ++x) {
            EXPECT_EQ(canvas.Pixel(x, kPosition.top - 1), kBackgroundRgb);
            EXPECT_EQ(canvas.Pixel(x, kPosition.bottom), kBackgroundRgb);
            if (!mayHoldText(x, kPosition.top))
                ASSERT_EQ(canvas.Pixel(x, kPosition.top), StatusBand(0, kHeight)) << x;
            ASSERT_EQ(canvas.Pixel(x, kPosition.bottom - 1), StatusBand(kHeight - 1, kHeight)) << x;
        }
        // The text is there, at the position's top-left corner.
        int textPixels = 0;
        for (int y = kPosition.top; y < kPosition.top + kTextRows; ++y) {
            for (int x = kPosition.left; x < kPosition.left + kTextColumns; ++x)
                textPixels += canvas.Pixel(x, y) != expected(x, y) ? 1 : 0;
        }
        EXPECT_GT(textPixels, 20) << "no status text";
    }

    // A button message as the container's window receives it, at a point relative to the
    // control's top-left corner; windowed, the control's own window gets it.
    void Mouse(UINT message, int x, int y) {
        HWND target = container_.window();
        if (!GetParam()) {
            ASSERT_EQ(viewer_->Control().GetWindow(&target), S_OK);
        } else {
            x += kPosition.left;
            y += kPosition.top;
        }
        SendMessageA(target, message, 0, MAKELPARAM(x, y));
    }

    TestContainer container_{400, 300, kPosition, GetParam()};
    TestViewer* viewer_ = nullptr;
};

TEST_P(InContainer, ActivatesAsTheSiteAllows) {
    HWND own = nullptr;
    if (GetParam()) {
        EXPECT_TRUE(viewer_->Control().IsWindowless());
        EXPECT_EQ(viewer_->Control().GetWindow(&own), E_FAIL);
        return;
    }
    ASSERT_EQ(viewer_->Control().GetWindow(&own), S_OK);
    EXPECT_EQ(GetParent(own), container_.window());
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(own, GWL_STYLE)) & 0xFFFF0000u, 0x56000000u);
    EXPECT_EQ(GetWindowLongA(own, GWL_EXSTYLE) & ~WS_EX_NOPARENTNOTIFY, 0);
    EXPECT_EQ(GetClassLongA(own, GCL_STYLE),
              static_cast<LONG>(CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS));
    RECT placed;
    GetWindowRect(own, &placed);
    MapWindowPoints(nullptr, container_.window(), reinterpret_cast<POINT*>(&placed), 2);
    EXPECT_TRUE(EqualRect(&placed, &kPosition));
}

TEST_P(InContainer, PaintsExactlyItsPosition) {
    ExpectScreenAtPosition();
}

TEST_P(InContainer, KeepsPaintingAfterDeactivationAndReactivation) {
    ExpectScreenAtPosition();
    IOleInPlaceObject* inPlace = nullptr;
    viewer_->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&inPlace));
    ASSERT_EQ(inPlace->InPlaceDeactivate(), S_OK);
    EXPECT_FALSE(viewer_->Control().IsInPlaceActive());
    inPlace->Release();
    IOleObject* object = nullptr;
    viewer_->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&object));
    ASSERT_EQ(object->DoVerb(OLEIVERB_UIACTIVATE, nullptr, &container_, 0, container_.window(),
                             &kPosition),
              S_OK);
    EXPECT_TRUE(viewer_->Control().IsUIActive());
    object->Release();
    ExpectScreenAtPosition();
}

TEST_P(InContainer, CancelButtonTakesTheMouse) {
    CountingJob job;
    {
        platform::ScopedLock hold(RegistryLock());
        session().OnDownloadState(DownloadState::InProgress, CodecKind::DV, &job);
    }
    Pump(100);
    // Press inside and release outside: nothing; press and release inside: one cancel.
    Mouse(WM_LBUTTONDOWN, 70, 110);
    EXPECT_TRUE(viewer_->Control().Core().CancelPressed());
    Mouse(WM_LBUTTONUP, 200, 110);
    EXPECT_EQ(job.cancels, 0);
    Mouse(WM_LBUTTONDOWN, 120, 120);  // the bottom-right edge counts
    Mouse(WM_LBUTTONUP, 20, 100);     // and so does the top-left
    EXPECT_EQ(job.cancels, 1);
    EXPECT_FALSE(viewer_->Control().Core().CancelPressed());
    {
        platform::ScopedLock hold(RegistryLock());
        IDownloadJob* previous =
            session().OnDownloadState(DownloadState::Failed, CodecKind::DV, nullptr);
        if (previous != nullptr)
            previous->Release();
    }
    EXPECT_EQ(job.refs, 0);
}

INSTANTIATE_TEST_SUITE_P(Modes, InContainer, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Windowless" : "Windowed";
                         });

}  // namespace
}  // namespace fluxmere
