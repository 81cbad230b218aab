#include "cli/options/help.h"

#include <CLI/CLI.hpp>
#include <cctype>
#include <cstring>
#include <sstream>

#include "cli/common/exit_codes.h"

// FFmpeg spells some long options with one dash; CLI11 wants two. The help spells them as
// ffmpeg users know them.
const char* const kFfmpegLongOptions[6] = {"-pix_fmt", "-framerate", "-video_size", "-pixel_format", "-ss", "-to"};

namespace {

// The help's closing sections, each wrapped to the terminal's width by the help's own wrapping.
const struct {
  const char* heading;
  const char* text;
} kFooter[] = {
    {"Input:",
     "With no INPUT, the bundled host's built-in test signal is analysed (75 % colour bars, 720x576, 100 "
     "frames). INPUT is anything FFmpeg opens: a file, a URL, a capture device with -f (e.g. -f v4l2 "
     "/dev/video0), or - for raw frames on stdin, described with -f rawvideo -s WxH -pix_fmt FMT."},
    {"Output:",
     "CSV on stdout, one row per frame: frame number, time in seconds, the three SNR read-outs in dB as "
     "the tool window shows them (means over the last 50 frames: R,G,B or Y,U,V), then the frame's own SNR "
     "(R_frame,G_frame,B_frame or Y_frame,U_frame,V_frame). --json prints instead the mean, min, max and "
     "standard deviation of the frames' own SNR. --png DIR writes each selected page as lineview-PAGE.png "
     "(the last frame), and with --every N also lineview-PAGE-FRAME.png for every Nth frame. Several "
     "inputs: with --json one line per input (its summary, or its error), else one CSV whose rows name "
     "their input; pictures are named lineview-NAME-PAGE.png after each input's file name."},
    {"SNR methods:",
     "--snr line (default) is the tool window's SNR per channel, read from 8-bit 4:2:2 frames. --snr "
     "unweighted|weighted measures luminance noise as measuring instruments do: the decoded luma at its own "
     "bit depth, mean and slope removed, band-limited to 10 kHz-5.0 MHz (4.2 MHz for 480/486 rows), for "
     "weighted through the unified weighting network, against 219 x 2^(bits-8) codes, power-averaged over "
     "one second; CSV frame,time,Y,Y_frame; the JSON's snr_method says how. Widths other than "
     "720/704/640/768/910/1135 need --sample-rate MHZ. --min-duration drops shorter flagged segments."},
    {"Archives:",
     "--sidecar writes each input's results beside it (or with --sidecar=DIR into DIR) as "
     "NAME.lineview.xml.gz: ffprobe's XML, one <frame> per frame with tags lineview.snr.r (the frame's own "
     "SNR) and lineview.snr50.r (the 50-frame mean), the settings, and the line's samples of the worst and a "
     "typical frame. --min-snr flags frames where a shown channel's own SNR lies below it, merged into "
     "segments; --max-dropped flags an input that lost more frames (also those missing by their times), "
     "--max-damaged one with more frames the decoder found damaged. Verdicts: pass, flag, failed, incomplete "
     "(a run stopped, timed out or cut by a read error: never pass). --report writes one page for all inputs: "
     "the inputs that did not pass first, a table of verdicts worst first, a section per input (folded where "
     "it passed) with a plot over time and the pages at the worst and a typical frame. --from "
     "builds the report, the plot and the verdicts from sidecars, without decoding again: lineview --sidecar "
     "on many machines, then lineview --report all.html --from *.lineview.xml.gz on one. lineview-collection "
     "does both on GNU parallel or a Slurm cluster (man lineview-collection)."},
    {"Comparing:",
     "--compare A B lines up two captures of one tape frame by frame from a signature of the whole "
     "picture: the offset (offset_frames), the frames one lacks or repeats (gaps), then per aligned pair "
     "B's value minus A's per channel; --min-delta DB marks the spans where one stays better (segments), "
     "--json adds the verdict. --compare --from A.lineview.xml.gz B.lineview.xml.gz does the same from "
     "sidecars. --report FILE.html writes the comparison's page (the verdict, both curves and B - A "
     "over A's time, the gaps, the segments, the line at the worst delta); --plot, --png and --live are "
     "refused. A still picture needs --offset N. Example: lineview --compare deck1.mkv deck2.mkv "
     "--tv-line 23 --json --report pair.html"},
    {"Resuming:",
     "A sidecar is written as NAME.lineview.xml.gz.part, flushed at least every second of video and every "
     "5 s, and renamed when the run ends or is stopped; --from reads one cut short (a run killed outright) "
     "up to its last whole frame (\"complete\": false, \"cut_at\"). With --sidecar, an input whose complete "
     "sidecar was made from the same input (size and time) with the same settings is not analysed again "
     "(\"skipped\": \"complete sidecar\"; -y analyses again); another input's sidecar of the same name is "
     "never overwritten (NAME-2). A lock file NAME.lineview.xml.gz.lock keeps two runs off one sidecar: an "
     "input in progress elsewhere is skipped (\"in progress on HOST\"); a lock whose process is gone, or "
     "not refreshed for 10 minutes, is taken over."},
    {"Stopping:",
     "Ctrl-C (SIGINT) or SIGTERM stops the reading, also of a stalled input, and completes every output "
     "over the frames analysed: the CSV, the JSON summary, the pictures of the last frame. A second signal "
     "ends at once."},
    {"Live window (--live):",
     "Up/Down line -1/+1, PgUp/PgDn -10/+10, a click picks the line under the pointer (several lines: "
     "they step through those), Tab or 1/2/3 the "
     "page, c RGB/YUV, Space pause, s saves the window as a PNG, q or Esc quits. Changes are printed to "
     "stderr; the CSV goes on."},
};

constexpr size_t kHelpWidth = 80;
constexpr size_t kHelpColumn = 28;

// `text` in lines of at most kHelpWidth columns: the first after `head`, padded to `column`
// (`head` on a line of its own when it reaches that far), the others indented to `column`.
std::string Wrap(const std::string& text, const std::string& head, size_t column) {
  std::string out, line = head;
  if (!head.empty() && head.size() + 2 > column) out = head + '\n', line.clear();
  const auto pad = [&] {
    if (line.size() < column) line.resize(column, ' ');
  };
  pad();
  bool empty = true;  // no word on this line yet
  std::istringstream words(text);
  std::string word;
  while (words >> word) {
    if (!empty && line.size() + 1 + word.size() > kHelpWidth) {
      out += line + '\n';
      line.clear();
      pad();
      empty = true;
    }
    if (!empty) line += ' ';
    line += word;
    empty = false;
  }
  line.erase(line.find_last_not_of(' ') + 1);
  return out + line + '\n';
}

// The help at 80 columns: each option's names and the name of its value, its description
// wrapped beside them, and nothing of the parser's own (validator names, "Needs:").
class HelpFormatter final : public CLI::Formatter {
 public:
  std::string make_option(const CLI::Option* opt, bool positional) const override {
    std::string names = positional ? std::string() : opt->get_name(false, true);
    for (const char* single : kFfmpegLongOptions) {
      const size_t at = names.find(std::string("-") + single);
      const size_t end = at + std::strlen(single) + 1;
      if (at != std::string::npos && (end == names.size() || names[end] == ',')) names.erase(at, 1);
    }
    const std::string value = opt->get_option_text();
    return Wrap(opt->get_description(), "  " + names + (names.empty() || value.empty() ? "" : " ") + value, kHelpColumn);
  }
  std::string make_description(const CLI::App* app) const override { return Wrap(app->get_description(), "", 0); }
};

}  // namespace

// A text of the parser's with the names above as the user typed them (-ss, not --ss).
std::string FfmpegSpelling(std::string text) {
  for (const char* single : kFfmpegLongOptions) {
    const std::string doubled = std::string("-") + single;
    for (size_t at = text.find(doubled); at != std::string::npos; at = text.find(doubled, at + 1)) {
      const size_t end = at + doubled.size();
      if (end == text.size() || !(std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == '_')) text.erase(at, 1);
    }
  }
  return text;
}

std::shared_ptr<CLI::FormatterBase> MakeHelpFormatter() { return std::make_shared<HelpFormatter>(); }

std::string HelpFooter() {
  std::string footer;
  for (const auto& f : kFooter) footer += std::string(footer.empty() ? "" : "\n") + f.heading + "\n" + Wrap(f.text, "", 2);
  footer += "\nExit status:\n";
  for (const ExitMeaning& e : kExitMeanings) {
    // A stop ends by its signal: the shell shows 128 plus its number.
    const std::string code = e.code == kExitStopped ? "130, 143" : std::to_string(e.code);
    footer += Wrap(e.text, "  " + code, 12);
  }
  return footer + Wrap(kExitNote, "", 2);
}
