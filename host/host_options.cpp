#include "host/host_options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "plugin/host_contract.h"

namespace {

bool ParseInt(const std::string& text, int low, int high, int* value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < low || v > high) return false;
  *value = int(v);
  return true;
}

bool ParseDouble(const std::string& text, double low, double high, double* value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(v) || v < low || v > high) return false;
  *value = v;
  return true;
}

bool ParseSize(const std::string& text, int* width, int* height) {
  const size_t x = text.find_first_of("xX");
  if (x == std::string::npos) return false;
  return ParseInt(text.substr(0, x), 1, kMaxFrameSide, width) &&
         ParseInt(text.substr(x + 1), 1, kMaxFrameSide, height);
}

}  // namespace

bool ParseHostOptions(const std::vector<std::string>& args, HostOptions* options, std::string* error) {
  HostOptions o;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--open-window") {
      o.openWindow = true;
      continue;
    }
    if (a == "--help" || a == "-h" || a == "/?") {
      o.help = true;
      continue;
    }
    const bool takesValue = a == "--frames" || a == "--fps" || a == "--format" || a == "--size" ||
                            a == "--signal" || a == "--noise" || a == "--log" || a == "--plugin" ||
                            a == "--screenshot-dir";
    if (!takesValue) {
      *error = "unknown option " + a;
      return false;
    }
    if (i + 1 >= args.size()) {
      *error = a + " needs a value";
      return false;
    }
    const std::string& v = args[++i];
    bool ok = true;
    if (a == "--frames") {
      ok = ParseInt(v, 0, 100000000, &o.frames);
    } else if (a == "--fps") {
      ok = ParseDouble(v, 0.01, 1000.0, &o.fps);
    } else if (a == "--format") {
      if (v == "yuy2") {
        o.pixelFormat = PixelFormatYuy2;
      } else if (v == "bgr24") {
        o.pixelFormat = PixelFormatBgr24;
      } else {
        ok = false;
      }
    } else if (a == "--size") {
      ok = ParseSize(v, &o.width, &o.height) && FrameBytes(o.width, o.height, PixelFormatBgr24) != 0;
    } else if (a == "--signal") {
      ok = ParseTestSignal(v.c_str(), &o.signal);
    } else if (a == "--noise") {
      ok = ParseDouble(v, 0.0, 255.0, &o.noiseSigma);
    } else if (a == "--log") {
      o.logPath = v;
    } else if (a == "--plugin") {
      o.pluginPath = v;
    } else if (a == "--screenshot-dir") {
      o.screenshotDir = v;
    }
    if (!ok || v.empty()) {
      *error = "bad value for " + a + ": \"" + v + "\"";
      return false;
    }
  }
  *options = o;
  return true;
}

double NoiseSigmaFor(const HostOptions& options, TestSignal signal) {
  if (options.noiseSigma >= 0.0) return options.noiseSigma;
  return signal == TestSignal::Noise ? kDefaultNoiseFieldSigma : 0.0;
}

const char* HostUsage() {
  return "lineview-host [options]\n"
         "  --frames N          frames to deliver, then shut down (0: until the window is closed)\n"
         "  --fps F             frame rate (default 25)\n"
         "  --format yuy2|bgr24 pixel format (default yuy2)\n"
         "  --size WxH          frame size (default 720x576)\n"
         "  --signal NAME       bars, noise, ramp or multiburst: starts on the channel carrying it\n"
         "  --noise SIGMA       Gaussian noise in code values added to every signal\n"
         "  --open-window       open the plug-in's tool window\n"
         "  --log FILE          log every event to FILE\n"
         "  --plugin PATH       the plug-in DLL (default KVP_LineView.dll beside the program)\n"
         "  --screenshot-dir D  near the end, capture the tool window on each tab and the main\n"
         "                      window as BMP files in D (needs --open-window)\n";
}

std::vector<std::wstring> SplitCommandLine(const std::wstring& line) {
  std::vector<std::wstring> args;
  size_t i = 0;
  const size_t n = line.size();
  auto isSpace = [](wchar_t c) { return c == L' ' || c == L'\t'; };

  // The program name: quotes group, backslashes are plain path separators.
  {
    std::wstring program;
    bool quoted = false;
    while (i < n && (quoted || !isSpace(line[i]))) {
      if (line[i] == L'"') {
        quoted = !quoted;
      } else {
        program += line[i];
      }
      ++i;
    }
    if (n > 0) args.push_back(program);
  }

  for (;;) {
    while (i < n && isSpace(line[i])) ++i;
    if (i >= n) break;
    std::wstring arg;
    bool quoted = false;
    while (i < n && (quoted || !isSpace(line[i]))) {
      if (line[i] == L'\\') {
        size_t slashes = 0;
        while (i < n && line[i] == L'\\') {
          ++slashes;
          ++i;
        }
        if (i < n && line[i] == L'"') {
          arg.append(slashes / 2, L'\\');
          if (slashes % 2 == 1) {
            arg += L'"';
            ++i;
          }
        } else {
          arg.append(slashes, L'\\');
        }
        continue;
      }
      if (line[i] == L'"') {
        quoted = !quoted;
      } else {
        arg += line[i];
      }
      ++i;
    }
    args.push_back(arg);
  }
  return args;
}
