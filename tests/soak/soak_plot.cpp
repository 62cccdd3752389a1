// Draws a soak's CSV (tests/soak/soak_host.cpp, native_soak.cpp) as a PNG: one panel per column
// named, top to bottom (by default 1-5 of soak_host's: private MiB, handles, GDI objects, USER
// objects, threads), each line scaled between the column's smallest and largest value (a flat
// line: no change at all), minutes left to right. The grey band of each panel is the warm-up,
// before the first sample the summary compares.
//
//   soak_plot SOAK.csv WARMUP_MINUTES OUT.png [COLUMNS]   (COLUMNS: e.g. "1,2,3,4,5")

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/png_file.h"

namespace {

constexpr int kWidth = 720;
constexpr int kPanelHeight = 110;
constexpr int kMaxPanels = 8;
constexpr int kMargin = 8;

struct Canvas {
    explicit Canvas(int panels)
        : height(kPanelHeight * panels), pixels(static_cast<size_t>(kWidth) * height * 3, 255) {}
    int height;
    std::vector<uint8_t> pixels;
    void Set(int x, int y, uint8_t r, uint8_t g, uint8_t b) {
        if (x < 0 || x >= kWidth || y < 0 || y >= height)
            return;
        uint8_t* p = &pixels[(static_cast<size_t>(y) * kWidth + x) * 3];
        p[0] = r;
        p[1] = g;
        p[2] = b;
    }
    void Line(int x0, int y0, int x1, int y1) {
        const int steps = std::max(std::abs(x1 - x0), std::abs(y1 - y0)) + 1;
        for (int i = 0; i <= steps; ++i)
            Set(x0 + (x1 - x0) * i / steps, y0 + (y1 - y0) * i / steps, 0x20, 0x40, 0xC0);
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: soak_plot SOAK.csv WARMUP_MINUTES OUT.png [COLUMNS]\n");
        return 2;
    }
    std::vector<int> columns;
    std::stringstream list(argc == 5 ? argv[4] : "1,2,3,4,5");
    for (std::string column; std::getline(list, column, ',');) {
        const int index = std::atoi(column.c_str());
        if (index < 1 || columns.size() == kMaxPanels) {
            std::fprintf(stderr, "soak_plot: columns are 1 to 8 numbers from 1, not %s\n", argv[4]);
            return 2;
        }
        columns.push_back(index);
    }
    const int panels = static_cast<int>(columns.size());
    const size_t needed = static_cast<size_t>(*std::max_element(columns.begin(), columns.end()));
    std::ifstream in(argv[1]);
    std::string line;
    std::getline(in, line);  // the names
    std::vector<std::vector<double>> rows;
    while (std::getline(in, line)) {
        std::vector<double> row;
        std::stringstream fields(line);
        std::string field;
        while (std::getline(fields, field, ','))
            row.push_back(std::atof(field.c_str()));
        if (row.size() > needed)
            rows.push_back(row);
    }
    if (rows.size() < 2) {
        std::fprintf(stderr, "soak_plot: fewer than two samples in %s\n", argv[1]);
        return 1;
    }
    const double warmUp = std::atof(argv[2]);
    const double lastMinute = std::max(rows.back()[0], 1e-9);
    auto xOf = [&](double minute) {
        return kMargin + static_cast<int>(minute / lastMinute * (kWidth - 2 * kMargin));
    };
    Canvas canvas(panels);
    for (int panel = 0; panel < panels; ++panel) {
        const int column = columns[panel];
        const int top = panel * kPanelHeight;
        for (int x = 0; x < kWidth; ++x)
            canvas.Set(x, top + kPanelHeight - 1, 0x80, 0x80, 0x80);
        for (int y = top; y < top + kPanelHeight - 1; ++y)
            for (int x = kMargin; x < xOf(std::min(warmUp, lastMinute)); ++x)
                canvas.Set(x, y, 0xE8, 0xE8, 0xE8);
        double low = rows[0][column], high = low;
        for (const auto& row : rows) {
            low = std::min(low, row[column]);
            high = std::max(high, row[column]);
        }
        auto yOf = [&](double value) {
            const double span = high > low ? (value - low) / (high - low) : 0.5;
            return top + kPanelHeight - kMargin -
                   static_cast<int>(span * (kPanelHeight - 2 * kMargin));
        };
        for (size_t i = 1; i < rows.size(); ++i)
            canvas.Line(xOf(rows[i - 1][0]), yOf(rows[i - 1][column]), xOf(rows[i][0]),
                        yOf(rows[i][column]));
    }
    std::string error;
    if (!fluxmere::cli::WritePng(argv[3], canvas.pixels.data(), kWidth, canvas.height, kWidth * 3,
                                 fluxmere::cli::PixelOrder::RGB, &error)) {
        std::fprintf(stderr, "soak_plot: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
