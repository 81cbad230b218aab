// Running the `lineview` program and FFmpeg's own `ffmpeg` from the tests.
#pragma once
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "lineview-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline std::string ReadText(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

inline std::string Quote(const std::string& s) { return "'" + s + "'"; }

// Runs a shell command line with stdout and stderr captured.
inline RunResult RunShell(const std::string& command) {
  TempDir dir;
  const std::string out = dir / "out", err = dir / "err";
  const std::string line = "( " + command + " ) >" + Quote(out) + " 2>" + Quote(err) + " </dev/null";
  const int raw = std::system(line.c_str());
  RunResult r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = ReadText(out);
  r.err = ReadText(err);
  return r;
}

inline const std::string& LineviewExe() {
  static const std::string exe = LINEVIEW_EXE;
  return exe;
}

inline RunResult Lineview(const std::string& args) { return RunShell(Quote(LineviewExe()) + " " + args); }

// A command run by a user who owns none of the test's files. Root reads and writes whatever
// the mode bits say, so as root it runs as the user nobody.
inline std::string AsAnotherUser(const std::string& command) {
  return geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups -- " + command : command;
}

inline bool HaveFfmpeg() {
  static const bool have = std::system("ffmpeg -version >/dev/null 2>&1") == 0;
  return have;
}

// ffmpeg quietly, overwriting.
inline bool Ffmpeg(const std::string& args) {
  return std::system(("ffmpeg -nostdin -v error -y " + args + " >/dev/null 2>&1").c_str()) == 0;
}

#define SKIP_WITHOUT_FFMPEG() \
  if (!HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is not installed"

// The CSV rows after the header, split at commas.
inline std::vector<std::vector<std::string>> CsvRows(const std::string& text, std::string* header = nullptr) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(text);
  std::string line;
  bool first = true;
  while (std::getline(in, line)) {
    if (first) {
      if (header) *header = line;
      first = false;
      continue;
    }
    std::vector<std::string> fields;
    std::istringstream l(line);
    std::string field;
    while (std::getline(l, field, ',')) fields.push_back(field);
    rows.push_back(fields);
  }
  return rows;
}

struct SnrStats {
  double mean = 0, min = 0, max = 0, stddev = 0;
};

// One channel's statistics from --json; false when the channel is not there.
inline bool JsonSnr(const std::string& json, const std::string& channel, SnrStats* s) {
  const size_t at = json.find("\"" + channel + "\": {");
  return at != std::string::npos &&
         std::sscanf(json.c_str() + at + channel.size() + 3, " {\"mean\": %lf, \"min\": %lf, \"max\": %lf, \"stddev\": %lf",
                     &s->mean, &s->min, &s->max, &s->stddev) == 4;
}
