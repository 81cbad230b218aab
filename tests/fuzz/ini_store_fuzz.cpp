// Arbitrary bytes as the settings file, arbitrary sections and keys looked up in it.
// Every answer is checked against a plain model of the lookup rules built over the whole text,
// and a written section/key/value must read back.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "settings/ini_files.h"
#include "settings/ini_store.h"

namespace {

bool Space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && Space(s[b])) ++b;
  while (e > b && Space(s[e - 1])) --e;
  return s.substr(b, e - b);
}

struct Line {
  size_t start;
  std::string text;
};

const std::string kBom = "\xEF\xBB\xBF";
bool HasBom(const std::string& file) { return file.compare(0, 3, kBom) == 0; }

// The readable text (after a UTF-8 byte-order mark, up to the first Ctrl-Z) cut into lines at LF,
// a CR before LF dropped; a NUL ends the text of its own line (the line still spans its bytes up
// to the LF).
std::vector<Line> Lines(const std::string& file) {
  std::string text = file.substr(0, file.find('\x1A'));
  std::vector<Line> lines;
  size_t pos = HasBom(text) ? 3 : 0;
  while (pos < text.size()) {
    size_t lf = text.find('\n', pos);
    size_t end = lf == std::string::npos ? text.size() : lf;
    std::string t = text.substr(pos, end - pos);
    if (lf != std::string::npos && !t.empty() && t.back() == '\r') t.pop_back();
    t = t.substr(0, t.find('\0'));
    lines.push_back({pos, t});
    pos = lf == std::string::npos ? text.size() : lf + 1;
  }
  return lines;
}

struct Model {
  std::vector<Line> lines;
  size_t textSize = 0;
  uint32_t cursor = 0;

  // Index of the header line found, or -1.
  long FindSection(const std::string& section) {
    if (lines.empty()) return -1;
    const std::string header = "[" + Trim(section) + "]";
    if (cursor >= textSize) cursor = 0;
    // The cursor is always at a line start, or 0 (the first line may follow a byte-order mark).
    size_t first = 0;
    while (cursor != 0 && first < lines.size() && lines[first].start != cursor) ++first;
    if (first == lines.size()) std::abort();
    for (size_t k = 0; k < lines.size(); ++k) {
      size_t i = (first + k) % lines.size();
      if (Trim(lines[i].text) == header) {
        cursor = static_cast<uint32_t>(lines[i].start);
        return static_cast<long>(i);
      }
    }
    return -1;
  }

  bool ReadValue(const std::string& section, const std::string& key, std::string& value) {
    long h = FindSection(section);
    if (h < 0) return false;
    const std::string wanted = Trim(key);
    for (size_t i = h + 1; i < lines.size(); ++i) {
      const std::string& t = lines[i].text;
      size_t b = 0;
      while (b < t.size() && Space(t[b])) ++b;
      if (b == t.size()) continue;
      if (t[b] == '[') return false;
      size_t eq = t.find('=', b);
      if (eq == std::string::npos) continue;
      std::string name = t.substr(b, eq - b);
      while (!name.empty() && Space(name.back())) name.pop_back();
      if (name != wanted) continue;
      if (eq + 1 == t.size()) return false;
      value = t.substr(eq + 1);
      return true;
    }
    return false;
  }
};

std::string Folder() {
  static const std::string folder = [] {
    // Memory-backed when available: every run writes and rereads the file.
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string f = std::string(base) + "/ini_store_fuzz_" + std::to_string(getpid()) + "/";
    std::string cmd = "mkdir -p " + f;
    if (std::system(cmd.c_str()) != 0) std::abort();
    return f;
  }();
  return folder;
}

void Check(bool ok) {
  if (!ok) std::abort();
}

// A folder that refuses new files: saves rewrite the settings file in place.
std::FILE* NoTemporaryFile(const std::string& path, FileOpen how) {
  if (path.size() >= 4 && path.compare(path.size() - 4, 4, ".tmp") == 0) {
    errno = EACCES;
    return nullptr;
  }
  return PortableOpen(path, how);
}
const IniFileSystem kInPlace = {NoTemporaryFile, PortableReplace, PortableRemove, PortableSync};

bool Clean(const std::string& s, const char* banned) { return s.find_first_of(std::string(banned, 4)) == std::string::npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const bool inPlace = in.ConsumeBool();
  std::vector<std::pair<std::string, std::string>> queries;
  const int n = in.ConsumeIntegralInRange(1, 6);
  for (int i = 0; i < n; ++i) {
    std::string section = in.ConsumeRandomLengthString(24);
    std::string key = in.ConsumeRandomLengthString(24);
    queries.emplace_back(section.c_str(), key.c_str());  // the store takes C strings
  }
  const std::string file = in.ConsumeRemainingBytesAsString();

  IniStore store;
  store.SetLocation(Folder(), "f");
  {
    std::FILE* f = std::fopen(store.FullPath().c_str(), "wb");
    Check(f != nullptr);
    std::fwrite(file.data(), 1, file.size(), f);
    std::fclose(f);
  }
  Model model;
  model.lines = Lines(file);
  const size_t cut = file.find('\x1A');
  model.textSize = cut == std::string::npos ? file.size() : cut;
  Check(store.Open(false));
  for (const auto& q : queries) {
    std::string got, want;
    bool found = store.ReadValue(q.first.c_str(), q.second.c_str(), got);
    Check(found == model.ReadValue(q.first, q.second, want));
    Check(!found || (got == want && !got.empty()));
    Check(store.SectionCursor() == model.cursor);
    int64_t v = 0;
    store.ReadInt64(q.first.c_str(), q.second.c_str(), &v, 0);
  }
  store.Close();

  // Write back the first query as a section with one number and one text, then read both.
  const std::string section = Trim(queries[0].first), key = Trim(queries[0].second);
  const std::string value = file.substr(0, file.find_first_of(std::string("\n\0\x1A", 3)));
  uint64_t number = 0;
  for (char c : file) number = number * 131u + static_cast<unsigned char>(c);
  if (inPlace) store.SetFileSystem(&kInPlace);
  Check(store.OpenForWrite());
  Check(store.WritingInPlace() == inPlace);
  store.WriteSection(section.c_str());
  store.WriteUInt64("n", number);
  store.WriteKey(key.c_str(), value);
  Check(store.Close());
  {
    // Exactly the three lines, whichever way the file was written (no tail of the old one).
    std::string bytes;
    std::FILE* f = std::fopen(store.FullPath().c_str(), "rb");
    Check(f != nullptr);
    char buf[4096];
    for (size_t got; (got = std::fread(buf, 1, sizeof buf, f)) > 0;) bytes.append(buf, got);
    std::fclose(f);
    Check(bytes == (HasBom(file) ? kBom : "") + "[" + section + "]\r\nn=" + std::to_string(number) + "\r\n" + key + "=" + value + "\r\n");
  }
  Check(store.Open(false));
  if (Clean(section, "\n\0\x1A\n") && Clean(key, "=\n\0\x1A") && !key.empty() && key[0] != '[' && key != "n") {
    std::string text;
    store.ReadText(section.c_str(), key.c_str(), &text, "");
    Check(text == value);
  }
  if (Clean(section, "\n\0\x1A\n")) {
    uint64_t back = 0;
    store.ReadUInt64(section.c_str(), "n", &back, 1);
    Check(back == number);
  }
  store.Close();
  return 0;
}
