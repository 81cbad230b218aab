#include "cli/lineview.h"

#include <memory>
#include <set>
#include <sstream>

#include "cli/common/clock.h"
#include "cli/common/diagnostics.h"
#include "cli/common/exit_codes.h"
#include "cli/common/names.h"
#include "cli/input/library_log.h"
#include "cli/input/stop.h"
#include "cli/live/live_window.h"
#include "cli/options/cli_options.h"
#include "cli/options/run_settings.h"
#include "cli/output/comparison_output.h"
#include "cli/output/comparison_report.h"
#include "cli/output/csv.h"
#include "cli/output/json.h"
#include "cli/output/output_files.h"
#include "cli/output/page_picture.h"
#include "cli/output/report.h"
#include "cli/output/safe_file.h"
#include "cli/output/sidecar_reader.h"
#include "cli/output/time_plot.h"
#include "cli/results/alignment.h"
#include "cli/results/comparison.h"
#include "cli/results/summary.h"
#include "cli/run/flag_warning.h"
#include "cli/run/input_run.h"
#include "cli/run/sidecar_claim.h"

// The modes of lineview: one input (or the built-in signal), several one after another (an
// archive), sidecars read back (--from), and one input watched in a window (--live). Each
// input's own run lives in cli/run.
namespace {

// A summary line with what a run that did not analyse its input says instead.
std::string Skipped(const std::string& json, const std::string& skipped) {
  if (skipped.empty()) return json;
  const size_t brace = json.rfind('}');
  return json.substr(0, brace) + ", \"skipped\": \"" + skipped + "\"" + json.substr(brace);
}

// The lines of one sidecar read back into the outputs: the JSON summaries (each with
// `skipped` where it stands for an input not analysed again), the verdicts' warnings and the
// report's timelines. Returns the input's status.
int SidecarLines(std::vector<Timeline>& lines, const CliOptions& options, std::ostream& out, Diagnostics& diag,
                 std::vector<Timeline>* timelines, const std::string& skipped) {
  int code = kExitOk;
  // Both fields of a judged interlaced run: one summary, as the run gave it.
  const bool paired = options.json && JudgedAsFieldPair(lines, options.limits);
  std::vector<RunSummary> fields;
  for (Timeline& t : lines) {
    const RunSummary summary = SummaryOf(t, options.limits);
    if (!t.error.empty()) {
      // The run could not analyse its input: the sidecar says why.
      code = WithInput(code, t.complete ? kExitCannotOpen : kExitIncomplete);
      if (options.json) out << Skipped(FailedInputJson(t.input, t.error, code, VerdictName(summary.verdict)), skipped);
    } else {
      if (summary.verdict.flagged) {
        WarnFlagged(t, summary.verdict, options.limits, diag);
        code = WithInput(code, kExitFlagged);
      }
      if (!t.complete) code = WithInput(code, kExitIncomplete);
      if (options.json && !paired) out << Skipped(CompactJson(SummaryJson(summary)), skipped) << '\n';
      if (paired) fields.push_back(summary);
    }
    if (timelines) timelines->push_back(std::move(t));
  }
  if (paired) out << Skipped(CompactJson(FieldPairJson(fields[0], fields[1])), skipped) << '\n';
  return code;
}

// An input whose sidecar is complete already, or being written by another run: not analysed,
// but in every output all the same.
int SkipInput(const std::string& input, SidecarClaim& claim, const CliOptions& options, std::ostream& out,
              Diagnostics& diag, std::vector<Timeline>* timelines) {
  if (claim.kind == SidecarClaim::Kind::Complete) {
    diag.Stream() << "lineview: '" << input << "': its sidecar '" << claim.target.path
                  << "' is complete, of the same input and settings: not analysed again (-y analyses again)\n";
    return SidecarLines(claim.lines, options, out, diag, timelines, "complete sidecar");
  }
  const std::string where = "in progress on " + claim.holder.host;
  diag.Warn(kExitIncomplete, "'" + input + "': " + where + " (pid " + std::to_string(claim.holder.pid) +
                                 "), whose lock is '" + claim.target.path + ".lock': skipped");
  if (options.json) out << Skipped(FailedInputJson(input, where, kExitIncomplete, "incomplete"), where);
  Timeline t;
  t.input = input, t.error = where, t.complete = false;
  if (timelines) timelines->push_back(std::move(t));
  return kExitIncomplete;
}

// Several inputs, one after another: an archive. Each input's JSON summary on a line of its
// own (an input that fails: its error), or one CSV whose rows name their input. An input that
// fails is reported and skipped; an output that fails, or a stop, ends the whole run.
int RunArchive(const CliOptions& options, const RunSettings& settings, std::ostream& out, Diagnostics& diag,
               bool errIsTerminal, std::vector<Timeline>* timelines) {
  int status = kExitOk;
  bool headerPending = true;
  std::set<std::string> pictureNames, sidecars;
  const std::string block = SettingsBlock(options, settings);
  for (const std::string& input : options.inputs) {
    CliOptions one = options;
    one.input = input;
    const std::string pictures = PictureName(input, pictureNames);
    SidecarClaim claim;
    if (options.sidecar) {
      claim = ClaimSidecar(input, options.sidecarDir, OriginOf(input, block), options.again, sidecars, diag);
      if (claim.kind == SidecarClaim::Kind::Failed) return kExitFailure;
      if (claim.kind != SidecarClaim::Kind::Write) {
        status = WithInput(status, SkipInput(input, claim, options, out, diag, timelines));
        out.flush();
        continue;
      }
    }
    int code = kExitOk;
    if (StopRequested()) {
      // Not reached: still in every output, as incomplete.
      std::ostringstream json;
      code = RecordNotAnalysed(one, settings, json, diag, kExitStopped, "not analysed: the run was stopped before it",
                               timelines, claim.target);
      if (options.json) out << json.str() << std::flush;
      if (code == kExitFailure) return code;
      continue;
    }
    if (options.json) {
      std::ostringstream json;
      code = RunInput(one, settings, json, diag, errIsTerminal, "", nullptr, nullptr, timelines, claim.target, pictures);
      out << (json.str().empty() ? FailedInputJson(input, diag.LastError(), code) : CompactJson(json.str()) + '\n');
      out.flush();  // each line as soon as it is known: a reader that has gone is found now
    } else {
      code = RunInput(one, settings, out, diag, errIsTerminal, CsvField(input) + ",", &headerPending, nullptr,
                      timelines, claim.target, pictures);
    }
    if (code == kExitFailure) return code;  // an output that cannot be written: the rest would fail alike
    if (!out) return diag.Fail(kExitFailure, "cannot write the output");
    status = WithInput(status, code);
  }
  out.flush();
  if (!out) return diag.Fail(kExitFailure, "cannot write the output");
  return status;
}

// The verdicts, the summaries and (in the caller) the report of sidecars, without decoding:
// each file as its run left it, judged by this command line's thresholds. A file cut short
// (a run killed outright) gives its frames up to its last whole one.
int RunFromSidecars(const CliOptions& options, std::ostream& out, Diagnostics& diag, std::vector<Timeline>* timelines) {
  int status = kExitOk;
  for (const std::string& path : options.from) {
    std::vector<Timeline> lines;
    std::string error;
    bool cut = false;
    int code = kExitOk;
    if (!ReadSidecar(path, &lines, &error, &cut)) {
      // Listed all the same: in the report as the sidecar, with why it could not be read.
      code = diag.Fail(cut ? kExitIncomplete : kExitCannotOpen, error);
      if (options.json) out << FailedInputJson(path, error, code, cut ? "incomplete" : "failed");
      Timeline unread;
      unread.input = path, unread.error = error, unread.complete = !cut;
      timelines->push_back(std::move(unread));
    }
    if (!lines.empty() && lines.front().cut && !lines.front().frames.empty()) {
      diag.Warn(kExitIncomplete,
                "'" + path + "' cut short at " + Clock(lines.front().frames.back().seconds, true) + ": the run did not finish");
    }
    code = WithInput(code, SidecarLines(lines, options, out, diag, timelines, ""));
    out.flush();
    if (!out) return diag.Fail(kExitFailure, "cannot write the output");
    status = WithInput(status, code);
  }
  return status;
}

// The pictures' text (none, with a warning, where no font is found) and the report's options.
std::unique_ptr<TextPainter> ReportText(Diagnostics& diag) {
  std::string error;
  std::unique_ptr<TextPainter> text = CreateTextPainter(&error);
  if (!text) diag.Warn(kExitNoFont, error + ": pictures without axis labels");
  return text;
}

ReportOptions ReportOptionsOf(const CliOptions& options) {
  ReportOptions ro;
  ro.limits = options.limits;
  ro.snrLow = options.snrLow, ro.snrHigh = options.snrHigh;
  return ro;
}

// --report of a comparison: one page for the pair.
bool WriteComparisonReport(const CliOptions& options, const Timeline& a, const Timeline& b, const Alignment& al,
                           const Comparison& c, Diagnostics& diag) {
  if (options.report.empty()) return true;
  std::unique_ptr<TextPainter> text = ReportText(diag);
  const ReportOptions ro = ReportOptionsOf(options);
  std::string error;
  if (WriteWholeFile(options.report, ComparisonReportHtml(a, b, al, c, ro, text.get()), &error)) return true;
  diag.Fail(kExitFailure, "cannot write '" + options.report + "': " + error);
  return false;
}

// Two captures' timelines lined up and compared: the CSV rows or the JSON object on `out`. A
// comparison that cannot be trusted (inputs of other heights, no overlap, no motion) is refused
// with its reason, never printed as fact.
int CompareTimelines(const CliOptions& options, const Timeline& a, const Timeline& b, std::ostream& out,
                     Diagnostics& diag, int status) {
  if (a.height != b.height && a.height > 0 && b.height > 0 && !options.lines.tvLines) {
    return diag.Fail(kExitUsage, "the inputs' frames are " + std::to_string(a.height) + " and " +
                                     std::to_string(b.height) + " rows high: one --line is not one picture line in "
                                     "both; name lines both hold with --tv-line");
  }
  if (a.method.kind != b.method.kind) {
    return diag.Fail(kExitUsage, std::string("A was measured by --snr ") + SnrMethodName(a.method.kind) + ", B by --snr " +
                                     SnrMethodName(b.method.kind) + ": their figures cannot be compared");
  }
  Signatures sa, sb;
  for (const auto& [t, s] : {std::pair{&a, &sa}, std::pair{&b, &sb}}) {
    s->reserve(t->frames.size());
    for (const TimelineFrame& f : t->frames) {
      if (!f.signature.valid) {
        return diag.Fail(kExitCannotOpen, "'" + t->input + "': no signature of its frames' pictures to align them by "
                                          "(a layout it cannot read, or a sidecar of an older lineview)");
      }
      s->push_back(f.signature);
    }
  }
  AlignOptions ao;
  ao.offset = options.offset;
  const Alignment al = Align(sa, sb, ao);
  char corr[32];
  std::snprintf(corr, sizeof corr, "%.2f", al.correlation);
  if (al.status == AlignStatus::NoMotion) {
    return diag.Fail(kExitCannotOpen, "the picture does not move: the offset between the captures cannot be known; "
                                      "give it with --offset N (0: they start together)");
  }
  if (al.status != AlignStatus::Aligned && options.offset) {
    return diag.Fail(kExitCannotOpen, "at --offset " + std::to_string(*options.offset) + " the captures have no frame "
                                      "in common");
  }
  if (al.status != AlignStatus::Aligned) {
    return diag.Fail(kExitCannotOpen, "the captures do not overlap: the best correlation of their pictures' changes "
                                      "is " + std::string(corr) + " (at an offset of " + std::to_string(al.offset) +
                                      " frames), 0.50 needed");
  }
  const Comparison c = Compare(a, b, al, options.minDelta, options.limits.flagGap);
  if (options.json) {
    out << ComparisonJson(a, b, al, c);
  } else {
    out << ComparisonCsvHeader(a.channelNames, a.method.Channels());
    for (const AlignedPair& p : al.pairs) out << ComparisonCsvRow(a, b, p);
  }
  out.flush();
  if (!out) return diag.Fail(kExitFailure, "cannot write the output");
  diag.Stream() << "lineview: " << VerdictText(c, a.channelNames) << '\n';
  return WriteComparisonReport(options, a, b, al, c, diag) ? status : kExitFailure;
}

// --compare A B: each input through a run of its own that keeps every frame's values and
// signature (a few dozen bytes a frame), then the two lined up.
int RunCompare(const CliOptions& options, const RunSettings& settings, std::ostream& out, Diagnostics& diag,
               bool errIsTerminal) {
  std::vector<Timeline> lines[2];
  std::set<std::string> sidecars;
  int status = kExitOk;
  for (int k = 0; k < 2 && !options.from.empty(); ++k) {
    // From sidecars: the values and signatures their runs kept, without decoding.
    std::string error;
    if (!ReadSidecar(options.from[k], &lines[k], &error) || lines[k].empty() || !lines[k].front().error.empty()) {
      return diag.Fail(kExitCannotOpen, error.empty() ? "'" + options.from[k] + "': its run analysed no frame" : error);
    }
  }
  const std::string block = SettingsBlock(options, settings);
  for (int k = 0; k < 2 && options.from.empty(); ++k) {
    CliOptions one = options;
    one.input = options.inputs[k];
    one.json = true;  // each run's own summary is not printed: the comparison is
    std::ostringstream ignored;
    SidecarClaim claim;
    if (options.sidecar) {
      // A complete sidecar of the same input and settings serves as its run; one in progress
      // elsewhere leaves nothing to compare.
      claim = ClaimSidecar(one.input, options.sidecarDir, OriginOf(one.input, block), options.again, sidecars, diag);
      if (claim.kind == SidecarClaim::Kind::Failed) return kExitFailure;
      if (claim.kind == SidecarClaim::Kind::InProgress) {
        return diag.Fail(kExitIncomplete, "'" + one.input + "': in progress on " + claim.holder.host + ": nothing to compare yet");
      }
      if (claim.kind == SidecarClaim::Kind::Complete) lines[k] = std::move(claim.lines);
    }
    const int code = claim.kind == SidecarClaim::Kind::Complete
                         ? kExitOk
                         : RunInput(one, settings, ignored, diag, errIsTerminal, "", nullptr, nullptr, &lines[k], claim.target);
    if (code == kExitFailure || StopRequested()) return code;
    if (lines[k].empty() || !lines[k].front().error.empty() || lines[k].front().frames.empty()) {
      return code != kExitOk ? code : kExitCannotOpen;
    }
    status = WithInput(status, code);
  }
  if (lines[0].size() > 1) {
    diag.Stream() << "lineview: several lines analysed: the comparison is of the first, row "
                  << lines[0].front().settings.TVLine << '\n';
  }
  return CompareTimelines(options, lines[0].front(), lines[1].front(), out, diag, status);
}

// --report and --plot over every timeline of the run (or of the sidecars read).
bool WriteReports(const CliOptions& options, const std::vector<Timeline>& timelines, Diagnostics& diag) {
  if (options.report.empty() && options.plot.empty()) return true;
  std::unique_ptr<TextPainter> text = ReportText(diag);
  const ReportOptions ro = ReportOptionsOf(options);
  std::string error;
  if (!options.report.empty()) {
    if (!WriteWholeFile(options.report, ReportHtml(timelines, ro, text.get()), &error)) {
      diag.Fail(kExitFailure, "cannot write '" + options.report + "': " + error);
      return false;
    }
  }
  if (!options.plot.empty() && !WritePng(PlotPicture(timelines, ro, text.get()), options.plot, &error)) {
    diag.Fail(kExitFailure, "cannot write '" + options.plot + "': " + error);
    return false;
  }
  return true;
}

// The files written at the end, proven writable before the first frame is decoded.
bool CheckOutputFiles(const CliOptions& options, Diagnostics& diag) {
  for (const std::string* path : {&options.report, &options.plot}) {
    std::string reason;
    if (!path->empty() && !CheckOutputPath(*path, &reason)) {
      diag.Fail(kExitFailure, "cannot write '" + *path + "': " + reason);
      return false;
    }
  }
  return true;
}

}  // namespace

