// Ending a run early: a signal or --timeout while the input has stalled (a pipe whose writer
// sleeps, a FIFO nobody writes to), before and after the first frame, with and without the
// live window. Every output is complete over the frames analysed.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <thread>

#include "cli/common/exit_codes.h"
#include "cli_test_util.h"

namespace {

constexpr int kWidth = 32, kHeight = 8;

struct Ended {
  int status = -1;  // exit status, or -1 when ended by a signal
  int signal = 0;
  double seconds = 0;  // from the stop to the end
};

// The process's CPU time in clock ticks, from /proc; -1 once it is gone.
long CpuTicks(pid_t pid) {
  std::istringstream in(ReadText("/proc/" + std::to_string(pid) + "/stat"));
  std::string field;
  long ticks = 0;
  for (int i = 1; i <= 15 && in >> field; ++i) {
    if (i == 14 || i == 15) ticks += std::atol(field.c_str());  // utime, stime (the name has no blank here)
  }
  return in ? ticks : -1;
}

// Until the run has spent no CPU for half a second: it has analysed what it was given and
// waits for more. A slow start (a sanitizer build) only takes longer.
void WaitUntilIdle(pid_t pid) {
  long last = -2;
  int still = 0;
  for (int i = 0; i < 300 && still < 5; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const long now = CpuTicks(pid);
    still = now == last ? still + 1 : 0;
    last = now;
  }
}

// Runs lineview on raw frames through a pipe (or on a FIFO path) that this test holds open
// without writing more: `frames` frames are written, then the input stalls. Once the run is
// idle it is sent `sig` (0: none), and waited for.
Ended StallAndStop(const TempDir& dir, const std::string& args, int frames, int sig, bool fifoPath) {
  const std::string fifo = dir / "fifo";
  int fds[2] = {-1, -1};
  if (fifoPath) {
    if (mkfifo(fifo.c_str(), 0600) != 0) return {};
  } else if (pipe(fds) != 0) {
    return {};
  }
  const std::string raw = " -f rawvideo -s " + std::to_string(kWidth) + "x" + std::to_string(kHeight) +
                          " -pix_fmt yuyv422 --line 0 --no-progress ";
  const std::string line = "ASAN_OPTIONS=detect_leaks=0 SDL_RENDER_DRIVER=software exec " + Quote(LineviewExe()) + raw +
                           args + (fifoPath ? " " + Quote(fifo) : " -") + " >" + Quote(dir / "out") + " 2>" +
                           Quote(dir / "err");
  const pid_t pid = fork();
  if (pid == 0) {
    if (!fifoPath) dup2(fds[0], 0), close(fds[0]), close(fds[1]);
    execl("/bin/sh", "sh", "-c", line.c_str(), nullptr);
    _exit(127);
  }
  if (!fifoPath) close(fds[0]);
  // A FIFO path is left without a writer when no frame is due: the run waits in its open.
  const int writer = fifoPath ? (frames > 0 ? open(fifo.c_str(), O_WRONLY) : -1) : fds[1];
  std::string bytes;
  for (int i = 0; i < frames; ++i) bytes += std::string(size_t(kWidth) * kHeight * 2, char(0x40 + i * 8));
  if (!bytes.empty() && write(writer, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) return {};
  WaitUntilIdle(pid);
  const auto stopped = std::chrono::steady_clock::now();
  if (sig != 0) kill(pid, sig);
  int raw_status = 0;
  // Far longer than a stop may take: a run that hangs fails here rather than the suite.
  for (int i = 0; i < 300 && waitpid(pid, &raw_status, WNOHANG) == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  Ended e;
  e.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - stopped).count();
  if (waitpid(pid, &raw_status, WNOHANG) == 0) {
    kill(pid, SIGKILL);
    waitpid(pid, &raw_status, 0);
  }
  if (writer >= 0) close(writer);
  e.status = WIFEXITED(raw_status) ? WEXITSTATUS(raw_status) : -1;
  e.signal = WIFSIGNALED(raw_status) ? WTERMSIG(raw_status) : 0;
  return e;
}

TEST(Stop, ASignalOrATimeoutCompletesTheOutputsOfAStalledInput) {
  const std::string live = " --live --no-pacing";
  const struct {
    std::string name, args;
    int frames, sig;
    bool fifoPath;
    int status, signal;
  } cases[] = {
      {"SIGINT, CSV", "", 7, SIGINT, false, -1, SIGINT},
      {"SIGTERM, JSON", "--json", 7, SIGTERM, false, -1, SIGTERM},
      {"SIGINT, before the first frame", "", 0, SIGINT, false, -1, SIGINT},
      {"SIGTERM, a FIFO without a writer", "", 0, SIGTERM, true, -1, SIGTERM},
      {"SIGINT, a FIFO that stalls", "--json", 4, SIGINT, true, -1, SIGINT},
      {"SIGINT, sidecar", "--json --sidecar={dir}", 6, SIGINT, false, -1, SIGINT},
      {"SIGINT, live window", live, 7, SIGINT, false, -1, SIGINT},
      {"SIGTERM, live window before the first frame", live, 0, SIGTERM, false, -1, SIGTERM},
      {"timeout", "--timeout 0.5", 5, 0, false, kExitTimeout, 0},
      {"timeout, JSON, live window", "--timeout 0.5 --json" + live, 5, 0, false, kExitTimeout, 0},
      {"timeout before the first frame", "--timeout 0.5", 0, 0, true, kExitTimeout, 0},
  };
  for (const auto& c : cases) {
    TempDir dir;
    const bool window = c.args.find("--live") != std::string::npos;
    if (window) setenv("SDL_VIDEODRIVER", "offscreen", 1);
    const std::string args = std::regex_replace(c.args, std::regex("\\{dir\\}"), dir.Path());
    const Ended e = StallAndStop(dir, args, c.frames, c.sig, c.fifoPath);
    unsetenv("SDL_VIDEODRIVER");
    const std::string out = ReadText(dir / "out"), err = ReadText(dir / "err");
    EXPECT_EQ(e.status, c.status) << c.name << ": " << err;
    EXPECT_EQ(e.signal, c.signal) << c.name << ": " << err;
    std::cout << c.name << ": ended " << e.seconds << " s after the stop\n";
    if (c.args.find("--json") != std::string::npos) {
      EXPECT_NE(out.find("\"frames_analysed\": " + std::to_string(c.frames) + ","), std::string::npos)
          << c.name << ": " << out << err;
    } else {
      const auto rows = CsvRows(out);
      EXPECT_EQ(rows.size(), size_t(c.frames)) << c.name << ": " << out << err;
      for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i][0], std::to_string(i)) << c.name;
    }
    if (args.find("--sidecar") != std::string::npos) {
      // What was analysed, in a file the schema takes.
      const std::string sidecar = dir / "stdin.lineview.xml.gz";
      EXPECT_EQ(RunShell("zcat " + Quote(sidecar) + " | xmllint --noout --schema /usr/share/ffmpeg/ffprobe.xsd -").status, 0)
          << c.name;
      EXPECT_EQ(RunShell("zcat " + Quote(sidecar) + " | grep -c '<frame '").out, std::to_string(c.frames) + "\n") << c.name;
    }
    if (c.status == kExitTimeout) {
      EXPECT_NE(err.find("(--timeout)"), std::string::npos) << c.name << ": " << err;
    }
  }
}

