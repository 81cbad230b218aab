#include "cli/options/cli_options.h"
#include "cli/options/run_settings.h"

#include <gtest/gtest.h>

#include <sstream>

#include "cli_test_util.h"
#include "common/settings_file_text.h"
#include "lineview_version.h"

namespace {

struct Parsed {
  ParseOutcome outcome;
  int exitCode = -1;
  CliOptions options;
  std::string out, err;
};

Parsed Parse(std::vector<std::string> args) {
  Parsed p;
  p.outcome = ParseCommandLine(args, &p.options, &p.exitCode, &p.out, &p.err);
  return p;
}

struct Resolved {
  RunSettings run;
  int status;
  std::string messages;
};

Resolved Resolve(std::vector<std::string> args) {
  Parsed p = Parse(std::move(args));
  EXPECT_EQ(p.outcome, ParseOutcome::Run) << p.err;
  std::ostringstream err;
  Diagnostics diag(err);
  Resolved r{ResolveSettings(p.options, diag), 0, ""};
  r.status = diag.Status();
  r.messages = err.str();
  return r;
}

TEST(CommandLine, FfmpegStyleRawInputOptions) {
  const Parsed p = Parse({"-f", "rawvideo", "-s", "720x576", "-pix_fmt", "yuyv422", "-r", "50", "-"});
  ASSERT_EQ(p.outcome, ParseOutcome::Run) << p.err;
  EXPECT_EQ(p.options.input, "-");
  EXPECT_EQ(p.options.format, "rawvideo");
  EXPECT_EQ(p.options.videoSize, "720x576");
  EXPECT_EQ(p.options.pixelFormat, "yuyv422");
  EXPECT_EQ(p.options.frameRate, "50");
  // -i as ffmpeg users type it, beside plain names.
  const Parsed i = Parse({"-i", "a.mkv", "b.mkv", "-i", "c.ts"});
  ASSERT_EQ(i.outcome, ParseOutcome::Run) << i.err;
  EXPECT_EQ(i.options.inputs, (std::vector<std::string>{"a.mkv", "b.mkv", "c.ts"}));
}

TEST(CommandLine, NamesAndNumbersOfChoices) {
  const Parsed p = Parse({"--color", "YUV", "--window", "blackman", "--style", "points", "--convert", "bgr24",
                          "--page", "Spectrum"});
  ASSERT_EQ(p.outcome, ParseOutcome::Run) << p.err;
  EXPECT_EQ(p.options.colorMode, 1);
  EXPECT_EQ(p.options.window, 3);
  EXPECT_EQ(p.options.style, 2);
  EXPECT_EQ(p.options.convert, 1);
  EXPECT_EQ(p.options.page, "spectrum");
  // Numbers pass, also outside the range: the plug-in takes such values from its file too.
  const Parsed q = Parse({"--window", "7", "--style", "1"});
  ASSERT_EQ(q.outcome, ParseOutcome::Run) << q.err;
  EXPECT_EQ(q.options.window, 7);
  EXPECT_EQ(q.options.style, 1);
}

TEST(CommandLine, BadArgumentsAreUsageErrors) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"--color", "hsv"},
                                             {"--page", "waveform"},
                                             {"--line", "ten"},
                                             {"--every", "0"},
                                             {"--window", "kaiser"},
                                             {"--interval", "5"},
                                             {"--interval", "5:x"},
                                             {"--levels", ":235"},
                                             {"--no-such-option"},
                                             {"--every", "5"},  // pictures of what?
                                             {"--timeout", "0"},
                                             {"--frames", "2.5"},
                                             {"-ss", "soon"},
                                             {"-t", "1", "-to", "2"},
                                             {"--line", "9-2"},
                                             {"--field", "left"},
                                             {"--tv-line", "23", "--field", "top"},
                                             {"--live", "a.mkv", "b.mkv"}}) {  // several inputs: not live
    const Parsed p = Parse(args);
    EXPECT_EQ(p.outcome, ParseOutcome::Exit) << args[0];
    EXPECT_EQ(p.exitCode, kExitUsage) << args[0];
    EXPECT_EQ(p.err.rfind("lineview: ", 0), 0u) << p.err;
  }
  // A wrong choice is answered with the right ones.
  EXPECT_EQ(Parse({"--window", "kaiser"}).err.substr(0, 89),
            "lineview: --window: 'kaiser' is not one of none, hamming, hanning, blackman (or 0..3)\nRun");
  EXPECT_NE(Parse({"--page", "wave"}).err.find("'wave' is not one of scope, spectrum, levels, all"), std::string::npos);
  EXPECT_EQ(Parse({"-ss", "soon"}).err.rfind("lineview: -ss: 'soon' is not a time", 0), 0u);  // as typed
}

