// The radix-2 transform: one in-place routine for both directions.
#pragma once

#include <complex>

namespace wavproc {

// Transforms a[0..n) in place (a[0] is the sequence's element 1): X(q) = sum over p of
// x(p)·exp(ind·2·pai·I·p·q/n) with pai = 3.141592654, without normalisation; ind is -1 (forward)
// or +1 (backward). n must be a power of two not above mom (the capacity of a); n <= 1 leaves a as
// it is. A call outside that contract is a programming error and aborts before touching a.
void wvfast(int n, std::complex<double>* a, int mom, int ind);

}  // namespace wavproc
