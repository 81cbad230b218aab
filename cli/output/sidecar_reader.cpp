#include "cli/output/sidecar_reader.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>

#include "cli/common/names.h"
#include "cli/output/sidecar_keys.h"
#include "settings/settings_table.h"

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

bool ReadGzip(const std::string& path, std::string* text, std::string* error, bool* cut) {
  gzFile f = gzopen(path.c_str(), "rb");
  if (!f) {
    *error = "cannot open '" + path + "': " + std::strerror(errno != 0 ? errno : ENOENT);
    return false;
  }
  char buf[1 << 16];
  int n = 0;
  while ((n = gzread(f, buf, sizeof buf)) > 0) text->append(buf, n);
  int code = Z_OK;
  gzerror(f, &code);  // only the code: the text lives only as long as the file, and names zlib's details
  const int readErrno = errno;
  gzclose(f);
  if (n >= 0 && (code == Z_OK || code == Z_STREAM_END)) return true;
  *cut = code == Z_BUF_ERROR;
  // One fixed text per kind of fault, so that the same file gives the same message every time.
  const std::string why = code == Z_BUF_ERROR    ? "it is cut short: its run did not finish writing it"
                          : code == Z_DATA_ERROR ? "its compressed data are damaged"
                          : code == Z_ERRNO      ? std::strerror(readErrno != 0 ? readErrno : EIO)
                                                 : "it cannot be decompressed";
  *error = "'" + path + "' is damaged: " + why;
  return false;
}