TEST(CommandLine, HelpGoesToStdoutWithStatusZero) {
  const Parsed p = Parse({"--help"});
  EXPECT_EQ(p.outcome, ParseOutcome::Exit);
  EXPECT_EQ(p.exitCode, 0);
  EXPECT_NE(p.out.find("--settings"), std::string::npos);
  EXPECT_NE(p.out.find("Exit status"), std::string::npos);
  EXPECT_TRUE(p.err.empty());
  // For a terminal of 80 columns, in the user's words only.
  std::istringstream lines(p.out);
  std::string line;
  while (std::getline(lines, line)) {
    EXPECT_LE(line.size(), 80u) << line;
    for (const char* parserWord : {"POSITIVE", "Needs", "TEXT", "->", "REQUIRED"}) {
      EXPECT_EQ(line.find(parserWord), std::string::npos) << line;
    }
  }
  EXPECT_EQ(Parse({"-h"}).out, p.out);
}

TEST(CommandLine, VersionIsTheProjectsOnStdout) {
  const Parsed p = Parse({"--version"});
  EXPECT_EQ(p.outcome, ParseOutcome::Exit);
  EXPECT_EQ(p.exitCode, 0);
  EXPECT_EQ(p.out, "lineview " LINEVIEW_VERSION_TEXT "\n");
}

TEST(NumberPair, AcceptsTwoNumbersAroundOneColon) {
  double a = 0, b = 0;
  EXPECT_TRUE(ParseNumberPair("5:95", &a, &b));
  EXPECT_DOUBLE_EQ(a, 5.0);
  EXPECT_DOUBLE_EQ(b, 95.0);
  EXPECT_TRUE(ParseNumberPair("-1.5:2.25", &a, &b));
  EXPECT_DOUBLE_EQ(a, -1.5);
  EXPECT_DOUBLE_EQ(b, 2.25);
  for (const char* bad : {"", ":", "5:", ":5", "5", "5:6:7", "a:b", "5 :6", "inf:1", "nan:2"}) {
    EXPECT_FALSE(ParseNumberPair(bad, &a, &b)) << bad;
  }
}

TEST(Settings, DefaultsAreThePluginsAndItsPageIsDrawn) {
  const Resolved r = Resolve({});
  EXPECT_EQ(r.status, kExitOk);
  EXPECT_TRUE(r.messages.empty());
  EXPECT_EQ(r.run.settings.TVLine, 100);
  EXPECT_EQ(r.run.settings.WindowFunction, 2);
  EXPECT_EQ(r.run.settings.FFTSensitivity, 40);
  EXPECT_EQ(r.run.pages, std::vector<int>{ModeOscilloscope});
}

TEST(Settings, OverridesSetTheFields) {
  const Resolved r = Resolve({"--line", "22", "--color", "yuv", "--window", "hamming", "--sensitivity", "70",
                              "--style", "fill", "--interval", "12.5:80", "--levels", "20:200", "--page", "all"});
  EXPECT_EQ(r.status, kExitOk) << r.messages;
  const AnalysisSettings& s = r.run.settings;
  EXPECT_EQ(s.TVLine, 22);
  EXPECT_EQ(s.ColorMode, 1);
  EXPECT_EQ(s.WindowFunction, 1);
  EXPECT_EQ(s.FFTSensitivity, 70);
  EXPECT_EQ(s.FFTDiagMode, 1);
  EXPECT_EQ(s.LevDiagMode, 1);
  EXPECT_EQ(s.StartCount, 125);  // tenths of a percent
  EXPECT_EQ(s.StopCount, 800);
  EXPECT_EQ(s.BlackLevel, 20);
  EXPECT_EQ(s.WhiteLevel, 200);
  EXPECT_EQ(r.run.pages, (std::vector<int>{ModeOscilloscope, ModeSpectrum, ModeLevels}));
}

