// Internals of the radix-2 transform that its tests reach: the bit-reversal step and the choice of
// butterfly kernel. Not part of the fft/ contract; fft/fft.h is.
#pragma once

#include <complex>

namespace wavproc::detail {

// The ways the butterfly passes can be run. Every kernel gives the same bits; they differ in speed.
enum class FftKernel {
  portable,  // one butterfly at a time in plain double arithmetic
  sse2,      // one butterfly per 128-bit vector operation
  avx,       // two butterflies per 256-bit vector operation
};

// True when this build and this processor can run `kernel`.
bool fft_kernel_available(FftKernel kernel);

// The kernel wvfast uses on this processor: the widest one available.
FftKernel fft_kernel_chosen();

// wvfast with the butterfly passes run by `kernel`, which must be available; same contract otherwise.
void wvfast_with(FftKernel kernel, int n, std::complex<double>* a, int mom, int ind);

// The twiddle that the butterfly passes use at 0-based position k of the pass of half-span kmax
// (1 <= kmax <= 16384) in direction ind: cos φ + I·sin φ with φ = double(k·ind)·pai/kmax.
std::complex<double> tabulated_twiddle(int k, int kmax, int ind);

// Reorders a[0..n) so that position r holds the element that was at the bit-reversal of r
// (log2 n bits); n is a power of two, or n <= 1 which changes nothing.
void permute_bit_reversed(int n, std::complex<double>* a);

}  // namespace wavproc::detail
