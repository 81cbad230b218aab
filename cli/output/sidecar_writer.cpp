#include "cli/output/sidecar_writer.h"

#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "cli/common/names.h"
#include "cli/output/markup.h"
#include "cli/output/sidecar_keys.h"
#include "cli/output/sidecar_lock.h"
#include "lineview_version.h"
#include "settings/settings_table.h"

namespace {

constexpr const char* kRoot =
    "ffprobe:ffprobe xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
    "xmlns:ffprobe=\"http://www.ffmpeg.org/schema/ffprobe\" "
    "xsi:schemaLocation=\"http://www.ffmpeg.org/schema/ffprobe ffprobe.xsd\"";

std::string Fixed(double v, int decimals) {
  if (std::isnan(v)) return "nan";
  if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
  char b[64];
  std::snprintf(b, sizeof b, "%.*f", decimals, v);
  return b;
}

std::string Tag(const std::string& key, const std::string& value) {
  return "      <tag key=\"" + EscapeMarkup(key) + "\" value=\"" + EscapeMarkup(value) + "\"/>\n";
}

std::string Prefix(const Timeline& t, size_t lines) {
  return LinePrefix(lines > 1 || t.line >= 0 ? std::to_string(t.line) : "");
}

double WallSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string SampleList(const std::vector<int32_t>& v) {
  std::string s;
  for (int32_t x : v) s += (s.empty() ? "" : " ") + std::to_string(x);
  return s;
}

}  // namespace

SidecarWriter::~SidecarWriter() {
  if (file_) gzclose(file_);
  if (lock_ && !lock_->StillOurs()) target_.Disown();  // the .part is the newer run's now
}