TEST(Settings, ThePluginsFileCarriesOverAndOverridesWin) {
  TempDir dir;
  const std::string path = dir / "KVP_LineView.ini";
  std::string text = WithLine(kDefaultSettingsFile, "\nMode=0", "\nMode=2");
  text = WithLine(text, "TVLine=100", "TVLine=33");
  text = WithLine(text, "FFTSensitivity=40", "FFTSensitivity=90");
  { std::ofstream(path, std::ios::binary) << text; }
  Resolved r = Resolve({"--settings", path});
  EXPECT_EQ(r.status, kExitOk) << r.messages;
  EXPECT_EQ(r.run.settings.TVLine, 33);
  EXPECT_EQ(r.run.settings.FFTSensitivity, 90);
  EXPECT_EQ(r.run.pages, std::vector<int>{ModeLevels});
  r = Resolve({"--settings", path, "--line", "7", "--page", "scope"});
  EXPECT_EQ(r.run.settings.TVLine, 7);
  EXPECT_EQ(r.run.settings.Mode, ModeOscilloscope);
  EXPECT_EQ(r.run.settings.FFTSensitivity, 90);
  // Reading must not rewrite the user's file.
  EXPECT_EQ(ReadText(path), text);
}

TEST(Settings, UnreadableFileGivesDefaultsWithAWarning) {
  TempDir dir;
  for (const std::string& path : {dir / "absent.ini", dir.Path(), dir / "settings.txt"}) {
    if (path == dir / "settings.txt") std::ofstream(path) << "[PluginSettings]\nTVLine=5\n";
    const Resolved r = Resolve({"--settings", path, "--line", "9"});
    EXPECT_EQ(r.status, kExitSettingsUnreadable) << path;
    EXPECT_NE(r.messages.find("lineview: warning: "), std::string::npos);
    EXPECT_NE(r.messages.find(path), std::string::npos) << r.messages;
    EXPECT_NE(r.messages.find("defaults"), std::string::npos) << r.messages;
    EXPECT_EQ(r.run.settings.TVLine, 9);  // the overrides still apply
    EXPECT_EQ(r.run.settings.StopCount, 950);
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "absent.ini"));  // not created by looking
}

TEST(Settings, OutOfRangeValuesAreKeptWithAWarningNamingWhatIsUsed) {
  struct Case {
    std::vector<std::string> args;
    const char* used;
  };
  const Case cases[] = {
      {{"--sensitivity", "500"}, "110 dB is used"},
      {{"--sensitivity", "3"}, "10 dB is used"},
      {{"--levels", "200:100"}, "200:200 is used"},
      {{"--levels", "-5:300"}, "0:255 is used"},
      {{"--interval", "90:10"}, "90.0:90.0 % is used"},
      {{"--interval", "-10:120"}, "0.0:100.0 % is used"},
      {{"--window", "9"}, "without a window"},
      {{"--style", "4", "--page", "spectrum"}, "draws no trace"},
  };
  for (const Case& c : cases) {
    const Resolved r = Resolve(c.args);
    EXPECT_EQ(r.status, kExitSettingOutOfRange) << c.args[1];
    EXPECT_NE(r.messages.find(c.used), std::string::npos) << r.messages;
  }
  // The value itself stays, as the plug-in keeps a hand-edited one: the analyses clamp it.
  EXPECT_EQ(Resolve({"--sensitivity", "500"}).run.settings.FFTSensitivity, 500);
}

TEST(Settings, APageOutsideTheTabsDrawsNothing) {
  TempDir dir;
  const std::string path = dir / "p.ini";
  { std::ofstream(path, std::ios::binary) << WithLine(kDefaultSettingsFile, "\nMode=0", "\nMode=5"); }
  const Resolved r = Resolve({"--settings", path});
  EXPECT_TRUE(r.run.pages.empty());
  EXPECT_EQ(r.status, kExitSettingOutOfRange);
  EXPECT_TRUE(Resolve({"--settings", path, "--page", "levels"}).run.pages == std::vector<int>{ModeLevels});
}

TEST(Settings, LineOutsideTheFrameIsNamedWithTheLineUsed) {
  for (const auto& [line, used] : {std::pair{576, 575}, std::pair{5000, 575}, std::pair{-3, 0}}) {
    std::ostringstream err;
    Diagnostics diag(err);
    AnalysisSettings s{};
    s.TVLine = line;
    CheckLine(s, 576, diag);
    EXPECT_EQ(diag.Status(), kExitLineClamped);
    EXPECT_NE(err.str().find("line " + std::to_string(used) + " is used"), std::string::npos) << err.str();
  }
  std::ostringstream err;
  Diagnostics diag(err);
  AnalysisSettings s{};
  s.TVLine = 575;
  CheckLine(s, 576, diag);
  EXPECT_EQ(diag.Status(), kExitOk);
}

}  // namespace
