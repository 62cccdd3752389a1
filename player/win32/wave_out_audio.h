#pragma once
// The system's wave output (waveOut*) as the viewer's audio device. Windows only.

#ifdef _WIN32

#include <cstdint>

#include "player/audio_output.h"

namespace fluxmere {

class CWaveOutAudioOutput : public IAudioOutput {
public:
    CWaveOutAudioOutput();
    ~CWaveOutAudioOutput() override;
    CWaveOutAudioOutput(const CWaveOutAudioOutput&) = delete;
    CWaveOutAudioOutput& operator=(const CWaveOutAudioOutput&) = delete;

    bool Open(uint8_t* const* buffers, uint32_t capacity) override;
    bool IsSlotDone(int slot) const override;
    bool Write(int slot, uint32_t length) override;
    void Reset() override;
    void Close() override;

    bool IsOpen() const { return device_ != nullptr; }

private:
    struct Headers;  // the four WAVEHDR records, kept out of this header (no <windows.h> here)

    void* device_ = nullptr;  // HWAVEOUT
    Headers* headers_;
};

}  // namespace fluxmere

#endif  // _WIN32
