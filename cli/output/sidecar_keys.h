// What a sidecar file is called and how its keys are spelled: the writer, the reader and the
// run's naming all take them from here.
#pragma once
#include <cstddef>
#include <string>

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

// Where --sidecar puts an input's file: beside it, or in `dir` when given.
std::string SidecarPath(const std::string& input, const std::string& dir);
