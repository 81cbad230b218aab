// Timelines made up for the report's tests and for the browser test's sample page: steady SNR
// with a little frame-to-frame noise, and a dip to about 20 dB where one is asked for.
#pragma once
#include <cmath>
#include <string>
#include <vector>

#include "cli/results/timeline.h"
#include "settings/settings_table.h"
#include "cli/results/recorder.h"

inline Timeline SyntheticTimeline(const std::string& input, int64_t frames, double fps, double dipFrom = -1,
                                  double dipTo = -1) {
  Timeline t;
  t.input = input;
  t.settings = DefaultSettings();
  t.pages = {ModeOscilloscope, ModeSpectrum};
  TimelineRecorder recorder(&t);
  // The line: a ramp from black to white, noisier in the dip.
  std::vector<int32_t> clean(720), noisy(720);
  uint32_t noise = 12345;
  for (int x = 0; x < 720; ++x) {
    noise = noise * 1664525u + 1013904223u;
    clean[x] = 16 + x * 219 / 719 + int((noise >> 28) % 2);
    noisy[x] = 16 + x * 219 / 719 + int((noise >> 24) % 16);
  }
  for (int64_t i = 0; i < frames; ++i) {
    TimelineFrame f;
    f.index = i;
    f.seconds = i / fps;
    const bool dip = f.seconds >= dipFrom && f.seconds <= dipTo;
    for (int c = 0; c < 3; ++c) {
      const double wobble = ((i * 7919 + c * 104729) % 1000) / 1000.0 - 0.5;
      f.snr[c] = (dip ? 20.0 : 40.0 + 2 * c + 3 * std::sin(i * 0.01)) + wobble;
      f.mean[c] = f.snr[c] - wobble;
    }
    const int32_t* line = dip ? noisy.data() : clean.data();
    const int32_t* const samples[3] = {line, line, line};
    recorder.Add(f, samples, 720);
  }
  recorder.Finish();
  return t;
}
