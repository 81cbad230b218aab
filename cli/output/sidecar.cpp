#include "cli/output/sidecar.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "analysis/page_style.h"
#include "cli/options/cli_options.h"
#include "cli/common/line_choice.h"
#include "cli/output/markup.h"
#include "lineview_version.h"
#include "settings/settings_table.h"

namespace {

constexpr const char* kRoot =
    "ffprobe:ffprobe xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
    "xmlns:ffprobe=\"http://www.ffmpeg.org/schema/ffprobe\" "
    "xsi:schemaLocation=\"http://www.ffmpeg.org/schema/ffprobe ffprobe.xsd\"";
constexpr int kMaxSamples = 1 << 16;  // wider than any line a frame can have here

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

char ChannelLetter(const Timeline& t, int c) {
  return static_cast<char>(std::tolower(static_cast<unsigned char>(t.channelNames[c][0])));
}

// Every key of a line starts so: "lineview.line23." for row 23, "lineview." for a line alone ("").
std::string LinePrefix(const std::string& name) { return name.empty() ? "lineview." : "lineview.line" + name + "."; }
std::string Prefix(const Timeline& t, size_t lines) {
  return LinePrefix(lines > 1 || t.line >= 0 ? std::to_string(t.line) : "");
}

std::string SampleList(const std::vector<int32_t>& v) {
  std::string s;
  for (int32_t x : v) s += (s.empty() ? "" : " ") + std::to_string(x);
  return s;
}

}  // namespace

SidecarWriter::~SidecarWriter() {
  if (file_) gzclose(file_);
}

bool SidecarWriter::Open(const std::string& path, std::string* error) {
  path_ = path;
  file_ = gzopen(path.c_str(), "wb6");
  if (!file_) {
    *error = "cannot write '" + path + "': " + std::strerror(errno != 0 ? errno : EIO);
    return false;
  }
  return Put(std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<") + kRoot + ">\n  <frames>\n");
}

bool SidecarWriter::Put(const std::string& text) {
  buffer_ += text;
  if (buffer_.size() < (1u << 16)) return true;
  const bool ok = gzwrite(file_, buffer_.data(), static_cast<unsigned>(buffer_.size())) == static_cast<int>(buffer_.size());
  buffer_.clear();
  return ok;
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
  for (const Timeline* l : lines) {
    const TimelineFrame& f = l->frames.back();
    const std::string p = Prefix(*l, lines.size());
    for (int c = 0; c < 3; ++c) x += Tag(p + "snr." + ChannelLetter(*l, c), Fixed(f.snr[c], 4));
    for (int c = 0; c < 3; ++c) x += Tag(p + "snr50." + ChannelLetter(*l, c), Fixed(f.mean[c], 4));
  }
  return Put(x + "    </frame>\n");
}

bool SidecarWriter::Finish(const std::vector<const Timeline*>& lines, bool stopped) {
  if (!file_) return false;
  const Timeline& t = *lines.front();
  const double duration = t.frames.empty() ? 0.0 : t.frames.back().seconds - t.frames.front().seconds;
  std::string x = "  </frames>\n  <format filename=\"" + EscapeMarkup(t.input) +
                  "\" nb_streams=\"1\" nb_programs=\"0\" format_name=\"lineview\" duration=\"" + Fixed(duration, 6) +
                  "\">\n";
  x += Tag("lineview.version", LINEVIEW_VERSION_TEXT);
  x += Tag("lineview.complete", stopped ? "stopped" : "yes");
  const AnalysisSettings& s = t.settings;
  x += Tag("lineview.colour_space", s.ColorMode == 1 ? "yuv" : "rgb");
  x += Tag("lineview.interval", Fixed(s.StartCount * 0.1, 1) + ":" + Fixed(s.StopCount * 0.1, 1));
  x += Tag("lineview.levels", std::to_string(s.BlackLevel) + ":" + std::to_string(s.WhiteLevel));
  x += Tag("lineview.window", WindowName(s.WindowFunction) ? WindowName(s.WindowFunction) : std::to_string(s.WindowFunction));
  std::string pages;
  for (int p : t.pages) pages += (pages.empty() ? "" : ",") + std::string(PageName(p));
  x += Tag("lineview.pages", pages);
  x += Tag("lineview.frames_dropped", std::to_string(t.framesDropped));
  x += Tag("lineview.frames_damaged", std::to_string(t.framesDamaged));
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
    }
    const struct {
      const char* name;
      const LineSamples& samples;
    } kept[] = {{"worst", l->worst}, {"typical", l->typical}};
    for (const auto& k : kept) {
      if (k.samples.Empty()) continue;
      const std::string q = p + k.name + ".";
      x += Tag(q + "frame", std::to_string(k.samples.frame));
      x += Tag(q + "time", Fixed(k.samples.seconds, 6));
      for (int c = 0; c < 3; ++c) x += Tag(q + ChannelLetter(*l, c), SampleList(k.samples.channel[c]));
    }
  }
  x += "  </format>\n</ffprobe:ffprobe>\n";
  bool ok = Put(x);
  if (ok && !buffer_.empty()) {
    ok = gzwrite(file_, buffer_.data(), static_cast<unsigned>(buffer_.size())) == static_cast<int>(buffer_.size());
  }
  buffer_.clear();
  const bool closed = gzclose(file_) == Z_OK;
  file_ = nullptr;
  return ok && closed;
}

