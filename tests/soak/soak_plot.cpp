// Draws the soak's CSV (tests/soak/soak_host.cpp) as a PNG: one panel per resource, top to
// bottom private MiB, handles, GDI objects, USER objects, threads, each line scaled between the
// column's smallest and largest value (a flat line: no change at all), minutes left to right.
// The grey band of each panel is the warm-up, before the first sample the summary compares.
//
//   soak_plot SOAK.csv WARMUP_MINUTES OUT.png

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/png_file.h"

namespace {

constexpr int kWidth = 720;
constexpr int kPanelHeight = 110;
constexpr int kColumns[] = {1, 2, 3, 4, 5};  // of the CSV: private_mib .. threads
constexpr int kPanels = sizeof kColumns / sizeof kColumns[0];
constexpr int kMargin = 8;

struct Canvas {
    std::vector<uint8_t> pixels = std::vector<uint8_t>(kWidth * kPanelHeight * kPanels * 3, 255);
    void Set(int x, int y, uint8_t r, uint8_t g, uint8_t b) {
        if (x < 0 || x >= kWidth || y < 0 || y >= kPanelHeight * kPanels)
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
    if (argc != 4) {
        std::fprintf(stderr, "usage: soak_plot SOAK.csv WARMUP_MINUTES OUT.png\n");
        return 2;
    }
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
        if (row.size() > 5)
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
    Canvas canvas;
    for (int panel = 0; panel < kPanels; ++panel) {
        const int top = panel * kPanelHeight;
        for (int x = 0; x < kWidth; ++x)
            canvas.Set(x, top + kPanelHeight - 1, 0x80, 0x80, 0x80);
        for (int y = top; y < top + kPanelHeight - 1; ++y)
            for (int x = kMargin; x < xOf(std::min(warmUp, lastMinute)); ++x)
                canvas.Set(x, y, 0xE8, 0xE8, 0xE8);
        double low = rows[0][kColumns[panel]], high = low;
        for (const auto& row : rows) {
            low = std::min(low, row[kColumns[panel]]);
            high = std::max(high, row[kColumns[panel]]);
        }
        auto yOf = [&](double value) {
            const double span = high > low ? (value - low) / (high - low) : 0.5;
            return top + kPanelHeight - kMargin -
                   static_cast<int>(span * (kPanelHeight - 2 * kMargin));
        };
        for (size_t i = 1; i < rows.size(); ++i)
            canvas.Line(xOf(rows[i - 1][0]), yOf(rows[i - 1][kColumns[panel]]), xOf(rows[i][0]),
                        yOf(rows[i][kColumns[panel]]));
    }
    std::string error;
    if (!fluxmere::cli::WritePng(argv[3], canvas.pixels.data(), kWidth, kPanelHeight * kPanels,
                                 kWidth * 3, fluxmere::cli::PixelOrder::RGB, &error)) {
        std::fprintf(stderr, "soak_plot: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
