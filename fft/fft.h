// The radix-2 transform, one in-place routine for both directions, and the modulus of its lines.
#pragma once

#include <complex>

namespace wavproc {

// Transforms a[0..n) in place (a[0] is the sequence's element 1): X(q) = sum over p of
// x(p)·exp(ind·2·pai·I·p·q/n) with pai = 3.141592654, without normalisation; ind is -1 (forward)
// or +1 (backward). Every twiddle's parts are the doubles nearest to the exact cosine and sine of
// its angle, so the result is the same on every platform with IEEE-754 doubles. n must be a power
// of two not above mom (the capacity of a) nor above 32768; n <= 1 leaves a as it is. A call
// outside that contract is a programming error and aborts before touching a.
void wvfast(int n, std::complex<double>* a, int mom, int ind);

// The modulus |z| = sqrt(re² + im²) rounded to the nearest double (ties to even), without overflow
// or underflow on the way: +infinity when a part is infinite, NaN when a part is NaN and none is
// infinite.
double modulus(std::complex<double> z);

// out[0] = modulus(a) and out[1] = modulus(b), the same bits, the two formed side by side.
void modulus_pair(std::complex<double> a, std::complex<double> b, double* out);

}  // namespace wavproc
