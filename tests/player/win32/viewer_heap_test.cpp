// A viewer made again and again (a wall screen's page reloaded, a control destroyed and made anew)
// must leave its process's heap as it found it. The soak found the heap's free space growing with
// every viewer made again: the viewer's large buffers, freed, left holes that the page's small
// allocations split, so that the next viewer's buffers no longer fitted. Windows only (the
// heap's behaviour is the system's).

#include <malloc.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "player/player_session.h"
#include "player/software_audio_output.h"

namespace fluxmere::testing {
namespace {

// The free bytes the heap of new and malloc keeps.
size_t FreeBytesOfTheHeap() {
    const HANDLE heap = reinterpret_cast<HANDLE>(_get_heap_handle());
    size_t free = 0;
    HeapLock(heap);
    PROCESS_HEAP_ENTRY entry = {};
    while (HeapWalk(heap, &entry)) {
        if (!(entry.wFlags &
              (PROCESS_HEAP_ENTRY_BUSY | PROCESS_HEAP_REGION | PROCESS_HEAP_UNCOMMITTED_RANGE)))
            free += entry.cbData;
    }
    HeapUnlock(heap);
    return free;
}

TEST(ViewerHeap, ViewersMadeAgainLeaveNoHolesInTheHeap) {
    // Four viewers of a wall; one after the other is made again while the page keeps a little
    // more of its own each time.
    CSoftwareAudioOutput audio;
    std::unique_ptr<CPlayerSession> wall[4];
    std::vector<std::unique_ptr<char[]>> page;
    int round = 0;
    auto viewerMadeAgain = [&] {
        std::unique_ptr<CPlayerSession>& viewer = wall[round % 4];
        viewer.reset();
        page.emplace_back(new char[200 + 700 * (round % 5)]);
        viewer.reset(new CPlayerSession(audio, nullptr));
        ASSERT_TRUE(viewer->IsValid());
        // Its target buffers grow, to a size that differs from one viewer to the next.
        const std::string rectangle = "0,0," + std::to_string(352 + 16 * (round % 3)) + ",288";
        viewer->SetRectangle(rectangle.c_str());
        ++round;
    };
    for (int i = 0; i < 8; ++i)
        viewerMadeAgain();
    const size_t before = FreeBytesOfTheHeap();
    for (int i = 0; i < 60; ++i)
        viewerMadeAgain();
    const size_t after = FreeBytesOfTheHeap();
    // Made again 60 times, the buffers of a viewer left over a megabyte of holes; what is left
    // now is the page's own small blocks coming and going.
    EXPECT_LT(after, before + 262144) << "free bytes of the heap: " << before << " then " << after;
}

}  // namespace
}  // namespace fluxmere::testing
