// The side-by-side decode lines alone (see decode_peers.h), without Google Benchmark, so that the
// same program builds for i686 (bench/decode/i686) beside libjpeg-turbo built for i686:
//
//   decode_lines [LABEL]
//
// prints, for the four pictures, the variant the processor selects and then the SSE2 variant
// (what the i686 DLL runs on a processor without AVX2):
//   decode 720x576 LABEL: fluxmere <us> us, libjpeg-turbo <us> us, ratio <...> ...
//   decode 720x576 LABEL sse2: fluxmere <us> us, libjpeg-turbo <us> us, ratio <...> ...

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench/decode/decode_peers.h"
#include "bench/side_by_side.h"

int main(int argc, char** argv) {
    using namespace fluxmere;
    using namespace fluxmere::bench;
    const std::string label = argc > 1 ? std::string(" ") + argv[1] : std::string();
    std::vector<std::unique_ptr<OurDecoder>> ours;
    std::vector<std::unique_ptr<Libjpeg>> theirs;
    for (const DecodeCase& d : kDecodeCases) {
        const Encoded& e = Picture(d.width, d.height, d.detail);
        ours.push_back(std::make_unique<OurDecoder>(e));
        theirs.push_back(std::make_unique<Libjpeg>(e));
    }
    for (const Ours variant : {Ours::kSelected, Ours::kSse2}) {
        UseVariant(variant);
        std::printf("Side by side%s (variant %d%s), median CPU time per picture:\n", label.c_str(),
                    variantIndex, ActiveSlot() == kWideVectorSlot ? " with AVX2" : "");
        for (size_t i = 0; i < ours.size(); ++i) {
            OurDecoder* a = ours[i].get();
            Libjpeg* b = theirs[i].get();
            PrintSideBySide(
                kDecodeCases[i].Label() + label + (variant == Ours::kSse2 ? " sse2" : ""),
                "libjpeg-turbo", [a] { a->Decode(); }, [b] { b->DecodeRaw(); },
                [a, b](std::string* agreement) { return CompareDecodes(*a, *b, agreement); });
        }
    }
    return 0;
}
