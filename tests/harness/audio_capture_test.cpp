// The wave output under Wine reaches the per-test capture file byte for byte (then only the
// silence Wine plays until the close), so audio tests can compare what was played with what was
// sent.

#include <winsock2.h>
#include <windows.h>
#include <mmsystem.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "tests/support/wine_environment.h"

namespace fluxmere::testing {
namespace {

constexpr DWORD kRate = 48000;
constexpr WORD kChannels = 2;
constexpr WORD kBitsPerSample = 16;
constexpr size_t kOneSecond = kRate * kChannels * (kBitsPerSample / 8);

// A pattern in which no two neighbouring samples repeat, so a lost, doubled or shifted block
// shows up as a mismatch.
std::vector<uint8_t> MakePattern(size_t size) {
    std::vector<uint8_t> bytes(size);
    uint32_t state = 0x12345678u;
    for (size_t i = 0; i < size; ++i) {
        state = state * 1664525u + 1013904223u;
        bytes[i] = static_cast<uint8_t>(state >> 24);
    }
    return bytes;
}

TEST(AudioCapture, PlayedBytesArriveUnchanged) {
    WAVEFORMATEX format = {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = kChannels;
    format.nSamplesPerSec = kRate;
    format.wBitsPerSample = kBitsPerSample;
    format.nBlockAlign = kChannels * (kBitsPerSample / 8);
    format.nAvgBytesPerSec = kRate * format.nBlockAlign;

    HANDLE done = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(done, nullptr);
    HWAVEOUT wave = nullptr;
    ASSERT_EQ(waveOutOpen(&wave, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(done), 0,
                          CALLBACK_EVENT),
              MMSYSERR_NOERROR);

    std::vector<uint8_t> pattern = MakePattern(kOneSecond);
    WAVEHDR header = {};
    header.lpData = reinterpret_cast<LPSTR>(pattern.data());
    header.dwBufferLength = static_cast<DWORD>(pattern.size());
    ASSERT_EQ(waveOutPrepareHeader(wave, &header, sizeof header), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(wave, &header, sizeof header), MMSYSERR_NOERROR);

    // The event also fires on open; wait (bounded) until the block itself is done.
    for (int i = 0; i < 100 && (header.dwFlags & WHDR_DONE) == 0; ++i) {
        WaitForSingleObject(done, 100);
    }
    EXPECT_NE(header.dwFlags & WHDR_DONE, 0u);
    waveOutUnprepareHeader(wave, &header, sizeof header);
    EXPECT_EQ(waveOutClose(wave), MMSYSERR_NOERROR);
    CloseHandle(done);

    EXPECT_TRUE(PlayedThenSilence(ReadAudioCapture(), pattern, format.nBlockAlign));
}

}  // namespace
}  // namespace fluxmere::testing
