// Clips into QuickTime movies, read back by ffprobe and ffmpeg: the streams, their format, the
// picture count and duration, every picture decodable and equal to what our decoder makes of the
// same payload; clips fed in any pieces, cut, damaged, or no clip at all.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "container/combined_frame.h"
#include "decode/dispatch.h"
#include "decode/jpeg_decoder.h"
#include "platform/file.h"
#include "tests/support/file_bytes.h"
#include "tests/support/movie_probe.h"
#include "tests/transcode/test_clip.h"
#include "transcode/clip_converter.h"

namespace fluxmere::testing {
namespace {

using transcode::ClipConverter;
using transcode::ConvertResult;

constexpr int kWidth = 352;
constexpr int kHeight = 288;

ConvertResult Convert(const std::vector<uint8_t>& clip, size_t length, size_t piece,
                      MemorySink* sink, uint32_t* pictures = nullptr) {
    ClipConverter converter(sink);
    for (size_t at = 0; at < length; at += piece) {
        if (!converter.Feed(clip.data() + at, std::min(piece, length - at)))
            break;
    }
    const ConvertResult result = converter.Finish();
    if (pictures != nullptr)
        *pictures = converter.pictures();
    return result;
}

std::string SaveMovie(const MemorySink& sink, const std::string& name) {
    return sink.Save(name + ".mov");
}

void ExpectMovieOf(const std::string& path, int pictures) {
    ExpectMjpegMovie(path, kWidth, kHeight, pictures, int64_t{pictures} * 1920);
}

// Our decoder's planes of a payload, laid out as ffmpeg's raw 4:2:2 output (Y, Cb, Cr).
std::vector<uint8_t> OurPicture(const std::vector<uint8_t>& payload) {
    struct alignas(8) WorkArea {
        int16_t values[256];
    } work;
    std::vector<uint8_t> planes(size_t{kWidth} * kHeight * 2);
    uint8_t* pointers[3] = {planes.data(), planes.data() + kWidth * kHeight,
                            planes.data() + kWidth * kHeight * 3 / 2};
    PlaneCapacities capacities{kWidth * kHeight, kWidth * kHeight / 2, kWidth * kHeight / 2};
    CJPEGDecoder decoder;
    EXPECT_EQ(decoder.Configure(kWidth, kHeight, kWidth, work.values, capacities), 0);
    std::vector<uint8_t> data(payload);
    CCompressedSample sample;
    sample.data = data.data();
    sample.size = static_cast<int32_t>(data.size());
    decoder.Decode(pointers, &sample);
    return planes;
}

class MovieTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { SelectProcessorVariant(); }
};

TEST_F(MovieTest, WholeClipBecomesAMovieThatPlayersRead) {
    const TestClip clip = MakeClip(30);
    MemorySink sink;
    uint32_t pictures = 0;
    ASSERT_EQ(Convert(clip.bytes, clip.bytes.size(), clip.bytes.size(), &sink, &pictures),
              ConvertResult::Complete);
    EXPECT_EQ(pictures, 30u);
    const std::string path = SaveMovie(sink, "movie_whole");
    ExpectMovieOf(path, 30);

    // Pictures as ffmpeg decodes them equal ours of the same payload (inverse transforms may
    // round differently: within 1 per sample).
    for (int index : {0, 17, 29}) {
        SCOPED_TRACE(index);
        const std::vector<uint8_t> theirs = DecodedPicture(path, index);
        const std::vector<uint8_t> ours = OurPicture(clip.payloads[index]);
        ASSERT_EQ(theirs.size(), ours.size());
        int worst = 0;
        for (size_t i = 0; i < ours.size(); ++i)
            worst = std::max(worst, std::abs(int{theirs[i]} - int{ours[i]}));
        EXPECT_LE(worst, 1);
    }
    std::remove(path.c_str());
}

TEST_F(MovieTest, PiecesOfAnySizeGiveTheSameMovie) {
    const TestClip clip = MakeClip(12);
    MemorySink whole;
    ASSERT_EQ(Convert(clip.bytes, clip.bytes.size(), clip.bytes.size(), &whole),
              ConvertResult::Complete);
    for (size_t piece : {size_t{1}, size_t{3}, size_t{777}, size_t{65536}, size_t{524288}}) {
        SCOPED_TRACE(piece);
        MemorySink pieces;
        EXPECT_EQ(Convert(clip.bytes, clip.bytes.size(), piece, &pieces), ConvertResult::Complete);
        EXPECT_TRUE(pieces.bytes == whole.bytes);
    }
}

TEST_F(MovieTest, CutClipGivesAMovieOfItsWholePictures) {
    const TestClip clip = MakeClip(10);
    // Cut inside picture 7's payload, inside its block length, and right after picture 7's
    // sound: a cut between two blocks looks like the end of a shorter clip.
    struct Case {
        size_t length;
        ConvertResult result;
        int pictures;
    };
    const Case cases[] = {
        {clip.frameStarts[7] + 200, ConvertResult::Cut, 7},
        {clip.frameStarts[7] + 2, ConvertResult::Cut, 7},
        {clip.frameStarts[8], ConvertResult::Complete, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        MemorySink sink;
        uint32_t pictures = 0;
        EXPECT_EQ(Convert(clip.bytes, c.length, 65536, &sink, &pictures), c.result);
        EXPECT_EQ(pictures, static_cast<uint32_t>(c.pictures));
        const std::string path = SaveMovie(sink, "movie_cut");
        ExpectMovieOf(path, c.pictures);
        std::remove(path.c_str());
    }
}

TEST_F(MovieTest, DamagedClipsAndOtherFilesAreToldApart) {
    const TestClip clip = MakeClip(4);
    // A block whose header length is absurd, after two whole frames: a movie of those two.
    std::vector<uint8_t> damaged(clip.bytes.begin(), clip.bytes.begin() + clip.frameStarts[2]);
    damaged.insert(damaged.end(), {0x7F, 0xFF, 0xFF, 0xFF});
    damaged.resize(damaged.size() + 1000, 0);
    MemorySink sink;
    uint32_t pictures = 0;
    EXPECT_EQ(Convert(damaged, damaged.size(), 4096, &sink, &pictures), ConvertResult::Damaged);
    EXPECT_EQ(pictures, 2u);
    const std::string path = SaveMovie(sink, "movie_damaged");
    ExpectMovieOf(path, 2);
    std::remove(path.c_str());

    // Files that are no clip: nothing reaches the movie.
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    png.resize(5000, 0x41);
    std::vector<uint8_t> noPictures(clip.bytes);
    noPictures[9] = 'x';  // the first track's codec "mjpa" becomes "mxpa"
    std::vector<uint8_t> text(3 << 20, 'a');
    for (const std::vector<uint8_t>* file : {&png, &noPictures, &text}) {
        MemorySink none;
        EXPECT_EQ(Convert(*file, file->size(), 65536, &none), ConvertResult::NotAClip);
        EXPECT_TRUE(none.bytes.empty());
    }
    MemorySink empty;
    EXPECT_EQ(Convert(png, 0, 1, &empty), ConvertResult::NotAClip);
}

}  // namespace
}  // namespace fluxmere::testing
