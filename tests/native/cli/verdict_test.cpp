// Verdicts an archive can trust: an input that failed is in every output, frames lost by their
// times or damaged change the verdict, a cut sidecar's message is stable, and --from gives the
// run's own numbers.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "cli/common/exit_codes.h"
#include "cli/output/sidecar_reader.h"
#include "cli_test_util.h"

namespace {

// A noisy PAL-sized clip; the same with frames 10 to 22 taken out but their times kept; an
// MPEG-2 TS whose packets are overwritten in the middle.
class Verdicts : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!HaveFfmpeg()) return;
    dir_ = new TempDir;
    const std::string noise = "-f lavfi -i \"color=c=0x808080:s=720x576:r=25,noise=alls=10:allf=t\" ";
    ok_ = Ffmpeg(noise + "-frames:v 8 -c:v ffv1 " + Quote(*dir_ / "good.mkv")) &&
          Ffmpeg(noise + "-frames:v 30 -vf \"select='not(between(n,10,22))'\" -fps_mode passthrough -c:v ffv1 " +
                 Quote(*dir_ / "gap.mkv")) &&
          Ffmpeg("-f lavfi -i testsrc=s=176x144:r=25 -frames:v 25 -c:v mpeg2video -g 5 -f mpegts " +
                 Quote(*dir_ / "damaged.ts"));
    // Past the first key frame, every other packet's payload overwritten.
    std::fstream ts(*dir_ / "damaged.ts", std::ios::in | std::ios::out | std::ios::binary);
    for (int packet = 20; ok_ && packet < 120; packet += 2) {
      ts.seekp(packet * 188 + 40);
      ts << std::string(120, '\x5a');
    }
    ok_ = ok_ && static_cast<bool>(ts);
  }
  static void TearDownTestSuite() { delete dir_; }
  void SetUp() override {
    SKIP_WITHOUT_FFMPEG();
    ASSERT_TRUE(ok_);
  }
  // {dir} in a command line becomes the fixture's folder.
  static std::string In(const std::string& args) { return std::regex_replace(args, std::regex("\\{dir\\}"), dir_->Path()); }
  static TempDir* dir_;
  static bool ok_;
};
TempDir* Verdicts::dir_ = nullptr;
bool Verdicts::ok_ = false;

TEST_F(Verdicts, AFailedInputIsInEveryOutput) {
  const struct {
    std::string name, before, args, file;  // file: where to look ("" stdout)
    int status;
    std::vector<std::string> expected;
  } cases[] = {
      {"alone, JSON", "", "--json {dir}/missing.mkv", "", kExitCannotOpen,
       {"\"input\": \"" + *dir_ / "missing.mkv\", \"verdict\": \"failed\", \"error\": \"cannot open"}},
      {"in an archive, JSON", "", "--json {dir}/good.mkv {dir}/missing.mkv", "", kExitCannotOpen,
       {"\"verdict\": \"pass\"", "missing.mkv\", \"verdict\": \"failed\""}},
      {"report", "", "--report {dir}/failed.html {dir}/good.mkv {dir}/missing.mkv", "{dir}/failed.html", kExitCannotOpen,
       {"1 pass</span>", "1 failed</span>", ">failed: cannot open"}},
      {"--from its sidecar", "--sidecar={dir}/sc {dir}/missing.mkv", "--json --from {dir}/sc/missing.mkv.lineview.xml.gz",
       "", kExitCannotOpen, {"missing.mkv\", \"verdict\": \"failed\", \"error\": \"cannot open"}},
  };
  for (const auto& c : cases) {
    if (!c.before.empty()) Lineview("--no-progress " + In(c.before));
    const RunResult r = Lineview("--no-progress " + In(c.args));
    EXPECT_EQ(r.status, c.status) << c.name << ": " << r.err;
    const std::string text = c.file.empty() ? r.out : ReadText(In(c.file));
    for (const std::string& e : c.expected) EXPECT_NE(text.find(e), std::string::npos) << c.name << ": " << e << "\n" << text;
  }
}

TEST_F(Verdicts, FramesLostByTheirTimesOrDamagedChangeTheVerdict) {
  const struct {
    std::string name, args;
    int status;
    std::vector<std::string> expected;
  } cases[] = {
      {"a 13-frame gap, no limit", "--json {dir}/gap.mkv", kExitFramesDropped,
       {"\"frames_dropped\": 13,", "\"dropped\": [{\"at\": 0.4000, \"frames\": 13}]", "\"verdict\": \"pass\""}},
      {"a 13-frame gap, --max-dropped 0", "--json --max-dropped 0 {dir}/gap.mkv", kExitFlagged, {"\"verdict\": \"flag\""}},
      {"a 13-frame gap, --max-dropped 13", "--json --max-dropped 13 {dir}/gap.mkv", kExitFramesDropped,
       {"\"verdict\": \"pass\""}},
      {"the gap kept in the sidecar", "--json --sidecar={dir}/gsc {dir}/gap.mkv >/dev/null; lineview --json --from {dir}/gsc/gap.mkv.lineview.xml.gz",
       kExitOk, {"\"dropped\": [{\"at\": 0.4000, \"frames\": 13}]"}},
      {"a damaged TS, --max-damaged 0", "--json --max-damaged 0 {dir}/damaged.ts", kExitFlagged, {"\"verdict\": \"flag\""}},
      // The damage also cost it a frame: the first warning's status.
      {"a damaged TS, no limit", "--json {dir}/damaged.ts", kExitFramesDropped, {"\"verdict\": \"pass\""}},
      {"both columns in the report", "--report {dir}/dmg.html {dir}/damaged.ts", kExitFramesDropped, {}},
  };
  for (const auto& c : cases) {
    std::string args = In(c.args);
    args = std::regex_replace(args, std::regex("; lineview"), "; " + Quote(LineviewExe()) + " --no-progress");
    const RunResult r = Lineview("--no-progress " + args);
    EXPECT_EQ(r.status, c.status) << c.name << ": " << r.err;
    for (const std::string& e : c.expected) EXPECT_NE(r.out.find(e), std::string::npos) << c.name << ": " << e << "\n" << r.out;
    if (c.args.find("damaged.ts") != std::string::npos && c.args.find("--report") == std::string::npos) {
      EXPECT_EQ(r.out.find("\"frames_damaged\": 0,"), std::string::npos) << c.name << ": " << r.out;
    }
  }
  const std::string report = ReadText(*dir_ / "dmg.html");
  EXPECT_NE(report.find("<th rowspan=\"2\">Dropped</th><th rowspan=\"2\">Damaged</th>"), std::string::npos);
  EXPECT_EQ(report.find("data-key=\"damaged\" data-value=\"0\""), std::string::npos) << "the report's damaged column";
}

