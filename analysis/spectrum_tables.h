// The spectrum's tables and the vector width its work runs at. Included by spectrum.h; the
// tables' contents are spectrum_tables_layout.h's, for the analysis files that read them.
#pragma once

constexpr int kFftPoints = 2048;

enum WindowFunctionCode { WindowNone = 0, WindowHamming = 1, WindowHanning = 2, WindowBlackman = 3 };

// Twiddles of every stage, the bit-reversal swaps and the window weights of the 2048-point
// transform: identical on every frame, so built once per frame format. Using them gives
// bit-identical results to computing everything per call.
struct SpectrumTables;

// The vector width the work runs at. Every path gives the same bits; Avx only where the processor
// has it and the operating system saves its registers.
enum class SpectrumPath { Scalar, Sse2, Avx };
SpectrumPath BestSpectrumPath();

// null when memory is short. allowWideVectors false keeps to the two-lane path.
SpectrumTables* CreateSpectrumTables(bool allowWideVectors = true);
// A path the machine lacks falls back to Sse2 (for tests forcing each path).
SpectrumTables* CreateSpectrumTables(SpectrumPath path);
SpectrumPath TablesPath(const SpectrumTables& tables);
void DestroySpectrumTables(SpectrumTables* tables);
