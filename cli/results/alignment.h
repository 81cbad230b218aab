// Two captures of one tape lined up frame by frame from their pictures' signatures: where B
// starts in A, the frames one of them lacks or repeats, and the spans with no counterpart.
// Plain functions over the two sequences; positions count the frames each run delivered.
#pragma once
#include <cstdint>
#include <optional>
#include <vector>

#include "cli/results/frame_signature.h"

struct AlignOptions {
  int window = 150;        // frames at the start of one capture searched for in the other
  int maxSkip = 8;         // frames lost or added in a row that the following still bridges
  int lookahead = 3;       // pairs that confirm each step
  double minCorrelation = 0.5;  // below: the captures do not overlap
  double stillLevel = 2.0;      // no block's mean moves more (standard deviation, levels): no motion
  std::optional<int64_t> offset;  // given (--offset): no search, and a still picture is taken as is
};

enum class AlignStatus { Aligned, NoOverlap, NoMotion };

struct FrameGap {
  char input = 'B';  // the capture that lacks or repeats the frames
  enum Kind { Missing, Repeated } kind = Missing;
  int64_t position = 0;  // missing: the other capture's first frame it lacks; repeated: its own frame
  int64_t frames = 1;    // how many in a row
};

struct AlignedPair {
  int64_t a = 0, b = 0;
};

struct Alignment {
  AlignStatus status = AlignStatus::NoOverlap;
  double correlation = 0.0;  // of the picture's changes at the offset found (the best one where none fits)
  int64_t offset = 0;        // A's position that B's first shows; negative: B's position of A's first, negated
  std::vector<AlignedPair> pairs;
  std::vector<FrameGap> gaps;  // inside the overlap, in order
  // Frames with no counterpart before the first pair and after the last.
  int64_t aLead = 0, bLead = 0, aTail = 0, bTail = 0;
};

using Signatures = std::vector<FrameSignature>;

// How unlike two pictures are, once each has its own level and contrast taken out: 0 for the
// same picture; about 1.1 for unrelated ones.
double SignatureDistance(const FrameSignature& x, const FrameSignature& y);
// The largest standard deviation over time of any block: how much the picture moves.
double Motion(const Signatures& s);
// The correlation of the picture's frame-to-frame changes with B shifted by `offset` (A's
// position = B's + offset), over at most `window` pairs from the start of the overlap.
double ChangeCorrelation(const Signatures& a, const Signatures& b, int64_t offset, int window);

Alignment Align(const Signatures& a, const Signatures& b, const AlignOptions& options);