// Valid UTF-8 by iconv's judgement.
bool ValidUtf8(const std::string& text) {
  TempDir dir;
  std::ofstream(dir / "t", std::ios::binary) << text;
  return RunShell("iconv -f UTF-8 -t UTF-8 " + Quote(dir / "t") + " >/dev/null").status == 0;
}

TEST_F(Verdicts, ACutOrForeignSidecarGivesOneStableMessage) {
  const std::string sidecar = *dir_ / "cut-source/good.mkv.lineview.xml.gz";
  ASSERT_EQ(Lineview("--no-progress --json --sidecar=" + Quote(*dir_ / "cut-source") + " " + Quote(*dir_ / "good.mkv")).status, 0);
  const std::string whole = ReadText(sidecar);
  const struct {
    std::string name, bytes;
    bool cut;
    bool readable;  // its frames up to the cut
  } cases[] = {
      {"cut in half", whole.substr(0, whole.size() / 2), true, true},
      {"cut after its header", whole.substr(0, 12), true, false},
      {"foreign bytes in a value", "<ffprobe><frames><frame><tag key=\"lineview.snr.y\" value=\"\xff\xfe\x80 \x01\"/>", false, false},
  };
  for (const auto& c : cases) {
    const std::string path = *dir_ / "broken.lineview.xml.gz";
    std::ofstream(path, std::ios::binary | std::ios::trunc) << c.bytes;
    std::string first, second;
    bool cut = false;
    std::vector<Timeline> lines;
    EXPECT_EQ(ReadSidecar(path, &lines, &first, &cut), c.readable) << c.name;
    EXPECT_EQ(ReadSidecar(path, &lines, &second), c.readable) << c.name;
    EXPECT_EQ(c.readable ? !lines.empty() && lines[0].cut : cut, c.cut) << c.name << ": " << first;
    EXPECT_EQ(first, second) << c.name;
    EXPECT_TRUE(ValidUtf8(first)) << c.name << ": " << first;
    const RunResult r = Lineview("--json --report " + Quote(*dir_ / "broken.html") + " --from " + Quote(path));
    EXPECT_EQ(r.status, c.cut ? kExitIncomplete : kExitCannotOpen) << c.name << ": " << r.err;
    EXPECT_TRUE(ValidUtf8(r.out)) << c.name << ": " << r.out;
    EXPECT_NE(ReadText(*dir_ / "broken.html").find(c.cut ? "1 incomplete</span>" : "1 failed</span>"), std::string::npos) << c.name;
    EXPECT_NE(r.out.find(c.cut ? "\"verdict\": \"incomplete\"" : "\"verdict\": \"failed\""), std::string::npos) << r.out;
  }
}

TEST_F(Verdicts, FromGivesTheRunsOwnJson) {
  const struct {
    std::string name, args;
    std::vector<std::string> keys;  // what was measured, said in the summary
  } cases[] = {
      {"the settings' line", "", {"\"line\": ", "\"field\": null", "\"tv_line\": ", "\"color\": \"rgb\"", "\"interval\": ["}},
      {"two rows of a field, yuv", "--line 50,51 --field top --color yuv", {"\"line\": 100", "\"field\": \"top\"", "\"color\": \"yuv\""}},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    const std::string folder = *dir_ / ("from" + std::to_string(i));
    const RunResult run = Lineview("--no-progress --json --sidecar=" + Quote(folder) + " " + c.args + " " + Quote(*dir_ / "good.mkv"));
    ASSERT_EQ(run.status, 0) << c.name << ": " << run.err;
    const RunResult from = Lineview("--json --from " + Quote(folder + "/good.mkv.lineview.xml.gz"));
    EXPECT_EQ(from.status, 0) << c.name << ": " << from.err;
    // The decoding run's one summary is spread over lines; --from's is compact.
    std::string a = std::regex_replace(run.out, std::regex("\n *"), "");
    std::string b = std::regex_replace(from.out, std::regex("\n *"), "");
    a = std::regex_replace(a, std::regex("\\s+"), ""), b = std::regex_replace(b, std::regex("\\s+"), "");
    EXPECT_EQ(a, b) << c.name;
    for (const std::string& k : c.keys) EXPECT_NE(run.out.find(k), std::string::npos) << c.name << ": " << k << "\n" << run.out;
  }
}

}  // namespace
