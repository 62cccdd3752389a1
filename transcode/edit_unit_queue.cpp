#include "transcode/edit_unit_queue.h"

#include <cstring>
#include <new>

namespace fluxmere::transcode {

bool EditUnitQueue::Configure(size_t pictureBytes, uint32_t soundFramesPerUnit, bool hasSound) {
    pictureBytes_ = pictureBytes;
    unitFrames_ = soundFramesPerUnit;
    hasSound_ = hasSound;
    first_ = 0;
    held_ = 0;
    unitsPopped_ = 0;
    soundEnd_ = 0;
    dropFrames_ = 0;
    // Room for the sound of every held picture and one more unit that runs ahead of them.
    ringFrames_ = soundFramesPerUnit * (kCapacity + 1);
    pictures_.reset(new (std::nothrow) uint8_t[pictureBytes * kCapacity]);
    ring_.reset(new (std::nothrow) int16_t[size_t{ringFrames_} * 2]);
    front_.reset(new (std::nothrow) int16_t[size_t{soundFramesPerUnit} * 2]);
    return pictures_ != nullptr && ring_ != nullptr && front_ != nullptr && soundFramesPerUnit > 0;
}

uint8_t* EditUnitQueue::PictureSlot() {
    if (Full()) {
        return nullptr;
    }
    return pictures_.get() + size_t((first_ + held_) % kCapacity) * pictureBytes_;
}

void EditUnitQueue::CommitPicture() {
    if (!Full()) {
        ++held_;
    }
}

void EditUnitQueue::AddSound(const uint8_t* bigEndian, uint32_t frames) {
    for (uint32_t i = 0; i < frames; ++i) {
        if (dropFrames_ > 0) {
            --dropFrames_;
            continue;
        }
        // Sound further ahead than the ring reaches has no picture in sight: dropped.
        if (soundEnd_ >= unitsPopped_ * unitFrames_ + ringFrames_) {
            return;
        }
        int16_t* at = ring_.get() + size_t(soundEnd_ % ringFrames_) * 2;
        const uint8_t* s = bigEndian + size_t{i} * 4;
        at[0] = static_cast<int16_t>(uint16_t(s[0] << 8 | s[1]));
        at[1] = static_cast<int16_t>(uint16_t(s[2] << 8 | s[3]));
        ++soundEnd_;
    }
}

bool EditUnitQueue::Front(bool force, const uint8_t** picture, const int16_t** stereo) {
    if (held_ == 0) {
        return false;
    }
    const uint64_t start = unitsPopped_ * unitFrames_;
    const uint64_t end = start + unitFrames_;
    if (hasSound_ && soundEnd_ < end && !force) {
        return false;
    }
    const uint64_t have =
        soundEnd_ > start ? (soundEnd_ < end ? soundEnd_ - start : unitFrames_) : 0;
    for (uint64_t i = 0; i < have; ++i) {
        const int16_t* from = ring_.get() + size_t((start + i) % ringFrames_) * 2;
        front_[2 * i] = from[0];
        front_[2 * i + 1] = from[1];
    }
    std::memset(front_.get() + 2 * have, 0, size_t(unitFrames_ - have) * 4);
    *picture = pictures_.get() + size_t(first_) * pictureBytes_;
    *stereo = front_.get();
    return true;
}

void EditUnitQueue::Pop() {
    if (held_ == 0) {
        return;
    }
    const uint64_t end = (unitsPopped_ + 1) * unitFrames_;
    if (soundEnd_ < end) {
        // The unit left without all of its sound: what comes late for it is dropped.
        dropFrames_ += end - soundEnd_;
        soundEnd_ = end;
    }
    first_ = (first_ + 1) % kCapacity;
    --held_;
    ++unitsPopped_;
}

}  // namespace fluxmere::transcode
