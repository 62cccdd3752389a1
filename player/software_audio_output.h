#pragma once
// A portable audio device for builds without a sound system: it plays queued slots one after
// another in real time at 192000 bytes per second (48000 Hz, 16-bit stereo) on a thread of its
// own, and can append what it played to a WAV file.

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/sync.h"
#include "platform/thread.h"
#include "player/audio_output.h"

namespace fluxmere {

class CSoftwareAudioOutput : public IAudioOutput {
public:
    // wavPath: where to write what was played (empty: nowhere). Each Open starts the file anew;
    // Close completes its header.
    explicit CSoftwareAudioOutput(std::string wavPath = std::string());
    ~CSoftwareAudioOutput() override;

    bool Open(uint8_t* const* buffers, uint32_t capacity) override;
    bool IsSlotDone(int slot) const override;
    bool Write(int slot, uint32_t length) override;
    void Reset() override;
    void Close() override;

    // Test seam: while held the device plays nothing (queued slots stay queued).
    void Hold(bool held);
    // Bytes played since the last Open.
    uint64_t BytesPlayed() const { return bytesPlayed_.load(std::memory_order_acquire); }
    bool IsOpen() const;

private:
    static void PlaybackEntry(void* context);
    void Playback();
    bool WaitUntil(uint64_t deadlineMs);  // false when woken to stop
    void OpenWav();
    void FinishWav();

    const std::string wavPath_;
    mutable platform::CriticalSection lock_;  // queue, open state, buffers, WAV file
    platform::Event wake_{false, false};      // auto-reset: something was queued or changed
    platform::Thread thread_;
    uint8_t* buffers_[kAudioSlots] = {};
    uint32_t capacity_ = 0;
    uint32_t lengths_[kAudioSlots] = {};
    std::atomic<bool> done_[kAudioSlots];
    int queue_[kAudioSlots] = {};  // slots in the order they were written
    int queued_ = 0;
    bool open_ = false;
    bool held_ = false;
    bool stopping_ = false;
    uint64_t generation_ = 0;  // bumped by Reset, so an interrupted slot is not finished
    std::atomic<uint64_t> bytesPlayed_{0};
    std::FILE* wav_ = nullptr;
    uint64_t wavDataBytes_ = 0;
};

}  // namespace fluxmere
