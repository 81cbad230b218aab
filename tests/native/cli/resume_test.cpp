// Nothing lost at archive scale: a sidecar that survives a run killed outright, a collection
// run that resumes where it stopped, names that never overwrite another input's results, and
// the lock that keeps two runs off one sidecar.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <utime.h>
#include <zlib.h>

#include <regex>

#include "cli/common/exit_codes.h"
#include "cli/output/sidecar_lock.h"
#include "cli/output/sidecar_reader.h"
#include "cli_test_util.h"

namespace {

int64_t ModifiedNs(const std::string& path) {
  struct stat st{};
  if (stat(path.c_str(), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

bool Exists(const std::string& path) { return std::filesystem::exists(path); }

// A tiny clip: `seconds` of 64x48 test picture.
bool Clip(const std::string& path, double seconds, const std::string& source = "testsrc") {
  return Ffmpeg("-f lavfi -i " + source + "=size=64x48:rate=25 -t " + std::to_string(seconds) + " -pix_fmt yuv420p " +
                Quote(path));
}

// The number after "frames_analysed" in each JSON line, in order.
std::vector<int> FramesAnalysed(const std::string& json) {
  std::vector<int> n;
  static const std::regex frames("\"frames_analysed\": (\\d+)");
  for (std::sregex_iterator i(json.begin(), json.end(), frames), end; i != end; ++i) n.push_back(std::stoi((*i)[1]));
  return n;
}

TEST(Resume, ARunKilledOutrightLeavesItsFramesReadable) {
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  // Fed in real time: after 8 s about 200 frames have been analysed; the kill gives no warning.
  const RunResult killed = RunShell(
      "cd " + Quote(dir.Path()) + " && ffmpeg -nostdin -v quiet -re -f lavfi -i testsrc=size=64x48:rate=25 -t 30 "
      "-f nut -c:v rawvideo -pix_fmt yuv420p - | " + Quote(LineviewExe()) + " - --no-progress --sidecar=sc >/dev/null & "
      "p=$!; sleep 8; kill -9 $p; wait $p; true");
  const std::string part = dir / "sc/stdin.lineview.xml.gz.part";
  ASSERT_TRUE(Exists(part)) << killed.err;
  EXPECT_FALSE(Exists(dir / "sc/stdin.lineview.xml.gz"));
  const RunResult r = Lineview("--json --from " + Quote(part) + " --report " + Quote(dir / "r.html"));
  EXPECT_EQ(r.status, kExitIncomplete) << r.err;
  ASSERT_EQ(FramesAnalysed(r.out).size(), 1u) << r.out;
  EXPECT_GE(FramesAnalysed(r.out)[0], 150) << r.out;
  EXPECT_NE(r.out.find("\"complete\": false,\"cut_at\": "), std::string::npos) << r.out;
  EXPECT_TRUE(std::regex_search(r.err, std::regex("cut short at 00:00:0\\d\\.\\d\\d: the run did not finish"))) << r.err;
  EXPECT_NE(ReadText(dir / "r.html").find("Cut short at 00:00:0"), std::string::npos);
}

TEST(Resume, ACollectionKilledInItsThirdInputResumesThere) {
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  for (const char* n : {"t1.mkv", "t2.mkv", "t4.mkv"}) ASSERT_TRUE(Clip(dir / n, 0.4));
  // The third comes through a FIFO, slowly the first time, so that the kill lands inside it.
  const std::string cd = "cd " + Quote(dir.Path()) + " && mkfifo t3.nut && ";
  const std::string feed = "ffmpeg -nostdin -v quiet -y %s -f lavfi -i testsrc=size=64x48:rate=25 -t %s -f nut "
                           "-c:v rawvideo -pix_fmt yuv420p t3.nut";
  const std::string run = Quote(LineviewExe()) + " --no-progress t1.mkv t2.mkv t3.nut t4.mkv --sidecar=sc --json";
  auto Feed = [&](const char* re, const char* seconds) {
    char b[256];
    std::snprintf(b, sizeof b, feed.c_str(), re, seconds);
    return std::string(b);
  };
  RunShell(cd + "(" + Feed("-re", "20") + " &) ; " + run + " >out1 2>&1 & p=$!; "
           "i=0; while [ ! -e sc/t3.nut.lineview.xml.gz.part ] && [ $i -lt 200 ]; do sleep 0.1; i=$((i+1)); done; "
           "sleep 1; kill -9 $p; wait $p; sleep 0.5");
  ASSERT_TRUE(Exists(dir / "sc/t3.nut.lineview.xml.gz.part"));
  ASSERT_TRUE(Exists(dir / "sc/t3.nut.lineview.xml.gz.lock")) << "a run killed outright cannot remove its lock";
  const std::string first = ReadText(dir / "sc/t1.mkv.lineview.xml.gz"), second = ReadText(dir / "sc/t2.mkv.lineview.xml.gz");
  const int64_t firstTime = ModifiedNs(dir / "sc/t1.mkv.lineview.xml.gz"), secondTime = ModifiedNs(dir / "sc/t2.mkv.lineview.xml.gz");

  const RunResult again = RunShell("cd " + Quote(dir.Path()) + " && (" + Feed("", "0.4") + " &) ; " + run);
  EXPECT_EQ(again.status, kExitLineClamped) << again.err;  // the settings' line 100 of a 48-line picture
  EXPECT_EQ(ReadText(dir / "sc/t1.mkv.lineview.xml.gz"), first);
  EXPECT_EQ(ReadText(dir / "sc/t2.mkv.lineview.xml.gz"), second);
  EXPECT_EQ(ModifiedNs(dir / "sc/t1.mkv.lineview.xml.gz"), firstTime);
  EXPECT_EQ(ModifiedNs(dir / "sc/t2.mkv.lineview.xml.gz"), secondTime);
  const std::vector<std::string> lines = [&] {
    std::vector<std::string> v;
    std::istringstream in(again.out);
    for (std::string l; std::getline(in, l);) v.push_back(l);
    return v;
  }();
  ASSERT_EQ(lines.size(), 4u) << again.out;
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(lines[i].find("\"skipped\": \"complete sidecar\"") != std::string::npos, i < 2) << lines[i];
    EXPECT_NE(lines[i].find("\"complete\": true"), std::string::npos) << lines[i];
  }
  EXPECT_NE(again.err.find("t3.nut.lineview.xml.gz.lock': the lock of pid"), std::string::npos) << again.err;
  for (const char* n : {"t3.nut", "t4.mkv"}) EXPECT_TRUE(Exists(dir / ("sc/" + std::string(n) + ".lineview.xml.gz"))) << n;
  for (const char* f : {"t3.nut.lineview.xml.gz.part", "t3.nut.lineview.xml.gz.lock", "t4.mkv.lineview.xml.gz.lock"}) {
    EXPECT_FALSE(Exists(dir / ("sc/" + std::string(f)))) << f;
  }
}

// One folder of sidecars through a sequence of runs: each step's input, options, whether it
// is analysed (or kept), which sidecar it ends in, and what stderr says.
TEST(Resume, ASidecarIsKeptReplacedOrNamedApart) {
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  std::filesystem::create_directories(dir / "a");
  std::filesystem::create_directories(dir / "b");
  ASSERT_TRUE(Clip(dir / "a/tape.mkv", 0.4));
  ASSERT_TRUE(Clip(dir / "b/tape.mkv", 0.6, "smptebars"));
  const struct {
    std::string name, first, inputs, options;
    bool analysed;
    std::string sidecar, message;
  } steps[] = {
      {"first run", "", "a/tape.mkv", "", true, "tape.mkv", ""},
      {"the same again", "", "a/tape.mkv", "", false, "tape.mkv", "not analysed again"},
      {"another input of the same name", "", "b/tape.mkv", "", true, "tape.mkv-2", "holds the results of 'a/tape.mkv'"},
      {"both, once more", "", "a/tape.mkv b/tape.mkv", "", false, "tape.mkv-2", "not analysed again"},
      {"other settings", "", "a/tape.mkv", "--line 10", true, "tape.mkv", ""},
      {"those settings again", "", "a/tape.mkv", "--line 10", false, "tape.mkv", ""},
      {"-y", "", "a/tape.mkv", "--line 10 -y", true, "tape.mkv", ""},
      {"the input changed", "touch -d '2001-01-01 00:00' a/tape.mkv", "a/tape.mkv", "--line 10", true, "tape.mkv", ""},
      {"a .part left by a killed run", "cp sc/tape.mkv.lineview.xml.gz sc/tape.mkv.lineview.xml.gz.part", "a/tape.mkv",
       "--line 10", false, "tape.mkv", "not analysed again"},
  };
  for (const auto& s : steps) {
    const std::string sidecar = dir / ("sc/" + s.sidecar + ".lineview.xml.gz");
    const int64_t before = ModifiedNs(sidecar);
    const RunResult r = RunShell("cd " + Quote(dir.Path()) + " && " + (s.first.empty() ? "" : s.first + " && ") +
                                 Quote(LineviewExe()) + " --no-progress --json " + s.inputs + " --sidecar=sc " + s.options);
    EXPECT_NE(r.status, kExitFailure) << s.name << ": " << r.err;
    EXPECT_EQ(r.out.find("\"skipped\": \"complete sidecar\"") == std::string::npos, s.analysed) << s.name << ": " << r.out;
    EXPECT_EQ(ModifiedNs(sidecar) != before, s.analysed) << s.name;
    EXPECT_NE(r.err.find(s.message), std::string::npos) << s.name << ": " << r.err;
    EXPECT_FALSE(Exists(sidecar + ".lock")) << s.name;
    EXPECT_FALSE(Exists(sidecar + ".part")) << s.name << ": a killed run's, gone once the name is claimed";
    std::vector<Timeline> lines;
    std::string error;
    ASSERT_TRUE(ReadSidecar(sidecar, &lines, &error)) << s.name << ": " << error;
    EXPECT_EQ(lines[0].input, s.inputs.substr(s.inputs.size() - 10)) << s.name;
  }
  EXPECT_FALSE(Exists(dir / "sc/tape.mkv-3.lineview.xml.gz"));
}

// A lock file left beside the sidecar: whose it is decides whether the run waits for nobody,
// skips the input or takes another name.
TEST(SidecarLock, LiveLocksAreLeftAndStaleOnesTakenOver) {
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  ASSERT_TRUE(Clip(dir / "tape.mkv", 0.2));
  const pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);  // a process that has ended
  const std::string host = HostName();
  const struct {
    std::string name, holder, input;
    int ageSeconds;
    int status;
    std::string message, sidecar;
  } cases[] = {
      {"this host, a live process", host, "tape.mkv", 0, kExitIncomplete, "in progress on " + host, ""},
      {"this host, a process gone", host + "\npid=" + std::to_string(child), "tape.mkv", 0, kExitLineClamped,
       "its process is gone: taken over", "tape.mkv"},
      {"another host, refreshed", "elsewhere", "tape.mkv", 10, kExitIncomplete, "in progress on elsewhere", ""},
      {"another host, stale", "elsewhere", "tape.mkv", kLockStaleSeconds + 60, kExitLineClamped,
       "not refreshed for", "tape.mkv"},
      {"another input, in progress", "elsewhere", "other/tape.mkv", 10, kExitLineClamped,
       "is being written for 'other/tape.mkv' on elsewhere", "tape.mkv-2"},
  };
  for (const auto& c : cases) {
    std::filesystem::remove_all(dir / "sc");
    std::filesystem::create_directories(dir / "sc");
    const std::string lock = dir / "sc/tape.mkv.lineview.xml.gz.lock";
    // A later pid= line wins: the first names this process, which lives.
    std::ofstream(lock) << "host=" << c.holder.substr(0, c.holder.find('\n')) << "\npid=" << getpid()
                        << c.holder.substr(std::min(c.holder.find('\n'), c.holder.size())) << "\ninput=" << c.input << "\n";
    const struct utimbuf times{time(nullptr) - c.ageSeconds, time(nullptr) - c.ageSeconds};
    utime(lock.c_str(), &times);
    const RunResult r =
        RunShell("cd " + Quote(dir.Path()) + " && " + Quote(LineviewExe()) + " --no-progress --json tape.mkv --sidecar=sc");
    EXPECT_EQ(r.status, c.status) << c.name << ": " << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.name << ": " << r.err;
    if (c.sidecar.empty()) {
      EXPECT_NE(r.out.find("\"skipped\": \"in progress on"), std::string::npos) << c.name << ": " << r.out;
      EXPECT_TRUE(Exists(lock)) << c.name << ": another run's lock stays";
      EXPECT_FALSE(Exists(dir / "sc/tape.mkv.lineview.xml.gz")) << c.name;
    } else {
      EXPECT_TRUE(Exists(dir / ("sc/" + c.sidecar + ".lineview.xml.gz"))) << c.name;
      EXPECT_EQ(Exists(lock), c.sidecar != "tape.mkv") << c.name << ": ours removed, another's left";
    }
  }
}

// A whole sidecar cut at many places: never taken for whole, its frames up to the cut.
TEST(Sidecar, ACutOneIsNeverTakenForAWholeOne) {
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  ASSERT_TRUE(Clip(dir / "tape.mkv", 2));
  ASSERT_NE(Lineview("--no-progress --json " + Quote(dir / "tape.mkv") + " --sidecar=" + Quote(dir / "sc")).status,
            kExitFailure);
  const std::string whole = ReadText(dir / "sc/tape.mkv.lineview.xml.gz");
  const std::string text = RunShell("zcat " + Quote(dir / "sc/tape.mkv.lineview.xml.gz")).out;
  ASSERT_NE(text.find("<tag key=\"lineview.end\" value=\"50 frames\"/>"), std::string::npos);
  auto Gzip = [&](const std::string& name, const std::string& xml) {
    gzFile f = gzopen((dir / name).c_str(), "wb");
    gzwrite(f, xml.data(), static_cast<unsigned>(xml.size()));
    gzclose(f);
    return dir / name;
  };
  const struct {
    std::string name, path;
    bool readable, whole;
    std::string error;
  } cases[] = {
      {"whole", dir / "sc/tape.mkv.lineview.xml.gz", true, true, ""},
      {"an older lineview's, without the end marker",
       Gzip("old.gz", std::regex_replace(text, std::regex(".*lineview.end.*\n"), "")), true, true, ""},
      {"an end marker that counts other frames",
       Gzip("miscount.gz", std::regex_replace(text, std::regex("50 frames"), "51 frames")), false, false, "51 frames"},
      {"cut inside its format", Gzip("format.gz", text.substr(0, text.find("lineview.end"))), true, false, ""},
  };
  for (const auto& c : cases) {
    std::vector<Timeline> lines;
    std::string error;
    SidecarFacts facts;
    EXPECT_EQ(ReadSidecar(c.path, &lines, &error, nullptr, &facts), c.readable) << c.name << ": " << error;
    EXPECT_EQ(facts.whole, c.whole) << c.name;
    EXPECT_NE(error.find(c.error), std::string::npos) << c.name << ": " << error;
    if (c.readable) {
      EXPECT_EQ(lines[0].complete, c.whole) << c.name;
    }
  }
  size_t lastFrames = 0;
  for (size_t at = 40; at < whole.size(); at += whole.size() / 37) {
    std::ofstream(dir / "cut.gz", std::ios::binary | std::ios::trunc) << whole.substr(0, at);
    std::vector<Timeline> lines;
    std::string error;
    SidecarFacts facts;
    const bool read = ReadSidecar(dir / "cut.gz", &lines, &error, nullptr, &facts);
    EXPECT_FALSE(facts.whole) << at;
    if (!read) continue;
    EXPECT_TRUE(lines[0].cut && !lines[0].complete) << at;
    EXPECT_GE(lines[0].frames.size(), lastFrames) << at;
    lastFrames = lines[0].frames.size();
  }
  EXPECT_GT(lastFrames, 40u) << "a cut near the end keeps nearly all frames";
}

}  // namespace