std::string SidecarPath(const std::string& input, const std::string& dir) {
  std::string name = input.empty() ? "builtin" : input == "-" ? "stdin" : input;
  // Nothing can be written beside stdin, the built-in signal or a URL: they go to the folder
  // named, else the current one.
  if (!dir.empty() || input.empty() || input == "-" || input.find("://") != std::string::npos) {
    name = name.substr(name.find_last_of('/') + 1);
    return (dir.empty() ? std::string() : dir + "/") + name + ".lineview.xml.gz";
  }
  return name + ".lineview.xml.gz";
}

// ---- reading back

namespace {

std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '&') {
      out += s[i];
      continue;
    }
    const size_t semi = s.find(';', i);
    if (semi == std::string::npos) {
      out += s[i];
      continue;
    }
    const std::string e = s.substr(i + 1, semi - i - 1);
    if (e == "amp") out += '&';
    else if (e == "lt") out += '<';
    else if (e == "gt") out += '>';
    else if (e == "quot") out += '"';
    else if (e == "apos") out += '\'';
    else if (!e.empty() && e[0] == '#') {
      const long code = e.size() > 1 && (e[1] == 'x' || e[1] == 'X') ? std::strtol(e.c_str() + 2, nullptr, 16)
                                                                       : std::strtol(e.c_str() + 1, nullptr, 10);
      // UTF-8 of the code point; out-of-range ones become U+FFFD.
      unsigned long cp = code > 0 && code <= 0x10FFFF ? static_cast<unsigned long>(code) : 0xFFFD;
      if (cp < 0x80) {
        out += static_cast<char>(cp);
      } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6)), out += static_cast<char>(0x80 | (cp & 0x3F));
      } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12)), out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
      } else {
        out += static_cast<char>(0xF0 | (cp >> 18)), out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F)), out += static_cast<char>(0x80 | (cp & 0x3F));
      }
    } else {
      out += '&' + e + ';';
    }
    i = semi;
  }
  return out;
}

struct Element {
  std::string name;  // "/frame" for an end tag
  std::map<std::string, std::string> attributes;
};

// The next element of `text` from `at`; false at the end. Comments, declarations and text
// between elements are passed over.
bool NextElement(const std::string& text, size_t& at, Element* e) {
  for (;;) {
    const size_t open = text.find('<', at);
    if (open == std::string::npos) return false;
    if (text.compare(open, 4, "<!--") == 0) {
      const size_t end = text.find("-->", open);
      if (end == std::string::npos) return false;
      at = end + 3;
      continue;
    }
    size_t i = open + 1;
    if (i < text.size() && (text[i] == '?' || text[i] == '!')) {
      const size_t end = text.find('>', i);
      if (end == std::string::npos) return false;
      at = end + 1;
      continue;
    }
    const size_t nameEnd = text.find_first_of(" \t\r\n/>", i + 1);  // an end tag starts with its slash
    if (nameEnd == std::string::npos) return false;
    e->name = text.substr(i, nameEnd - i);
    e->attributes.clear();
    i = nameEnd;
    for (;;) {
      i = text.find_first_not_of(" \t\r\n", i);
      if (i == std::string::npos) return false;
      if (text[i] == '>' || text[i] == '/') break;
      const size_t eq = text.find('=', i);
      if (eq == std::string::npos || eq + 1 >= text.size()) return false;
      const char quote = text[eq + 1];
      if (quote != '"' && quote != '\'') return false;
      const size_t close = text.find(quote, eq + 2);
      if (close == std::string::npos) return false;
      std::string name = text.substr(i, eq - i);
      name.erase(name.find_last_not_of(" \t\r\n") + 1);
      e->attributes[name] = Unescape(text.substr(eq + 2, close - eq - 2));
      i = close + 1;
    }
    const size_t end = text.find('>', i);
    if (end == std::string::npos) return false;
    at = end + 1;
    // A local name: the root carries its namespace prefix.
    const size_t colon = e->name.find(':');
    if (colon != std::string::npos) e->name = (e->name[0] == '/' ? "/" : "") + e->name.substr(colon + 1);
    return true;
  }
}

