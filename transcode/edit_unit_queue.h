#pragma once
// Puts pictures and sound together into edit units of one picture and the sound of its time
// (1920 sample frames at 25 pictures per second), for containers that store them side by side.
//
// A clip brings a picture and then the sound of that picture's time, in blocks that need not
// match the pictures. Encoded pictures wait here until their sound is complete; the queue holds
// a few of them (their memory is taken once), and when it is full the oldest leaves with what
// sound it has, the rest silent, and the sound that arrives late for it is dropped so that later
// pictures keep their own sound. A clip without a sound track never waits.

#include <cstddef>
#include <cstdint>
#include <memory>

namespace fluxmere::transcode {

class EditUnitQueue {
public:
    static constexpr int kCapacity = 4;

    // False when memory is short.
    bool Configure(size_t pictureBytes, uint32_t soundFramesPerUnit, bool hasSound);

    bool Full() const { return held_ == kCapacity; }
    bool Empty() const { return held_ == 0; }

    // Where the next picture goes (pictureBytes bytes); only while not Full. Commit queues it.
    uint8_t* PictureSlot();
    void CommitPicture();

    // Interleaved 16-bit stereo sample frames, big-endian as clips carry them.
    void AddSound(const uint8_t* bigEndian, uint32_t frames);

    // The oldest picture and its sound, when its sound is complete (or always, with force):
    // soundFramesPerUnit stereo frames, silent where none arrived. Pop removes it.
    bool Front(bool force, const uint8_t** picture, const int16_t** stereo);
    void Pop();

private:
    size_t pictureBytes_ = 0;
    uint32_t unitFrames_ = 0;
    bool hasSound_ = true;
    std::unique_ptr<uint8_t[]> pictures_;
    int first_ = 0;  // slot of the oldest picture
    int held_ = 0;
    // Sound by absolute frame number: frames [0, soundEnd_) have arrived (or were given up);
    // the ring holds the frames from the oldest held unit's start on.
    std::unique_ptr<int16_t[]> ring_;
    uint32_t ringFrames_ = 0;
    uint64_t unitsPopped_ = 0;
    uint64_t soundEnd_ = 0;
    uint64_t dropFrames_ = 0;  // frames still to drop: they belong to units that left without
    std::unique_ptr<int16_t[]> front_;  // the front unit's sound, gathered from the ring
};

}  // namespace fluxmere::transcode
