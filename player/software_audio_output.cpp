#include "player/software_audio_output.h"

#include <cstring>
#include <utility>

namespace fluxmere {

namespace {

void PutLe32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

void PutLe16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

constexpr size_t kWavHeaderBytes = 44;

void FillWavHeader(uint8_t* h, uint32_t dataBytes) {
    std::memcpy(h, "RIFF", 4);
    PutLe32(h + 4, 36 + dataBytes);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    PutLe32(h + 16, 16);
    PutLe16(h + 20, 1);  // PCM
    PutLe16(h + 22, static_cast<uint16_t>(kAudioChannels));
    PutLe32(h + 24, kAudioSampleRate);
    PutLe32(h + 28, kAudioBytesPerSecond);
    PutLe16(h + 32, static_cast<uint16_t>(kAudioChannels * 2));
    PutLe16(h + 34, 16);
    std::memcpy(h + 36, "data", 4);
    PutLe32(h + 40, dataBytes);
}

}  // namespace

CSoftwareAudioOutput::CSoftwareAudioOutput(std::string wavPath) : wavPath_(std::move(wavPath)) {
    for (auto& flag : done_)
        flag.store(true, std::memory_order_relaxed);
}

CSoftwareAudioOutput::~CSoftwareAudioOutput() {
    Close();
}

bool CSoftwareAudioOutput::Open(uint8_t* const* buffers, uint32_t capacity) {
    Close();
    {
        platform::ScopedLock hold(lock_);
        for (int i = 0; i < kAudioSlots; ++i) {
            buffers_[i] = buffers[i];
            lengths_[i] = 0;
            done_[i].store(true, std::memory_order_release);
        }
        capacity_ = capacity;
        queued_ = 0;
        stopping_ = false;
        bytesPlayed_.store(0, std::memory_order_release);
        OpenWav();
        open_ = true;
    }
    if (!thread_.Start(&CSoftwareAudioOutput::PlaybackEntry, this)) {
        platform::ScopedLock hold(lock_);
        open_ = false;
        FinishWav();
        return false;
    }
    return true;
}

bool CSoftwareAudioOutput::IsSlotDone(int slot) const {
    if (slot < 0 || slot >= kAudioSlots)
        return false;
    return done_[slot].load(std::memory_order_acquire);
}

bool CSoftwareAudioOutput::Write(int slot, uint32_t length) {
    if (slot < 0 || slot >= kAudioSlots)
        return false;
    platform::ScopedLock hold(lock_);
    if (!done_[slot].load(std::memory_order_acquire))
        return false;  // still queued
    done_[slot].store(false, std::memory_order_release);
    if (!open_ || length > capacity_)
        return false;
    lengths_[slot] = length;
    queue_[queued_++] = slot;  // at most four: a slot is queued only while it is not done
    wake_.Set();
    return true;
}

void CSoftwareAudioOutput::Reset() {
    platform::ScopedLock hold(lock_);
    queued_ = 0;
    ++generation_;
    for (auto& flag : done_)
        flag.store(true, std::memory_order_release);
    wake_.Set();
}

void CSoftwareAudioOutput::Close() {
    {
        platform::ScopedLock hold(lock_);
        if (!open_)
            return;
        stopping_ = true;
    }
    Reset();
    thread_.Join(platform::kInfinite);
    platform::ScopedLock hold(lock_);
    open_ = false;
    FinishWav();
}

void CSoftwareAudioOutput::Hold(bool held) {
    platform::ScopedLock hold(lock_);
    held_ = held;
    wake_.Set();
}

bool CSoftwareAudioOutput::IsOpen() const {
    platform::ScopedLock hold(lock_);
    return open_;
}

void CSoftwareAudioOutput::PlaybackEntry(void* context) {
    static_cast<CSoftwareAudioOutput*>(context)->Playback();
}

bool CSoftwareAudioOutput::WaitUntil(uint64_t deadlineMs) {
    for (;;) {
        {
            platform::ScopedLock hold(lock_);
            if (stopping_)
                return false;
        }
        const uint64_t now = platform::MonotonicMs();
        if (now >= deadlineMs)
            return true;
        wake_.Wait(static_cast<uint32_t>(deadlineMs - now));
    }
}

void CSoftwareAudioOutput::Playback() {
    // The device's clock: when the slot being played ends. Idle time does not count, so a block
    // queued after a gap starts at once (no catching up).
    uint64_t clockMs = platform::MonotonicMs();
    uint64_t clockRemainder = 0;  // bytes x 1000 not yet turned into whole milliseconds
    for (;;) {
        int slot = -1;
        uint32_t length = 0;
        uint64_t generation = 0;
        {
            platform::ScopedLock hold(lock_);
            if (stopping_)
                return;
            if (queued_ > 0 && !held_) {
                slot = queue_[0];
                length = lengths_[slot];
                generation = generation_;
            }
        }
        if (slot < 0) {
            wake_.Wait(platform::kInfinite);
            clockMs = platform::MonotonicMs();
            clockRemainder = 0;
            continue;
        }
        clockRemainder += static_cast<uint64_t>(length) * 1000;
        clockMs += clockRemainder / kAudioBytesPerSecond;
        clockRemainder %= kAudioBytesPerSecond;
        if (!WaitUntil(clockMs))
            return;

        platform::ScopedLock hold(lock_);
        if (generation != generation_ || held_ || queued_ == 0 || queue_[0] != slot) {
            // Reset or held meanwhile: this slot was not played to its end.
            clockMs = platform::MonotonicMs();
            clockRemainder = 0;
            continue;
        }
        if (wav_ != nullptr && length > 0) {
            if (std::fwrite(buffers_[slot], 1, length, wav_) == length)
                wavDataBytes_ += length;
        }
        bytesPlayed_.fetch_add(length, std::memory_order_acq_rel);
        for (int i = 1; i < queued_; ++i)
            queue_[i - 1] = queue_[i];
        --queued_;
        done_[slot].store(true, std::memory_order_release);
    }
}

void CSoftwareAudioOutput::OpenWav() {
    if (wavPath_.empty())
        return;
    wav_ = std::fopen(wavPath_.c_str(), "wb");
    wavDataBytes_ = 0;
    if (wav_ != nullptr) {
        uint8_t header[kWavHeaderBytes];
        FillWavHeader(header, 0);
        std::fwrite(header, 1, sizeof header, wav_);
    }
}

void CSoftwareAudioOutput::FinishWav() {
    if (wav_ == nullptr)
        return;
    uint8_t header[kWavHeaderBytes];
    const uint64_t limit = 0xFFFFFFFFu - 36;
    FillWavHeader(header, static_cast<uint32_t>(wavDataBytes_ < limit ? wavDataBytes_ : limit));
    if (std::fseek(wav_, 0, SEEK_SET) == 0)
        std::fwrite(header, 1, sizeof header, wav_);
    std::fclose(wav_);
    wav_ = nullptr;
}

}  // namespace fluxmere