// Text for a message: bytes that are not valid UTF-8 (a foreign file's, a name's) and control
// characters become '?', so that a message always reads and parses the same.
std::string CleanText(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    bool valid = n > 0 && i + n <= s.size() && !(n == 2 && c < 0xC2) && !(n == 4 && c > 0xF4);
    for (size_t k = 1; valid && k < n; ++k) valid = (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
    if (!valid || (n == 1 && (c < 0x20 || c == 0x7F))) {
      out += '?';
      ++i;
    } else {
      out.append(s, i, n);
      i += n;
    }
  }
  return out;
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

// What a sidecar holds, gathered in one pass over its elements.
struct SidecarContent {
  std::vector<std::string> names;  // the lines in the order their values first came
  std::vector<Timeline> found;
  std::map<std::string, std::string> formatTags;
  std::string input;
  bool sawRoot = false, sawFormat = false, sawEnd = false;

  Timeline& LineOf(const std::string& name) {
    for (size_t i = 0; i < names.size(); ++i) {
      if (names[i] == name) return found[i];
    }
    names.push_back(name);
    found.emplace_back();
    if (!name.empty()) found.back().line = std::atoi(name.c_str());
    return found.back();
  }
};

// One frame's values as its tags come, per line.
struct FrameValues {
  double seconds = 0.0;
  int64_t index = -1;
  std::map<std::string, TimelineFrame> lines;
};

// A frame's tag into `f`; false with *error for a value that is not a number.
bool FrameTag(const std::string& key, const std::string& value, FrameValues& f, const std::string& bad,
              std::string* error) {
  std::string name, rest;
  if (!SplitKey(key, &name, &rest)) return true;
  if (rest == "frame") {
    if (!ParseInt(value, &f.index)) f.index = -1;
    return true;
  }
  const bool mean = rest.compare(0, 6, "snr50.") == 0 || rest.compare(0, 6, "snr1s.") == 0;
  if (!mean && rest.compare(0, 4, "snr.") != 0) return true;
  const std::string letter = rest.substr(mean ? 6 : 4);
  const int c = letter.size() == 1 ? ChannelOfLetter(letter[0]) : -1;
  double v = 0;
  if (c < 0 || !ParseDouble(value, &v)) {
    *error = bad + ": value '" + value + "' of " + key;
    return false;
  }
  (mean ? f.lines[name].mean : f.lines[name].snr)[c] = v;
  return true;
}

// Every element of the text: the frames into their lines, the format's tags kept.
bool ReadElements(const std::string& text, const std::string& bad, SidecarContent& s, std::string* error) {
  enum { Outside, InFrame, InFormat } where = Outside;
  FrameValues frame;
  size_t at = 0;
  Element e;
  while (NextElement(text, at, &e)) {
    if (e.name == "ffprobe") s.sawRoot = true;
    if (e.name == "/ffprobe") s.sawEnd = true;
    if (e.name == "frame") {
      where = InFrame;
      frame = FrameValues{};
      if (!ParseDouble(e.attributes["best_effort_timestamp_time"], &frame.seconds)) frame.seconds = 0.0;
    } else if (e.name == "/frame" && where == InFrame) {
      where = Outside;
      if (frame.index < 0) {
        *error = bad + ": a frame without its number";
        return false;
      }
      for (auto& [name, f] : frame.lines) {
        f.index = frame.index;
        f.seconds = frame.seconds;
        s.LineOf(name).frames.push_back(f);
      }
    } else if (e.name == "format") {
      where = InFormat;
      s.sawFormat = true;
      s.input = e.attributes["filename"];
    } else if (e.name == "/format") {
      where = Outside;
    } else if (e.name == "tag" && where == InFormat) {
      s.formatTags[e.attributes["key"]] = e.attributes["value"];
    } else if (e.name == "tag" && where == InFrame) {
      if (!FrameTag(e.attributes["key"], e.attributes["value"], frame, bad, error)) return false;
    }
  }
  return true;
}

// The names of a comma-separated list, in order.
std::vector<std::string> ListItems(const std::string& list) {
  std::vector<std::string> items;
  size_t from = 0;
  while (from < list.size()) {
    const size_t comma = std::min(list.find(',', from), list.size());
    items.push_back(list.substr(from, comma - from));
    from = comma + 1;
  }
  return items;
}

AnalysisSettings SettingsOf(const std::map<std::string, std::string>& tags) {
  AnalysisSettings settings = DefaultSettings();
  SettingRecord table[kSettingCount];
  MakeSettingsTable(settings, table);
  for (SettingRecord& r : table) {
    int64_t v = 0;
    auto it = tags.find(std::string("lineview.setting.") + r.key);
    if (it != tags.end() && ParseInt(it->second, &v) && v >= INT32_MIN && v <= INT32_MAX) {
      *static_cast<int32_t*>(r.value) = static_cast<int32_t>(v);
    }
  }
  return settings;
}

std::vector<int> PagesOf(const std::string& list) {
  std::vector<int> pages;
  for (const std::string& name : ListItems(list)) {
    for (int p = 0; p < 3; ++p) {
      if (name == PageName(p)) pages.push_back(p);
    }
  }
  return pages;
}

// The lines in the order the run named them; one stopped before its first frame has them
// only in the format's list.
void OrderLines(SidecarContent& s) {
  std::vector<std::string> order;
  for (const std::string& name : ListItems(s.formatTags["lineview.lines"])) {
    if (std::find(order.begin(), order.end(), name) == order.end()) order.push_back(name);
    s.LineOf(name);
  }
  for (const std::string& n : s.names) {
    if (std::find(order.begin(), order.end(), n) == order.end()) order.push_back(n);
  }
  std::vector<Timeline> ordered;
  for (const std::string& n : order) {
    ordered.push_back(std::move(s.found[std::find(s.names.begin(), s.names.end(), n) - s.names.begin()]));
  }
  s.found = std::move(ordered);
  s.names = std::move(order);
}

// A kept frame's samples under `q` ("lineview.worst."); false when the file has none whole.
bool KeptSamples(std::map<std::string, std::string>& tags, const std::string& q, const Timeline& t, LineSamples* out) {
  LineSamples s;
  if (!ParseInt(tags[q + "frame"], &s.frame) || !ParseDouble(tags[q + "time"], &s.seconds)) return false;
  for (int c = 0; c < 3; ++c) {
    const std::string& list = tags[q + std::string(1, ChannelLetter(t, c))];
    const char* cursor = list.c_str();
    char* end = nullptr;
    for (long v = std::strtol(cursor, &end, 10); end != cursor; v = std::strtol(cursor, &end, 10)) {
      s.channel[c].push_back(static_cast<int32_t>(std::clamp<long>(v, INT32_MIN, INT32_MAX)));
      cursor = end;
    }
    if (s.channel[c].empty() || s.channel[c].size() > kMaxSamples || s.channel[c].size() != s.channel[0].size()) {
      return false;
    }
  }
  *out = std::move(s);
  return true;
}

// "4.000000:13,8.000000:2": the gaps in the frames' times; what does not read is left out.
std::vector<DropRange> DropRangesOf(const std::string& list) {
  std::vector<DropRange> ranges;
  for (const std::string& item : ListItems(list)) {
    const size_t colon = item.find(':');
    DropRange d;
    if (colon != std::string::npos && ParseDouble(item.substr(0, colon), &d.at) &&
        ParseInt(item.substr(colon + 1), &d.frames) && d.frames > 0) {
      ranges.push_back(d);
    }
  }
  return ranges;
}

// What every line of the file shares, then what is its own.
void CompleteLines(SidecarContent& s) {
  std::map<std::string, std::string>& tags = s.formatTags;
  const AnalysisSettings settings = SettingsOf(tags);
  const std::vector<int> pages = PagesOf(tags["lineview.pages"]);
  int64_t dropped = 0, damaged = 0;
  ParseInt(tags["lineview.frames_dropped"], &dropped);
  ParseInt(tags["lineview.frames_damaged"], &damaged);
  for (size_t i = 0; i < s.found.size(); ++i) {
    Timeline& t = s.found[i];
    t.input = s.input;
    t.settings = settings;
    t.method = SnrMethodOf(tags);
    // What a luminance method does not measure is no value (not 0 dB).
    for (TimelineFrame& f : t.frames) {
      for (int c = t.method.Channels(); c < 3; ++c) f.snr[c] = f.mean[c] = NAN;
    }
    t.pages = pages;
    t.framesDropped = dropped;
    t.framesDamaged = damaged;
    t.dropped = DropRangesOf(tags["lineview.dropped"]);
    t.complete = tags["lineview.complete"] != "stopped";
    t.error = tags["lineview.error"];
    t.channelNames = ChannelNames(settings.ColorMode);
    const std::string p = LinePrefix(s.names[i]);
    if (t.line >= 0) t.settings.TVLine = t.line;
    if (tags.count(p + "field")) t.field = tags[p + "field"] == FieldName(1) ? 1 : 0;
    int64_t tv = 0;
    if (ParseInt(tags[p + "tv_line"], &tv) && tv > 0 && tv < 10000) t.tvLine = static_cast<int>(tv);
    if (tags.count(p + "quiet_line")) t.quietLine = tags[p + "quiet_line"] == "true" ? 1 : 0;
    for (const KeptFrame& k : kKeptFrames) KeptSamples(tags, p + k.name + ".", t, &(t.*k.samples));
  }
}

bool ReadSidecarText(const std::string& path, std::vector<Timeline>* lines, std::string* error, bool* cut) {
  std::string text;
  if (!ReadGzip(path, &text, error, cut)) return false;
  SidecarContent s;
  if (!ReadElements(text, "'" + path + "' is not a lineview sidecar", s, error)) return false;
  if (!s.sawRoot) {
    *error = "'" + path + "' is not a lineview sidecar";
    return false;
  }
  if (!s.sawFormat || !s.sawEnd) {
    *cut = true;
    *error = "'" + path + "' ends early: its run did not finish writing it";
    return false;
  }
  OrderLines(s);
  if (s.found.empty()) s.LineOf("");
  CompleteLines(s);
  *lines = std::move(s.found);
  return true;
}

}  // namespace

bool ReadSidecar(const std::string& path, std::vector<Timeline>* lines, std::string* error, bool* cut) {
  bool wasCut = false;
  if (cut) *cut = false;
  if (!ReadSidecarText(path, lines, error, &wasCut)) {
    if (cut) *cut = wasCut;
    *error = CleanText(*error);
    return false;
  }
  return true;
}