int RunLineview(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool errIsTerminal) {
  CliOptions options;
  int exitCode = 0;
  std::string helpText, errorText;
  if (ParseCommandLine(args, &options, &exitCode, &helpText, &errorText) == ParseOutcome::Exit) {
    out << helpText;
    err << errorText;
    return exitCode;
  }
  Diagnostics diag(err);
  diag.SetErrorNote(TakeLibraryNote);
  InstallStopHandlers();
  const RunSettings settings = ResolveSettings(options, diag);
  if (!options.pngDir.empty() && !PrepareFolder(options.pngDir, diag)) return kExitFailure;
  if (!options.sidecarDir.empty() && !PrepareFolder(options.sidecarDir, diag)) return kExitFailure;
  if (!CheckOutputFiles(options, diag)) return kExitFailure;
  std::vector<Timeline> timelines;
  std::vector<Timeline>* kept = options.report.empty() && options.plot.empty() ? nullptr : &timelines;
  int status = kExitOk;
  if (options.compare) {
    return RunCompare(options, settings, out, diag, errIsTerminal);
  } else if (!options.from.empty()) {
    status = RunFromSidecars(options, out, diag, &timelines);
  } else if (options.inputs.size() > 1) {
    status = RunArchive(options, settings, out, diag, errIsTerminal, kept);
  } else {
    std::set<std::string> used;
    SidecarClaim claim;
    if (options.sidecar) {
      // The live window is watched: it always analyses.
      claim = ClaimSidecar(options.input, options.sidecarDir, OriginOf(options.input, SettingsBlock(options, settings)),
                           options.again || options.live, used, diag);
      if (claim.kind == SidecarClaim::Kind::Failed) return kExitFailure;
    }
    const SidecarTarget& sidecar = claim.target;
    if (claim.kind != SidecarClaim::Kind::Write) {
      status = SkipInput(options.input, claim, options, out, diag, kept);
    } else if (options.live) {
      status = RunLive(options, diag, [&](RunObserver* observer) {
        return RunInput(options, settings, out, diag, false, "", nullptr, observer, kept, sidecar);
      });
    } else {
      status = RunInput(options, settings, out, diag, errIsTerminal, "", nullptr, nullptr, kept, sidecar);
    }
  }
  if (status == kExitFailure || status == kExitUsage) return status;
  return WriteReports(options, timelines, diag) ? status : kExitFailure;
}
