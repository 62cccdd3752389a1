// The camera wall's portable rules: the URL list, the grid and its cells, snapshot names, and the
// repeated --url flag.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/camera_wall.h"
#include "tools/cli_args.h"

namespace fluxmere::tools {
namespace {

TEST(CameraWall, UrlListKeepsOneUrlALineWithoutCommentsAndBlanks) {
    const std::string text =
        "# the yard\r\n"
        "rtsp://127.0.0.1/live\r\n"
        "\r\n"
        "   rtsp://127.0.0.2/live   # gate, behind the shed\n"
        "\t# rtsp://127.0.0.3/live\n"
        "rtsp://127.0.0.4/a#b\n"
        "rtsp://127.0.0.5/live";  // no line end at the end
    EXPECT_EQ(ReadUrlList(text),
              (std::vector<std::string>{"rtsp://127.0.0.1/live", "rtsp://127.0.0.2/live",
                                        "rtsp://127.0.0.4/a#b", "rtsp://127.0.0.5/live"}));
    EXPECT_TRUE(ReadUrlList("").empty());
    EXPECT_TRUE(ReadUrlList("\n# nothing\n  \n").empty());
}

TEST(CameraWall, TheGridFollowsTheCountAndItsCellsShareTheArea) {
    const int sides[][2] = {{1, 1}, {2, 2}, {4, 2}, {5, 3}, {9, 3}, {10, 4}, {16, 4}};
    for (const auto& c : sides) {
        SCOPED_TRACE(c[0]);
        EXPECT_EQ(WallSide(c[0]), c[1]);
    }
    // Every pixel of an area that does not divide evenly lies in exactly the cell that says so.
    for (int side : {1, 2, 3, 4}) {
        SCOPED_TRACE(side);
        const int width = 643, height = 485;
        std::vector<int> owners(static_cast<size_t>(width) * height, -1);
        for (int index = 0; index < side * side; ++index) {
            const WallRect cell = WallCell(index, side, width, height);
            for (int y = cell.top; y < cell.bottom; ++y) {
                for (int x = cell.left; x < cell.right; ++x) {
                    ASSERT_EQ(owners[static_cast<size_t>(y) * width + x], -1) << x << "," << y;
                    owners[static_cast<size_t>(y) * width + x] = index;
                }
            }
        }
        for (int y = 0; y < height; y += 7) {
            for (int x = 0; x < width; x += 5)
                ASSERT_EQ(WallCellAt(x, y, side, width, height), owners[y * width + x]);
        }
        EXPECT_EQ(WallCellAt(width - 1, height - 1, side, width, height), side * side - 1);
    }
    EXPECT_EQ(WallCellAt(640, 10, 2, 640, 480), -1);
    EXPECT_EQ(WallCellAt(-1, 10, 2, 640, 480), -1);

    // The strip under the picture; a cell lower than the strip keeps a picture of one row.
    const WallRect cell = WallCell(3, 2, 640, 480);
    EXPECT_EQ(WallPicture(cell).bottom, 480 - kWallStripHeight);
    EXPECT_EQ(WallStrip(cell).top, 480 - kWallStripHeight);
    EXPECT_EQ(WallStrip(cell).bottom, 480);
    const WallRect low{0, 0, 100, 10};
    EXPECT_EQ(WallPicture(low).height(), 1);
}

TEST(CameraWall, SnapshotNamesTellTheCameraAndTheTime) {
    std::tm time = {};
    time.tm_year = 2025 - 1900;
    time.tm_mon = 2;
    time.tm_mday = 1;
    time.tm_hour = 14;
    time.tm_min = 5;
    time.tm_sec = 2;
    EXPECT_EQ(SnapshotName("rtsp://127.0.0.5/live", time), "127.0.0.5_live_20250301-140502.png");
    EXPECT_EQ(SnapshotName("rtsp://cam-2.local/a/b?x=1", time),
              "cam-2.local_a_b_x_1_20250301-140502.png");
    EXPECT_EQ(SnapshotName("rtsp://10.0.0.1/", time), "10.0.0.1_20250301-140502.png");
}

TEST(CameraWall, RepeatedFlagsKeepEveryValue) {
    const std::vector<cli::FlagSpec> flags = {{"url", true, ""}, {"seconds", true, ""}};
    const char* argv[] = {"viewer", "--url", "a", "--seconds", "2", "--url=b", "--url", "c"};
    cli::Args args;
    ASSERT_TRUE(args.Parse(8, const_cast<char**>(argv), 1, flags)) << args.error();
    EXPECT_EQ(args.GetAll("url"), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(args.Get("url"), "c");
    EXPECT_TRUE(args.GetAll("size").empty());
}

}  // namespace
}  // namespace fluxmere::tools
