// A coarse fingerprint of a whole picture: the mean luma of a grid of blocks. Two captures of
// one tape give nearly the same fingerprints frame by frame, whatever their noise or a small
// difference of level, which lets a comparison line them up without looking at the line.
#pragma once
#include <cstdint>

constexpr int kSignatureColumns = 8;
constexpr int kSignatureRows = 6;
constexpr int kSignatureBlocks = kSignatureColumns * kSignatureRows;

struct FrameSignature {
  uint8_t block[kSignatureBlocks] = {};  // row by row from the top left, sample levels 0..255
  bool valid = false;                    // false: not taken (the run did not ask, or the layout is unknown)
};

// One component of a decoded picture as it lies in memory: each sample `bytes` (1 or 2, native
// order) wide, `step` bytes apart in a row, the value `shift` bits up and `depth` bits deep.
struct SampleComponent {
  const uint8_t* data = nullptr;
  int pitch = 0;
  int step = 1;
  int bytes = 1;
  int shift = 0;
  int depth = 8;
};

// The signature of a width x height picture from its luma (one component) or from its red,
// green and blue (three); an invalid one where the inputs make no sense.
FrameSignature SignatureOf(const SampleComponent* components, int count, int width, int height);
