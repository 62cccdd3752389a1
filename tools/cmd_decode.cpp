// fluxmere decode: one Motion-JPEG payload into raw planes and/or a PNG picture.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "decode/jpeg_decoder.h"
#include "decode/primitives.h"
#include "tools/cli_args.h"
#include "tools/commands.h"
#include "tools/png_file.h"

namespace fluxmere::cli {

namespace {

const std::vector<FlagSpec> kFlags = {
    {"width", true, "W       picture width in pixels (1..4096)"},
    {"height", true, "H       picture height in pixels (1..4096)"},
    {"planes", true, "PREFIX  write PREFIX.y, PREFIX.cb, PREFIX.cr (raw bytes)"},
    {"png", true, "FILE    write the converted picture, W x H, as PNG"},
    {"help", false, "        show this help"},
};

bool WriteFile(const std::string& path, const uint8_t* data, size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool written = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && written;
}

}  // namespace

int RunDecode(int argc, char** argv) {
    const CommandSpec spec = {
        "decode", "fluxmere decode PAYLOAD --width W --height H [--planes PREFIX] [--png FILE]",
        "Decodes the entropy-coded data of one picture (a video block's payload).\n"
        "Planes are W16 (the width rounded up to 16) and W16/2 bytes wide, with\n"
        "8 x floor(H/8) rows.",
        kFlags};
    Args args;
    int exitStatus = 0;
    if (!StartCommand(spec, argc, argv, &args, &exitStatus))
        return exitStatus;
    if (args.positional().size() != 1)
        return UsageError("decode", "needs one PAYLOAD file");
    long long width = 0, height = 0;
    if (!args.GetInt("width", 1, 4096, &width) || !args.GetInt("height", 1, 4096, &height)) {
        return UsageError("decode", args.error());
    }
    if (!args.Has("planes") && !args.Has("png")) {
        return UsageError("decode", "nothing to write: give --planes and/or --png");
    }

    std::ifstream in(args.positional()[0], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "fluxmere decode: cannot read %s: %s\n", args.positional()[0].c_str(),
                     std::strerror(errno));
        return 1;
    }
    std::vector<uint8_t> payload((std::istreambuf_iterator<char>(in)),
                                 std::istreambuf_iterator<char>());
    if (payload.size() > 0x7FFFFFFF) {
        std::fprintf(stderr, "fluxmere decode: payload too large\n");
        return 1;
    }

    const int32_t w16 = static_cast<int32_t>(RoundedWidth(width));
    const int32_t rows = static_cast<int32_t>(height / 8 * 8);
    // Unwritten lines (below 8 x floor(H/8)) show as black.
    std::vector<uint8_t> luma(static_cast<size_t>(w16) * height, 16);
    std::vector<uint8_t> cb(static_cast<size_t>(w16 / 2) * height, 128);
    std::vector<uint8_t> cr(static_cast<size_t>(w16 / 2) * height, 128);
    alignas(8) int16_t coefficients[256];
    PlaneCapacities capacities;
    capacities.luma = static_cast<int32_t>(luma.size());
    capacities.firstChroma = static_cast<int32_t>(cb.size());
    capacities.secondChroma = static_cast<int32_t>(cr.size());

    CJPEGDecoder decoder;
    const int32_t status = decoder.Configure(
        static_cast<int32_t>(width), static_cast<int32_t>(height), w16, coefficients, capacities);
    if (status != StatusOk) {
        std::fprintf(stderr, "fluxmere decode: cannot configure the decoder (status %d)\n", status);
        return 1;
    }
    CCompressedSample sample;
    sample.data = payload.data();
    sample.size = static_cast<int32_t>(payload.size());
    uint8_t* planes[3] = {luma.data(), cb.data(), cr.data()};
    decoder.Decode(planes, &sample);
    if (decoder.LastDecodeStatus() != StatusOk) {
        // A grey picture of data that is no payload would look like a result.
        std::fprintf(stderr,
                     "fluxmere decode: %s is not a Motion-JPEG payload of a %lldx%lld picture "
                     "(decoding stopped with status %d); nothing was written\n",
                     args.positional()[0].c_str(), width, height, decoder.LastDecodeStatus());
        return 1;
    }

    if (args.Has("planes")) {
        const std::string prefix = args.Get("planes");
        const size_t chromaBytes = static_cast<size_t>(w16 / 2) * rows;
        if (!WriteFile(prefix + ".y", luma.data(), static_cast<size_t>(w16) * rows) ||
            !WriteFile(prefix + ".cb", cb.data(), chromaBytes) ||
            !WriteFile(prefix + ".cr", cr.data(), chromaBytes)) {
            std::fprintf(stderr, "fluxmere decode: cannot write %s.*\n", prefix.c_str());
            return 1;
        }
    }
    if (args.Has("png")) {
        std::vector<uint8_t> rgb(static_cast<size_t>(w16) * 3 * height);
        const uint8_t* sources[3] = {luma.data(), cb.data(), cr.data()};
        const int32_t strides[3] = {w16, w16 / 2, w16 / 2};
        YCbCr422ToRGB(sources, strides, rgb.data(), w16 * 3, w16, static_cast<int32_t>(height));
        std::string error;
        if (!WritePng(args.Get("png"), rgb.data(), static_cast<int>(width),
                      static_cast<int>(height), w16 * 3, PixelOrder::RGB, &error)) {
            std::fprintf(stderr, "fluxmere decode: %s\n", error.c_str());
            return 1;
        }
    }
    return 0;
}

}  // namespace fluxmere::cli