bool SidecarWriter::Open(const SidecarTarget& sidecar, std::string* error) {
  const std::string& path = sidecar.path;
  origin_ = sidecar.origin;
  lock_ = sidecar.lock;
  syncedWall_ = WallSeconds();
  std::string reason;
  // zlib closes its own copy of the descriptor; the file keeps the other to flush and rename.
  const int fd = target_.Open(path, &reason, true) ? dup(target_.Fd()) : -1;
  file_ = fd >= 0 ? gzdopen(fd, "wb6") : nullptr;
  if (!file_) {
    if (fd >= 0) close(fd);
    if (reason.empty()) reason = std::strerror(errno != 0 ? errno : EIO);
    target_.Abort();
    *error = "cannot write '" + path + "': " + reason;
    return false;
  }
  return Put(std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<") + kRoot + ">\n  <frames>\n");
}

// The system's reason, taken before anything else can change errno.
bool SidecarWriter::Failed(int err) {
  error_ = std::strerror(err != 0 ? err : EIO);
  return false;
}

bool SidecarWriter::Flush() {
  errno = 0;
  const bool ok = buffer_.empty() ||
                  gzwrite(file_, buffer_.data(), static_cast<unsigned>(buffer_.size())) == static_cast<int>(buffer_.size());
  buffer_.clear();
  return ok || Failed(errno);
}

bool SidecarWriter::Put(const std::string& text) {
  buffer_ += text;
  return buffer_.size() < (1u << 16) || Flush();
}

// A gzip sync point: everything written so far decompresses from the file as it is, whatever
// happens to the process next. At least once a second of video, and every 5 s of a slow input.
bool SidecarWriter::SyncPoint(double seconds) {
  const double now = WallSeconds();
  if (seconds < syncedVideo_ + 1.0 && seconds >= syncedVideo_ && now < syncedWall_ + 5.0) return true;
  syncedVideo_ = seconds, syncedWall_ = now;
  if (!Flush()) return false;
  errno = 0;
  if (gzflush(file_, Z_SYNC_FLUSH) != Z_OK) return Failed(errno);
  if (lock_) lock_->Refresh();
  return true;
}

bool SidecarWriter::Frame(const std::vector<const Timeline*>& lines, int width, int height, double frameRate) {
  if (!file_ || lines.empty() || lines.front()->frames.empty()) return file_ != nullptr;
  const TimelineFrame& first = lines.front()->frames.back();
  const std::string t = Fixed(first.seconds, 6);
  std::string x = "    <frame media_type=\"video\" stream_index=\"0\" key_frame=\"0\" pts_time=\"" + t +
                  "\" best_effort_timestamp_time=\"" + t + "\" pkt_duration_time=\"" +
                  Fixed(frameRate > 0 ? 1.0 / frameRate : 0.0, 6) + "\" width=\"" + std::to_string(width) +
                  "\" height=\"" + std::to_string(height) + "\">\n";
  x += Tag("lineview.frame", std::to_string(first.index));
  if (first.signature.valid) x += Tag("lineview.signature", SignatureText(first.signature));
  for (const Timeline* l : lines) {
    const TimelineFrame& f = l->frames.back();
    const std::string p = Prefix(*l, lines.size());
    const int channels = l->method.Channels();
    for (int c = 0; c < channels; ++c) x += Tag(p + "snr." + ChannelLetter(*l, c), Fixed(f.snr[c], 4));
    for (int c = 0; c < channels; ++c) {
      x += Tag(p + RunningKey(l->method) + "." + ChannelLetter(*l, c), Fixed(f.mean[c], 4));
    }
  }
  ++frames_;
  return Put(x + "    </frame>\n") && SyncPoint(first.seconds);
}

bool SidecarWriter::Finish(const std::vector<const Timeline*>& lines, bool stopped) {
  if (!file_) return false;
  const Timeline& t = *lines.front();
  const double duration = t.frames.empty() ? 0.0 : t.frames.back().seconds - t.frames.front().seconds;
  std::string x = "  </frames>\n  <format filename=\"" + EscapeMarkup(t.input) +
                  "\" nb_streams=\"1\" nb_programs=\"0\" format_name=\"lineview\" duration=\"" + Fixed(duration, 6) +
                  "\">\n";
  x += Tag("lineview.version", LINEVIEW_VERSION_TEXT);
  x += Tag("lineview.complete", stopped ? "stopped" : !t.error.empty() ? "failed" : "yes");
  if (!t.error.empty()) x += Tag("lineview.error", t.error);
  const AnalysisSettings& s = t.settings;
  x += Tag("lineview.colour_space", s.ColorMode == 1 ? "yuv" : "rgb");
  for (const auto& tag : SnrMethodTags(t.method)) x += Tag(tag.first, tag.second);
  x += Tag("lineview.interval", Fixed(s.StartCount * 0.1, 1) + ":" + Fixed(s.StopCount * 0.1, 1));
  x += Tag("lineview.levels", std::to_string(s.BlackLevel) + ":" + std::to_string(s.WhiteLevel));
  x += Tag("lineview.window", WindowName(s.WindowFunction) ? WindowName(s.WindowFunction) : std::to_string(s.WindowFunction));
  std::string pages;
  for (int p : t.pages) pages += (pages.empty() ? "" : ",") + std::string(PageName(p));
  x += Tag("lineview.pages", pages);
  x += Tag("lineview.frames_dropped", std::to_string(t.framesDropped));
  std::string gaps;
  for (const DropRange& d : t.dropped) gaps += (gaps.empty() ? "" : ",") + Fixed(d.at, 6) + ":" + std::to_string(d.frames);
  if (!gaps.empty()) x += Tag("lineview.dropped", gaps);
  x += Tag("lineview.frames_damaged", std::to_string(t.framesDamaged));
  for (const auto& tag : ThresholdTags(limits_)) x += Tag(tag.first, tag.second);
  if (origin_.known) {
    x += Tag("lineview.input_size", std::to_string(origin_.size));
    x += Tag("lineview.input_modified", origin_.modified);
  }
  if (!origin_.settings.empty()) x += Tag("lineview.run_settings", origin_.settings);
  // All of them, under the settings file's names: the report draws its pictures with them.
  AnalysisSettings copy = s;
  SettingRecord table[kSettingCount];
  MakeSettingsTable(copy, table);
  for (const SettingRecord& r : table) {
    x += Tag(std::string("lineview.setting.") + r.key, std::to_string(*static_cast<int32_t*>(r.value)));
  }
  std::string rows;
  for (const Timeline* l : lines) rows += (rows.empty() ? "" : ",") + std::to_string(l->line);
  if (lines.size() > 1 || t.line >= 0) x += Tag("lineview.lines", rows);
  for (const Timeline* l : lines) {
    const std::string p = Prefix(*l, lines.size());
    if (l->line >= 0) {
      x += Tag(p + "row", std::to_string(l->line));
      if (l->field >= 0) x += Tag(p + "field", FieldName(l->field));
      if (l->tvLine > 0) x += Tag(p + "tv_line", std::to_string(l->tvLine));
    } else if (l->tvLine > 0) {
      x += Tag(p + "tv_line", std::to_string(l->tvLine));  // the one line of the settings, as a standard line
    }
    if (l->quietLine >= 0) x += Tag(p + "quiet_line", l->quietLine ? "true" : "false");
    for (const auto& tag : VerdictTags(*l, limits_, p)) x += Tag(tag.first, tag.second);
    for (const KeptFrame& k : kKeptFrames) {
      const LineSamples& samples = l->*k.samples;
      if (samples.Empty()) continue;
      const std::string q = p + k.name + ".";
      x += Tag(q + "frame", std::to_string(samples.frame));
      x += Tag(q + "time", Fixed(samples.seconds, 6));
      for (int c = 0; c < 3; ++c) x += Tag(q + ChannelLetter(*l, c), SampleList(samples.channel[c]));
    }
  }
  // Last: a file that holds it, with as many frames, was written to its end.
  x += Tag("lineview.end", std::to_string(frames_) + " frames");
  x += "  </format>\n</ffprobe:ffprobe>\n";
  bool ok = Put(x) && Flush();
  errno = 0;
  const bool closed = gzclose(file_) == Z_OK;
  file_ = nullptr;
  if (ok && !closed) ok = Failed(errno);
  if (ok && lock_ && !lock_->StillOurs()) {
    ok = false;
    error_ = "its lock was taken over by another run: that run's file is left as it is";
    target_.Disown();
  }
  if (!ok) {
    target_.Abort();
    return false;
  }
  return target_.Commit(&error_);
}
