#pragma once
// The viewer's sound: a ring of four buffers handed to an audio device, one block per delivered
// frame, with no audio thread and no clock of its own. The device (IAudioOutput) drains the ring
// at its own playback rate; a block that finds its slot still playing is dropped.

#include <cstdint>
#include <memory>

#include "container/kelo.h"
#include "platform/sync.h"
#include "player/player_buffer.h"

namespace fluxmere {

constexpr int kAudioSlots = 4;
constexpr uint32_t kAudioBufferBytes = 61440;  // one slot's buffer
constexpr uint32_t kAudioSampleRate = 48000;
constexpr uint32_t kAudioChannels = 2;
constexpr uint32_t kAudioBytesPerSecond = 192000;  // 48000 Hz x 2 channels x 2 bytes
constexpr uint32_t kAudioFrameBytes = 4;           // one sample frame: 2 channels x 2 bytes

// An output device for 48000 Hz, 16-bit, stereo PCM (least significant byte first) with four
// slots. Slot i always plays the buffer given to Open for it. A slot is free when its done flag is
// set; the device sets it (from any thread) once it has played the slot's buffer.
class IAudioOutput {
public:
    virtual ~IAudioOutput() = default;

    // Opens the default device and prepares slot i over buffers[i] (capacity bytes each). All
    // slots are free afterwards, also when the device did not open (false); writes then fail.
    virtual bool Open(uint8_t* const* buffers, uint32_t capacity) = 0;
    // The done flag; may be read while the device's own thread sets it.
    virtual bool IsSlotDone(int slot) const = 0;
    // Clears the slot's done flag and queues length bytes of its buffer. False when the device
    // refused: the done flag then stays cleared, so the slot is never used again until Open.
    virtual bool Write(int slot, uint32_t length) = 0;
    // Stops playing and marks every slot done: afterwards the device reads no buffer.
    virtual void Reset() = 0;
    // Resets and closes the device. Harmless when it is not open.
    virtual void Close() = 0;
};

// OpenAudio, QueueAudioBlock and CloseAudio over four 61440-byte buffers allocated once.
// Queue runs on the receiver thread while Open and Close run on the page's thread; they are
// serialised by a lock of the ring, so a block is never handed to a device that is being closed.
// The sound can be switched off: the device is then closed (a muted viewer holds no output, and
// several viewers of one process never play into one another), and opened again when the sound
// comes back on while a session wants it.
class CAudioRing {
public:
    explicit CAudioRing(IAudioOutput& output);
    ~CAudioRing();  // closes the device
    CAudioRing(const CAudioRing&) = delete;
    CAudioRing& operator=(const CAudioRing&) = delete;

    // False when the buffers could not be allocated (the ring then drops every block).
    bool IsValid() const { return buffers_ != nullptr; }

    // Opens the device with four free slots (only while the sound is on: otherwise when it is
    // switched on). A device that is already open is closed first.
    void OpenAudio();
    // Hands one audio block to the device, never waiting for it: dropped when the ring is closed,
    // when the slot is still queued, when the codec is not "p16S" or when the payload is larger
    // than a buffer. Otherwise the whole sample frames of the payload are byte-swapped into the
    // slot's buffer and written (bytes of a last, partial frame are left out: written, they
    // would shift every later sample of the output); the ring then moves on to the next slot.
    void QueueAudioBlock(const CKeloMediaFrame& header, const uint8_t* payload);
    // Resets the device (so it reads no buffer any more) and closes it. Harmless when closed.
    void CloseAudio();
    // On at construction. Off closes the device and drops every block from then on; on opens it
    // again between an OpenAudio and its CloseAudio.
    void SetSoundOn(bool on);
    bool SoundOn() const;

    bool IsOpen() const;
    uint32_t NextSlot() const;
    // Blocks handed to the device and blocks dropped while the ring was open, since construction.
    uint64_t BlocksQueued() const;
    uint64_t BlocksDropped() const;

private:
    IAudioOutput& output_;
    PlayerBuffer storage_;
    uint8_t* buffers_ = nullptr;  // kAudioSlots x kAudioBufferBytes, in storage_
    mutable platform::CriticalSection lock_;
    void OpenDevice();   // lock_ held
    void CloseDevice();  // lock_ held

    bool open_ = false;
    bool wanted_ = false;  // between OpenAudio and CloseAudio
    bool soundOn_ = true;
    uint32_t waveIndex_ = 0;
    uint64_t blocksQueued_ = 0;
    uint64_t blocksDropped_ = 0;
};

}  // namespace fluxmere
