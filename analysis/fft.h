// The complex transform: radix-2 decimation in frequency plus bit reversal, no scaling. Included
// by spectrum.h; the real line's transform on top of it is fft_real.h.
#pragma once

struct SpectrumTables;

// In place, direction 1 is the forward transform. n must be a power of two (others are left
// alone). The result is always 0.
int Fft(double* re, double* im, int n, int direction);
// The same transform for n = 2048, direction 1, from precomputed tables.
void Fft2048(double* re, double* im, const SpectrumTables& tables);
