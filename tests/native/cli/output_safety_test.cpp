// The files lineview writes itself never destroy one: a name that cannot take a file is refused
// before decoding, and a write that fails leaves the older file and whatever was named as they
// were, with the system's reason in the message.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <set>

#include "cli_test_util.h"

namespace fs = std::filesystem;

namespace {

class OutputSafety : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_FFMPEG();
    ASSERT_TRUE(Ffmpeg("-f lavfi -i testsrc=size=160x120:rate=25 -frames:v 5 -c:v ffv1 " + Quote(dir_ / "clip.mkv")));
  }
  std::set<std::string> Names() const {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_.Path())) names.insert(e.path().filename().string());
    return names;
  }
  TempDir dir_;
};

bool IsCharDevice(const std::string& path) {
  struct stat st{};
  return stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

TEST_F(OutputSafety, AnOutputNameThatCannotTakeAFileIsRefusedBeforeDecoding) {
  struct Case {
    const char* what;
    const char* option;
    const char* name;   // in the test's folder
    const char* setUp;  // "link": a link to /dev/full; "folder": a folder of that name
    const char* reason;
  };
  const Case cases[] = {
      {"plot to a link to /dev/full", "--plot", "full.png", "link", "not a regular file"},
      {"report to a link to /dev/full", "--report", "full.html", "link", "not a regular file"},
      {"report in a missing folder", "--report", "none/r.html", "", "No such file or directory"},
      {"report named as a folder", "--report", "r.html", "folder", "Is a directory"},
      {"plot in a folder that is a file", "--plot", "clip.mkv/p.png", "", "Not a directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = dir_ / c.name;
    if (std::string(c.setUp) == "link") fs::create_symlink("/dev/full", path);
    if (std::string(c.setUp) == "folder") fs::create_directory(path);
    const std::set<std::string> before = Names();
    const RunResult r = Lineview(Quote(dir_ / "clip.mkv") + " " + c.option + " " + Quote(path));
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, "") << "no frame is analysed";
    EXPECT_NE(r.err.find("cannot write '" + path + "': " + c.reason), std::string::npos) << r.err;
    EXPECT_EQ(Names(), before) << "nothing left in the folder";
    if (std::string(c.setUp) == "link") {
      EXPECT_TRUE(fs::is_symlink(path));
    }
    EXPECT_TRUE(IsCharDevice("/dev/full"));
    std::error_code ec;
    fs::remove(path, ec);
  }
}

// Writes beyond a small size fail (RLIMIT_FSIZE, for root too), after the names were checked.
TEST_F(OutputSafety, AWriteThatFailsLeavesTheOlderFileAndNamesTheReason) {
  struct Case {
    const char* what;
    const char* options;
    const char* name;
  };
  const Case cases[] = {
      {"report", "--report", "r.html"},
      {"plot", "--plot", "p.png"},
      {"sidecar", "--sidecar", "clip.mkv.lineview.xml.gz"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = dir_ / c.name;
    const bool sidecar = std::string(c.options) == "--sidecar";
    // An older sidecar is one of this input made with other settings: a file that is not one is
    // never replaced (it may be another's).
    if (sidecar) {
      ASSERT_EQ(Lineview(Quote(dir_ / "clip.mkv") + " --sidecar --line 1 --json").status, 0);
    } else {
      std::ofstream(path) << "the older file";
    }
    const std::string older = ReadText(path);
    const std::set<std::string> before = Names();
    const std::string target = sidecar ? "" : " " + path;
    const RunResult r = RunShell("bash -c 'trap \"\" XFSZ; ulimit -f 1; exec " + LineviewExe() + " " + (dir_ / "clip.mkv") +
                                 " " + c.options + target + " >/dev/null'");
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("cannot write '" + path + "': File too large"), std::string::npos) << r.err;
    EXPECT_EQ(ReadText(path), older);
    EXPECT_EQ(Names(), before) << "the temporary file is removed";
  }
}

TEST_F(OutputSafety, AFileWrittenWholeReplacesTheOlderOneAndALinkStays) {
  const std::string real = dir_ / "real.html", link = dir_ / "link.html", plot = dir_ / "p.png";
  { std::ofstream(real) << "the older file"; }
  { std::ofstream(plot) << "the older file"; }
  fs::create_symlink(real, link);
  const RunResult r = Lineview(Quote(dir_ / "clip.mkv") + " --json --sidecar --report " + Quote(link) + " --plot " + Quote(plot));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(ReadText(real).rfind("<!DOCTYPE", 0), 0u);
  EXPECT_NE(ReadText(plot), "the older file");
  EXPECT_EQ(Names(), (std::set<std::string>{"clip.mkv", "clip.mkv.lineview.xml.gz", "link.html", "p.png", "real.html"}));
}

}  // namespace
