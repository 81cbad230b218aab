// Two captures lined up from their pictures' signatures alone: synthetic "tapes" whose blocks
// move at their own pace, captured twice with frames lost, repeated, cut at either end, with
// noise and another level in the second capture.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "cli/results/alignment.h"

namespace {

// Frame t of a tape: every block a slow wave of its own frequency, so no two frames look alike.
FrameSignature TapeFrame(int t, int seed, bool moving = true) {
  FrameSignature s;
  for (int k = 0; k < kSignatureBlocks; ++k) {
    const double w = 0.1 + 0.5 * std::fmod((k + 1) * 0.618034 * (seed + 1), 1.0);
    const double v = 128 + 90 * std::sin(w * (moving ? t : 0) + k * 1.3 + seed);
    s.block[k] = static_cast<uint8_t>(std::lround(v));
  }
  s.valid = true;
  return s;
}

// A capture: the tape's frames named, with another gain and level and some noise where asked.
Signatures Capture(const std::vector<int>& frames, int seed, bool deck2, bool moving = true) {
  Signatures out;
  uint32_t random = 12345;
  for (int t : frames) {
    FrameSignature s = TapeFrame(t, seed, moving);
    for (uint8_t& v : s.block) {
      random = random * 1664525u + 1013904223u;
      const int noise = static_cast<int>(random >> 30) - (deck2 ? 1 : 2);
      v = static_cast<uint8_t>(std::clamp<long>(std::lround((deck2 ? 0.93 * v + 9 : v) + noise), 0, 255));
    }
    out.push_back(s);
  }
  return out;
}

std::vector<int> Range(int from, int to) {
  std::vector<int> v;
  for (int t = from; t < to; ++t) v.push_back(t);
  return v;
}

// Edits of a capture's frame list: a tape frame left out, or shown twice.
std::vector<int> Without(std::vector<int> v, int t) {
  v.erase(std::find(v.begin(), v.end(), t));
  return v;
}
std::vector<int> Cut(std::vector<int> v, int from, int count) {
  v.erase(std::find(v.begin(), v.end(), from), std::find(v.begin(), v.end(), from + count));
  return v;
}
std::vector<int> Twice(std::vector<int> v, int t) {
  v.insert(std::find(v.begin(), v.end(), t), t);
  return v;
}

std::string GapsText(const Alignment& r) {
  std::string text;
  for (const FrameGap& g : r.gaps) {
    text += (text.empty() ? "" : "; ") + std::string(1, g.input) + (g.kind == FrameGap::Missing ? " missing " : " repeated ") +
            std::to_string(g.position) + (g.frames > 1 ? "x" + std::to_string(g.frames) : "");
  }
  return text;
}

struct Case {
  const char* name;
  std::vector<int> a, b;
  AlignStatus status;
  int64_t offset;
  std::string gaps;  // capture, kind, position (A's for B missing, B's for A missing and for B's repeats)
  int64_t aLead, bLead, aTail, bTail;
};

TEST(Alignment, FindsOffsetGapsAndSpansWithoutCounterpart) {
  const std::vector<int> tape = Range(0, 300);
  const Case cases[] = {
      {"B starts later", Range(0, 300), Range(7, 300), AlignStatus::Aligned, 7, "", 7, 0, 0, 0},
      {"B starts earlier", Range(10, 300), Range(0, 290), AlignStatus::Aligned, -10, "", 0, 10, 10, 0},
      {"same capture", tape, tape, AlignStatus::Aligned, 0, "", 0, 0, 0, 0},
      {"B lacks a frame near the start", tape, Without(Range(5, 300), 7), AlignStatus::Aligned, 5, "B missing 7", 5, 0,
       0, 0},
      {"B repeats a frame near the start", tape, Twice(Range(3, 300), 4), AlignStatus::Aligned, 3, "B repeated 2", 3, 0,
       0, 0},
      {"B lacks three frames near the end", tape, Cut(tape, 290, 3), AlignStatus::Aligned,
       0, "B missing 290x3", 0, 0, 0, 0},
      {"B repeats the frame before the last", tape, Twice(tape, 298), AlignStatus::Aligned, 0, "B repeated 299", 0, 0, 0,
       0},
      {"a loss and a repeat close together", tape, Twice(Without(tape, 100), 103), AlignStatus::Aligned, 0,
       "B missing 100; B repeated 103", 0, 0, 0, 0},
      {"A lacks a frame B holds", Without(tape, 150), tape, AlignStatus::Aligned, 0, "A missing 150", 0, 0, 0, 0},
      {"A repeats a frame", Twice(tape, 60), tape, AlignStatus::Aligned, 0, "A repeated 61", 0, 0, 0, 0},
      {"B ends early", tape, Range(0, 180), AlignStatus::Aligned, 0, "", 0, 0, 120, 0},
      {"a long span missing in B", tape, Cut(tape, 120, 40), AlignStatus::Aligned, 0, "B missing 120x40", 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Alignment r = Align(Capture(c.a, 0, false), Capture(c.b, 0, true), AlignOptions{});
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.offset, c.offset);
    EXPECT_EQ(GapsText(r), c.gaps);
    EXPECT_EQ(r.aLead, c.aLead);
    EXPECT_EQ(r.bLead, c.bLead);
    EXPECT_EQ(r.aTail, c.aTail);
    EXPECT_EQ(r.bTail, c.bTail);
    EXPECT_GT(r.correlation, 0.7);
  }
}

TEST(Alignment, RefusesWhatCannotBeKnown) {
  AlignOptions given;
  given.offset = 2;
  struct Refusal {
    const char* name;
    Signatures a, b;
    AlignOptions options;
    AlignStatus status;
    size_t pairs;
  } cases[] = {
      {"other tapes", Capture(Range(0, 200), 0, false), Capture(Range(0, 200), 5, true), {}, AlignStatus::NoOverlap, 0},
      {"a still picture", Capture(Range(0, 50), 0, false, false), Capture(Range(0, 50), 0, true, false), {},
       AlignStatus::NoMotion, 0},
      {"a still picture at a given offset", Capture(Range(0, 50), 0, false, false),
       Capture(Range(0, 50), 0, true, false), given, AlignStatus::Aligned, 48},
      {"one frame", Capture({3}, 0, false), Capture({3}, 0, true), {}, AlignStatus::NoOverlap, 0},
  };
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.name);
    const Alignment r = Align(c.a, c.b, c.options);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.pairs.size(), c.pairs);
  }
  EXPECT_LT(Align(cases[0].a, cases[0].b, {}).correlation, 0.5);
}

}  // namespace
