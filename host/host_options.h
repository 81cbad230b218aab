// Command line of the bundled host program.
#pragma once
#include <string>
#include <vector>

#include "host/test_signals.h"

struct HostOptions {
  int frames = 0;  // 0: until the window is closed
  double fps = 25.0;
  int pixelFormat = 0;  // PixelFormatYuy2
  int width = 720;
  int height = 576;
  TestSignal signal = TestSignal::Bars;
  double noiseSigma = -1.0;  // negative: not given
  bool openWindow = false;
  std::string logPath;     // UTF-8; empty: no log
  std::string pluginPath;  // UTF-8; empty: KVP_LineView.dll beside the program
  std::string screenshotDir;  // UTF-8; empty: no screenshots
  bool help = false;
};

constexpr double kDefaultNoiseFieldSigma = 4.0;
constexpr int kMaxFrameSide = 8192;

// Parses the arguments after the program name. On a bad argument returns false and says why
// in *error; the options are then not to be used.
bool ParseHostOptions(const std::vector<std::string>& args, HostOptions* options, std::string* error);

// The noise added to a signal: --noise when given, otherwise only the noise field is noisy.
double NoiseSigmaFor(const HostOptions& options, TestSignal signal);

const char* HostUsage();

// Splits a Windows command line into arguments by the C runtime's rules: white space
// separates, a double quote toggles grouping, 2n backslashes before a quote give n
// backslashes and a quote that toggles, 2n+1 give n backslashes and a literal quote, other
// backslashes stay as they are. The first argument (the program) takes no escapes.
std::vector<std::wstring> SplitCommandLine(const std::wstring& line);
