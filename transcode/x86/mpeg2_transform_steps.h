#pragma once
// The forward transform's vector steps, written once for the SSE2 and the AVX2 variants. `Ops`
// is a file's own set of operations on its vector type `Ops::V` (16-bit lanes, worked on within
// each 128-bit half): each variant's file defines it in an unnamed namespace, so the two
// instantiations never meet.

#include "transcode/mpeg2_intra_kernels.h"

namespace fluxmere::transcode::mpeg2::x86 {

// Results of a pass: the 32-bit sums lo (lanes 0..3 of each half) and hi (lanes 4..7), rounded,
// shifted and packed back to 16 bits.
template <class Ops, int kShift>
[[gnu::always_inline]] inline typename Ops::V Narrow(typename Ops::V lo, typename Ops::V hi) {
    const typename Ops::V round = Ops::Set32(1 << (kShift - 1));
    return Ops::Pack32(Ops::template Shift32<kShift>(Ops::Add32(lo, round)),
                       Ops::template Shift32<kShift>(Ops::Add32(hi, round)));
}

// An even output: x * a + y * b over the interleaved pairs (x, y) of lo and hi.
template <class Ops, int kShift>
[[gnu::always_inline]] inline typename Ops::V Even(typename Ops::V lo, typename Ops::V hi, int a,
                                                   int b) {
    const typename Ops::V pair = Ops::Pair(a, b);
    return Narrow<Ops, kShift>(Ops::Madd(lo, pair), Ops::Madd(hi, pair));
}

// An odd output: d0 * a + d1 * b + d2 * c + d3 * d over the pairs (d0, d1) and (d2, d3).
template <class Ops, int kShift>
[[gnu::always_inline]] inline typename Ops::V Odd(typename Ops::V lo01, typename Ops::V lo23,
                                                  typename Ops::V hi01, typename Ops::V hi23, int a,
                                                  int b, int c, int d) {
    const typename Ops::V first = Ops::Pair(a, b), second = Ops::Pair(c, d);
    return Narrow<Ops, kShift>(Ops::Add32(Ops::Madd(lo01, first), Ops::Madd(lo23, second)),
                               Ops::Add32(Ops::Madd(hi01, first), Ops::Madd(hi23, second)));
}

// The 8-point transform of the generic code along the registers (each lane one line), in place.
template <class Ops, int kShift>
[[gnu::always_inline]] inline void Transform8(typename Ops::V r[8]) {
    using V = typename Ops::V;
    using namespace dct;
    const V s0 = Ops::Add16(r[0], r[7]), d0 = Ops::Sub16(r[0], r[7]);
    const V s1 = Ops::Add16(r[1], r[6]), d1 = Ops::Sub16(r[1], r[6]);
    const V s2 = Ops::Add16(r[2], r[5]), d2 = Ops::Sub16(r[2], r[5]);
    const V s3 = Ops::Add16(r[3], r[4]), d3 = Ops::Sub16(r[3], r[4]);
    const V e0 = Ops::Add16(s0, s3), e1 = Ops::Add16(s1, s2);
    const V e2 = Ops::Sub16(s0, s3), e3 = Ops::Sub16(s1, s2);

    const V e01l = Ops::UnpackLo16(e0, e1), e01h = Ops::UnpackHi16(e0, e1);
    const V e23l = Ops::UnpackLo16(e2, e3), e23h = Ops::UnpackHi16(e2, e3);
    r[0] = Even<Ops, kShift>(e01l, e01h, kA, kA);
    r[4] = Even<Ops, kShift>(e01l, e01h, kA, -kA);
    r[2] = Even<Ops, kShift>(e23l, e23h, kB, kC);
    r[6] = Even<Ops, kShift>(e23l, e23h, kC, -kB);

    const V d01l = Ops::UnpackLo16(d0, d1), d01h = Ops::UnpackHi16(d0, d1);
    const V d23l = Ops::UnpackLo16(d2, d3), d23h = Ops::UnpackHi16(d2, d3);
    r[1] = Odd<Ops, kShift>(d01l, d23l, d01h, d23h, kC1, kC3, kC5, kC7);
    r[3] = Odd<Ops, kShift>(d01l, d23l, d01h, d23h, kC3, -kC7, -kC1, -kC5);
    r[5] = Odd<Ops, kShift>(d01l, d23l, d01h, d23h, kC5, -kC1, kC7, kC3);
    r[7] = Odd<Ops, kShift>(d01l, d23l, d01h, d23h, kC7, -kC5, kC3, -kC1);
}

// Transposes the 8x8 block of 16-bit lanes (in each 128-bit half) in place.
template <class Ops>
[[gnu::always_inline]] inline void Transpose8(typename Ops::V r[8]) {
    using V = typename Ops::V;
    const V t0 = Ops::UnpackLo16(r[0], r[1]), t1 = Ops::UnpackHi16(r[0], r[1]);
    const V t2 = Ops::UnpackLo16(r[2], r[3]), t3 = Ops::UnpackHi16(r[2], r[3]);
    const V t4 = Ops::UnpackLo16(r[4], r[5]), t5 = Ops::UnpackHi16(r[4], r[5]);
    const V t6 = Ops::UnpackLo16(r[6], r[7]), t7 = Ops::UnpackHi16(r[6], r[7]);
    const V u0 = Ops::UnpackLo32(t0, t2), u1 = Ops::UnpackHi32(t0, t2);
    const V u2 = Ops::UnpackLo32(t1, t3), u3 = Ops::UnpackHi32(t1, t3);
    const V u4 = Ops::UnpackLo32(t4, t6), u5 = Ops::UnpackHi32(t4, t6);
    const V u6 = Ops::UnpackLo32(t5, t7), u7 = Ops::UnpackHi32(t5, t7);
    r[0] = Ops::UnpackLo64(u0, u4);
    r[1] = Ops::UnpackHi64(u0, u4);
    r[2] = Ops::UnpackLo64(u1, u5);
    r[3] = Ops::UnpackHi64(u1, u5);
    r[4] = Ops::UnpackLo64(u2, u6);
    r[5] = Ops::UnpackHi64(u2, u6);
    r[6] = Ops::UnpackLo64(u3, u7);
    r[7] = Ops::UnpackHi64(u3, u7);
}

// Both passes: rows of (pixel - 128) in, the block's coefficients out, transposed (register k
// holds horizontal frequency k, its lanes the vertical frequencies).
template <class Ops>
[[gnu::always_inline]] inline void ForwardTransform(typename Ops::V r[8]) {
    Transform8<Ops, dct::kFirstShift>(r);
    Transpose8<Ops>(r);
    Transform8<Ops, dct::kSecondShift>(r);
}

// The scan order gathered from the transform's registers with byte shuffles: output vector j
// (scan positions 8j..8j+7) is the OR of `count[j]` shuffles, shuffle k taking the lanes it
// needs from register source[j][k] (mask bytes of 0x80 give zero).
struct ScanGather {
    int count[8];
    int source[8][8];
    uint8_t mask[8][8][16];
};

constexpr ScanGather MakeScanGather(const ScanOrder& transposed) {
    ScanGather gather{};
    for (int j = 0; j < 8; ++j) {
        for (int lane = 0; lane < 8; ++lane) {
            const int from = transposed.raster[8 * j + lane];
            int k = 0;
            while (k < gather.count[j] && gather.source[j][k] != from / 8) {
                ++k;
            }
            if (k == gather.count[j]) {
                gather.source[j][k] = from / 8;
                for (uint8_t& byte : gather.mask[j][k]) {
                    byte = 0x80;
                }
                ++gather.count[j];
            }
            gather.mask[j][k][2 * lane] = static_cast<uint8_t>(2 * (from % 8));
            gather.mask[j][k][2 * lane + 1] = static_cast<uint8_t>(2 * (from % 8) + 1);
        }
    }
    return gather;
}

inline constexpr ScanGather kScanGather = MakeScanGather(kTransposedAlternateScan);

}  // namespace fluxmere::transcode::mpeg2::x86
