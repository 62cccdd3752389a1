// The generic resize kernels built for AVX2 (the wide-vector slot of variant 4). The compiler's
// vectoriser then works on eight floats at a time; without fused multiply-adds every value is
// the one the generic build computes.

#define FLUXMERE_RESIZE_KERNELS avx2
#include "decode/resize/resize_generic.cpp"
