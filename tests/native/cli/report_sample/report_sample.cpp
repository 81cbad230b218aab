// A report of made-up timelines for the browser test, with the JSON summaries a run of lineview
// would print for them:
//   report_sample --report PAGE.html [--plot PICTURE.png] [--min-snr DB] [--inputs N] >SUMMARIES
// --inputs N makes a collection of N inputs (at least the four fixed ones): most pass, some are
// flagged, one in 20 failed and one in 25 cut short.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

#include "cli/output/report.h"
#include "cli/results/summary.h"
#include "report_fixture.h"
#include "cli/results/judge.h"
#include "cli/output/json.h"
#include "cli/output/time_plot.h"

int main(int argc, char** argv) {
  std::string page, plot;
  int inputs = 4;
  ReportOptions options;
  options.limits.minSnr = 30.0;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--report") == 0) page = argv[i + 1];
    if (std::strcmp(argv[i], "--plot") == 0) plot = argv[i + 1];
    if (std::strcmp(argv[i], "--min-snr") == 0) options.limits.minSnr = std::atof(argv[i + 1]);
    if (std::strcmp(argv[i], "--inputs") == 0) inputs = std::atoi(argv[i + 1]);
  }
  if (page.empty()) {
    std::fprintf(stderr, "usage: report_sample --report PAGE.html [--plot PICTURE.png] [--min-snr DB]\n");
    return 2;
  }
  // A name that needs escaping, a dip below the minimum; the built-in signal on a row in YUV.
  std::vector<Timeline> timelines = {SyntheticTimeline("clip <1> & \"2\".mkv", 90 * 25, 25.0, 30.0, 34.0),
                                     SyntheticTimeline("", 20 * 25, 25.0)};
  Timeline& yuv = timelines[1];
  yuv.settings.ColorMode = 1;
  yuv.channelNames = ChannelNames(1);
  yuv.line = 100, yuv.field = 0, yuv.tvLine = 51;

  // Values a sidecar may carry: a noiseless frame, one that measured nothing, 0 frames.
  Timeline odd = SyntheticTimeline("odd.mkv", 50, 25.0);
  odd.frames[10].snr[0] = INFINITY;
  odd.frames[20].snr[1] = NAN;
  timelines.push_back(odd);
  timelines.push_back(SyntheticTimeline("empty.mkv", 0, 25.0));
  for (int i = 4; i < inputs && i < 10000; ++i) {
    const std::string name = "tape " + std::to_string(i) + ".mkv";
    const bool dip = i % 15 == 7;
    Timeline t = SyntheticTimeline(name, 250, 25.0, dip ? 2.0 + i % 5 : -1, dip ? 4.0 + i % 5 : -1);
    if (i % 20 == 9) t = SyntheticTimeline(name, 0, 25.0), t.error = "not a video the decoder knows";
    if (i % 25 == 11) t.complete = false;
    timelines.push_back(t);
  }

  std::string error;
  std::unique_ptr<TextPainter> text = CreateTextPainter(&error);
  std::ofstream(page, std::ios::binary) << ReportHtml(timelines, options, text.get());
  if (!plot.empty() && !WritePng(PlotPicture(timelines, options, text.get()), plot, &error)) {
    std::fprintf(stderr, "report_sample: %s\n", error.c_str());
    return 1;
  }
  for (const Timeline& t : timelines) {
    RunSummary s;
    s.input = t.input;
    s.channelNames = t.channelNames;
    s.line = t.line, s.field = t.field, s.tvLine = t.tvLine;
    s.framesAnalysed = static_cast<int64_t>(t.frames.size());
    s.framesDropped = t.framesDropped;
    for (const TimelineFrame& f : t.frames) {
      for (int c = 0; c < 3; ++c) s.channels[c].Add(f.snr[c]);
    }
    const Verdict v = Judge(t, options.limits);
    std::string json = SummaryJson(s);
    json.resize(json.rfind("\n}"));
    json += ",\n  \"verdict\": \"" + std::string(VerdictName(v)) + "\",\n  \"segments\": [";
    for (size_t i = 0; i < v.segments.size(); ++i) {
      char b[160];
      std::snprintf(b, sizeof b, "%s{\"start\": %.2f, \"end\": %.2f, \"worst\": %.4f, \"channel\": \"%s\"}", i ? ", " : "",
                    v.segments[i].start, v.segments[i].end, v.segments[i].worst, t.channelNames[v.segments[i].channel]);
      json += b;
    }
    std::cout << json << "]\n}\n";
  }
  return 0;
}