bool ReadGzip(const std::string& path, std::string* text, std::string* error) {
  gzFile f = gzopen(path.c_str(), "rb");
  if (!f) {
    *error = "cannot open '" + path + "': " + std::strerror(errno != 0 ? errno : ENOENT);
    return false;
  }
  char buf[1 << 16];
  int n = 0;
  while ((n = gzread(f, buf, sizeof buf)) > 0) text->append(buf, n);
  int code = Z_OK;
  const char* message = gzerror(f, &code);
  gzclose(f);
  if (n < 0 || (code != Z_OK && code != Z_STREAM_END)) {
    *error = "'" + path + "' is damaged (" + message + ")";
    return false;
  }
  return true;
}

bool ParseDouble(const std::string& s, double* v) {
  if (s.empty()) return false;
  char* end = nullptr;
  *v = std::strtod(s.c_str(), &end);
  return *end == '\0';
}

bool ParseInt(const std::string& s, int64_t* v) {
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  *v = std::strtoll(s.c_str(), &end, 10);
  return *end == '\0' && errno == 0;
}

int ChannelOfLetter(char c) {
  switch (c) {
    case 'r': case 'y': return 0;
    case 'g': case 'u': return 1;
    case 'b': case 'v': return 2;
    default: return -1;
  }
}

// A key of a line's value: its line ("" alone) and what follows the line's part.
bool SplitKey(const std::string& key, std::string* line, std::string* rest) {
  if (key.compare(0, 9, "lineview.") != 0) return false;
  std::string k = key.substr(9);
  line->clear();
  if (k.compare(0, 4, "line") == 0 && k.size() > 4 && std::isdigit(static_cast<unsigned char>(k[4]))) {
    const size_t dot = k.find('.');
    if (dot == std::string::npos) return false;
    *line = k.substr(4, dot - 4);
    k = k.substr(dot + 1);
  }
  *rest = k;
  return true;
}

}  // namespace

