// What a sidecar file is called and how its keys are spelled: the writer, the reader and the
// run's naming all take them from here.
#pragma once
#include <cstddef>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "cli/results/judge.h"
#include "cli/results/timeline.h"

constexpr const char* kSidecarSuffix = ".lineview.xml.gz";
constexpr size_t kMaxSamples = 1 << 16;  // wider than any line a frame can have here

// The frames whose samples a sidecar keeps, under these names.
struct KeptFrame {
  const char* name;
  LineSamples Timeline::*samples;
};
constexpr KeptFrame kKeptFrames[2] = {{"worst", &Timeline::worst}, {"typical", &Timeline::typical}};

// Every key of a line starts so: "lineview.line23." for row 23, "lineview." for a line alone ("").
std::string LinePrefix(const std::string& name);
// A channel's letter in keys: r, g, b or y, u, v.
char ChannelLetter(const Timeline& t, int c);

// How the frames' SNR was measured, as the format's tags ("lineview.snr_method", and for the
// luminance methods ".low_hz", ".high_hz", ...), and back; a sidecar without them was
// measured the tool window's way.
std::vector<std::pair<std::string, std::string>> SnrMethodTags(const SnrMethod& m);
SnrMethod SnrMethodOf(const std::map<std::string, std::string>& tags);
// The thresholds a run judged with ("lineview.min_snr", ...), and one line's verdict and
// flagged segments under `prefix` ("lineview.verdict", "lineview.segment.1.start", ...): what
// the run said, for those who read the file without lineview; --from judges again.
std::vector<std::pair<std::string, std::string>> ThresholdTags(const Thresholds& limits);
std::vector<std::pair<std::string, std::string>> VerdictTags(const Timeline& t, const Thresholds& limits,
                                                             const std::string& prefix);
// The key of a frame's running read-out: "snr50" (the tool window's 50-frame mean) or "snr1s"
// (a luminance method's one-second power mean).
const char* RunningKey(const SnrMethod& m);
// A frame's picture signature as its tag's value: two hex digits a block; and read back,
// false where the text is not one.
std::string SignatureText(const FrameSignature& s);
bool ParseSignature(const std::string& text, FrameSignature* s);

// Where --sidecar puts an input's file: beside it, or in `dir` when given.
std::string SidecarPath(const std::string& input, const std::string& dir);