// A run cut short is never a pass: its JSON, its sidecar and a --from of that sidecar say
// incomplete, and the exit status is the stop's own.
TEST(Stop, ARunCutShortIsIncomplete) {
  const struct {
    std::string name, args;
    int frames, sig;
    int status, signal;
  } cases[] = {
      {"SIGINT", "--json --min-snr 1 --sidecar={dir}", 6, SIGINT, -1, SIGINT},
      {"timeout", "--json --timeout 0.5 --sidecar={dir}", 5, 0, kExitTimeout, 0},
  };
  for (const auto& c : cases) {
    TempDir dir;
    const std::string args = std::regex_replace(c.args, std::regex("\\{dir\\}"), dir.Path());
    const Ended e = StallAndStop(dir, args, c.frames, c.sig, false);
    const std::string out = ReadText(dir / "out"), err = ReadText(dir / "err");
    EXPECT_EQ(e.status, c.status) << c.name << ": " << err;
    EXPECT_EQ(e.signal, c.signal) << c.name << ": " << err;
    EXPECT_NE(out.find("\"verdict\": \"incomplete\""), std::string::npos) << c.name << ": " << out;
    const RunResult from = Lineview("--json --from " + Quote(dir / "stdin.lineview.xml.gz"));
    EXPECT_EQ(from.status, kExitIncomplete) << c.name << ": " << from.err;
    EXPECT_NE(from.out.find("\"verdict\": \"incomplete\""), std::string::npos) << c.name << ": " << from.out;
  }
}

}  // namespace