bool ReadSidecar(const std::string& path, std::vector<Timeline>* lines, std::string* error) {
  std::string text;
  if (!ReadGzip(path, &text, error)) return false;
  const std::string bad = "'" + path + "' is not a lineview sidecar";
  std::vector<std::string> names;  // the lines in the order their values first came
  std::vector<Timeline> found;
  auto lineOf = [&](const std::string& name) -> Timeline& {
    for (size_t i = 0; i < names.size(); ++i) {
      if (names[i] == name) return found[i];
    }
    names.push_back(name);
    found.emplace_back();
    if (!name.empty()) found.back().line = std::atoi(name.c_str());
    return found.back();
  };
  enum { Outside, InFrame, InFormat } where = Outside;
  bool sawRoot = false, sawFormat = false, sawEnd = false;
  double frameTime = 0.0;
  int64_t frameIndex = -1;
  std::map<std::string, TimelineFrame> frameLines;
  AnalysisSettings settings = DefaultSettings();
  SettingRecord table[kSettingCount];
  MakeSettingsTable(settings, table);
  std::map<std::string, std::string> formatTags;
  std::string input;
  size_t at = 0;
  Element e;
  while (NextElement(text, at, &e)) {
    if (e.name == "ffprobe") sawRoot = true;
    if (e.name == "/ffprobe") sawEnd = true;
    if (e.name == "frame") {
      where = InFrame;
      frameIndex = -1;
      frameLines.clear();
      if (!ParseDouble(e.attributes["best_effort_timestamp_time"], &frameTime)) frameTime = 0.0;
    } else if (e.name == "/frame" && where == InFrame) {
      where = Outside;
      if (frameIndex < 0) {
        *error = bad + ": a frame without its number";
        return false;
      }
      for (auto& [name, f] : frameLines) {
        f.index = frameIndex;
        f.seconds = frameTime;
        lineOf(name).frames.push_back(f);
      }
    } else if (e.name == "format") {
      where = InFormat;
      sawFormat = true;
      input = e.attributes["filename"];
    } else if (e.name == "/format") {
      where = Outside;
    } else if (e.name == "tag" && where != Outside) {
      const std::string key = e.attributes["key"], value = e.attributes["value"];
      if (where == InFormat) {
        formatTags[key] = value;
        continue;
      }
      std::string name, rest;
      if (!SplitKey(key, &name, &rest)) continue;
      if (rest == "frame") {
        if (!ParseInt(value, &frameIndex)) frameIndex = -1;
        continue;
      }
      const bool mean = rest.compare(0, 6, "snr50.") == 0;
      if (!mean && rest.compare(0, 4, "snr.") != 0) continue;
      const std::string letter = rest.substr(mean ? 6 : 4);
      const int c = letter.size() == 1 ? ChannelOfLetter(letter[0]) : -1;
      double v = 0;
      if (c < 0 || !ParseDouble(value, &v)) {
        *error = bad + ": value '" + value + "' of " + key;
        return false;
      }
      (mean ? frameLines[name].mean : frameLines[name].snr)[c] = v;
    }
  }
  if (!sawRoot) {
    *error = bad;
    return false;
  }
  if (!sawFormat || !sawEnd) {
    *error = "'" + path + "' ends early: its run did not finish writing it";
    return false;
  }
  for (SettingRecord& r : table) {
    int64_t v = 0;
    auto it = formatTags.find(std::string("lineview.setting.") + r.key);
    if (it != formatTags.end() && ParseInt(it->second, &v) && v >= INT32_MIN && v <= INT32_MAX) {
      *static_cast<int32_t*>(r.value) = static_cast<int32_t>(v);
    }
  }
  std::vector<int> pages;
  {
    const std::string list = formatTags["lineview.pages"];
    size_t from = 0;
    while (from < list.size()) {
      const size_t comma = std::min(list.find(',', from), list.size());
      const std::string name = list.substr(from, comma - from);
      for (int p = 0; p < 3; ++p) {
        if (name == PageName(p)) pages.push_back(p);
      }
      from = comma + 1;
    }
  }
  int64_t dropped = 0, damaged = 0;
  ParseInt(formatTags["lineview.frames_dropped"], &dropped);
  ParseInt(formatTags["lineview.frames_damaged"], &damaged);
  // The lines in the order the run named them; one stopped before its first frame has them
  // only here.
  {
    const std::string list = formatTags["lineview.lines"];
    size_t from = 0;
    std::vector<std::string> order;
    while (from < list.size()) {
      const size_t comma = std::min(list.find(',', from), list.size());
      const std::string name = list.substr(from, comma - from);
      if (std::find(order.begin(), order.end(), name) == order.end()) order.push_back(name);
      lineOf(name);
      from = comma + 1;
    }
    for (const std::string& n : names) {
      if (std::find(order.begin(), order.end(), n) == order.end()) order.push_back(n);
    }
    std::vector<Timeline> ordered;
    for (const std::string& n : order) ordered.push_back(std::move(found[std::find(names.begin(), names.end(), n) - names.begin()]));
    found = std::move(ordered);
    names = std::move(order);
  }
  if (found.empty()) lineOf("");
  const bool yuv = settings.ColorMode == 1;
  static const char* const kRgb[3] = {"R", "G", "B"};
  static const char* const kYuv[3] = {"Y", "U", "V"};
  for (size_t i = 0; i < found.size(); ++i) {
    Timeline& t = found[i];
    t.input = input;
    t.settings = settings;
    t.pages = pages;
    t.framesDropped = dropped;
    t.framesDamaged = damaged;
    for (int c = 0; c < 3; ++c) t.channelNames[c] = yuv ? kYuv[c] : kRgb[c];
    const std::string p = LinePrefix(names[i]);
    if (t.line >= 0) t.settings.TVLine = t.line;
    if (formatTags.count(p + "field")) t.field = formatTags[p + "field"] == "bottom" ? 1 : 0;
    int64_t tv = 0;
    if (ParseInt(formatTags[p + "tv_line"], &tv) && tv > 0 && tv < 10000) t.tvLine = static_cast<int>(tv);
    LineSamples* kept[2] = {&t.worst, &t.typical};
    const char* keptNames[2] = {"worst", "typical"};
    for (int k = 0; k < 2; ++k) {
      const std::string q = p + keptNames[k] + ".";
      LineSamples s;
      if (!ParseInt(formatTags[q + "frame"], &s.frame) || !ParseDouble(formatTags[q + "time"], &s.seconds)) continue;
      bool ok = true;
      for (int c = 0; c < 3 && ok; ++c) {
        const std::string& list = formatTags[q + std::string(1, ChannelLetter(t, c))];
        const char* cursor = list.c_str();
        char* end = nullptr;
        for (long v = std::strtol(cursor, &end, 10); end != cursor; v = std::strtol(cursor, &end, 10)) {
          s.channel[c].push_back(static_cast<int32_t>(std::clamp<long>(v, INT32_MIN, INT32_MAX)));
          cursor = end;
        }
        ok = !s.channel[c].empty() && s.channel[c].size() <= kMaxSamples && s.channel[c].size() == s.channel[0].size();
      }
      if (ok) *kept[k] = std::move(s);
    }
  }
  *lines = std::move(found);
  return true;
}
