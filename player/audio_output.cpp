#include "player/audio_output.h"

#include <cstring>

#include "decode/primitives.h"

namespace fluxmere {

CAudioRing::CAudioRing(IAudioOutput& output) : output_(output) {
    const size_t bytes = static_cast<size_t>(kAudioSlots) * kAudioBufferBytes;
    if (storage_.Reserve(bytes)) {
        buffers_ = storage_.data();
        std::memset(buffers_, 0, bytes);
    }
}

CAudioRing::~CAudioRing() {
    CloseAudio();
}

void CAudioRing::OpenAudio() {
    platform::ScopedLock hold(lock_);
    if (!IsValid())
        return;
    wanted_ = true;
    // The first device must give the buffers back before a second one prepares them.
    CloseDevice();
    if (soundOn_)
        OpenDevice();
}

void CAudioRing::OpenDevice() {
    uint8_t* slots[kAudioSlots];
    for (int i = 0; i < kAudioSlots; ++i)
        slots[i] = buffers_ + i * kAudioBufferBytes;
    output_.Open(slots, kAudioBufferBytes);
    open_ = true;
}

void CAudioRing::QueueAudioBlock(const CKeloMediaFrame& header, const uint8_t* payload) {
    platform::ScopedLock hold(lock_);
    if (!open_)
        return;
    if (waveIndex_ >= static_cast<uint32_t>(kAudioSlots))
        waveIndex_ = 0;
    const int slot = static_cast<int>(waveIndex_);
    const uint32_t length = header.payloadSize;
    // The slot is tested first: a buffer the device still reads is never touched.
    if (!output_.IsSlotDone(slot) || header.codecCode != kCodecP16S || length > kAudioBufferBytes ||
        (length > 0 && payload == nullptr)) {
        ++blocksDropped_;
        return;
    }
    uint8_t* buffer = buffers_ + slot * kAudioBufferBytes;
    const uint32_t whole = length - length % kAudioFrameBytes;
    const int32_t samples = static_cast<int32_t>(whole / 2);
    if (samples > 0) {
        // The payload may sit at any byte offset in the chunk: swap from an aligned copy.
        std::memcpy(buffer, payload, static_cast<size_t>(samples) * 2);
        uint16_t* words = reinterpret_cast<uint16_t*>(buffer);
        SwapBytes16(words, words, samples);
    }
    output_.Write(slot, whole);
    ++blocksQueued_;
    ++waveIndex_;
}

void CAudioRing::CloseAudio() {
    platform::ScopedLock hold(lock_);
    wanted_ = false;
    CloseDevice();
}

void CAudioRing::CloseDevice() {
    if (!open_)
        return;
    output_.Close();  // resets first: no queued buffer is read after this
    open_ = false;
}

void CAudioRing::SetSoundOn(bool on) {
    platform::ScopedLock hold(lock_);
    soundOn_ = on;
    if (!on)
        CloseDevice();
    else if (wanted_ && !open_ && IsValid())
        OpenDevice();
}

bool CAudioRing::SoundOn() const {
    platform::ScopedLock hold(lock_);
    return soundOn_;
}

uint64_t CAudioRing::BlocksQueued() const {
    platform::ScopedLock hold(lock_);
    return blocksQueued_;
}

uint64_t CAudioRing::BlocksDropped() const {
    platform::ScopedLock hold(lock_);
    return blocksDropped_;
}

bool CAudioRing::IsOpen() const {
    platform::ScopedLock hold(lock_);
    return open_;
}

uint32_t CAudioRing::NextSlot() const {
    platform::ScopedLock hold(lock_);
    return waveIndex_;
}

}  // namespace fluxmere
