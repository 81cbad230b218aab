#include "settings/ini_store.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <string_view>

#include "settings/ini_files.h"
#include "settings/ini_text.h"

namespace {

constexpr char kBom[] = "\xEF\xBB\xBF";

size_t FirstNonSpace(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && IsIniSpace(s[i])) ++i;
  return i;
}

std::string_view TrimRight(std::string_view s) {
  size_t n = s.size();
  while (n > 0 && IsIniSpace(s[n - 1])) --n;
  return s.substr(0, n);
}

std::string_view TrimView(std::string_view s) {
  s = TrimRight(s);
  return s.substr(FirstNonSpace(s));
}

std::string Trim(const char* text) { return std::string(TrimView(text ? text : "")); }

}  // namespace

bool SplitModulePath(const std::string& modulePath, std::string& folder, std::string& baseName) {
  size_t sep = modulePath.find_last_of("\\/");
  if (sep == std::string::npos) return false;
  std::string name = modulePath.substr(sep + 1);
  size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.resize(dot);
  if (name.empty()) return false;
  folder = modulePath.substr(0, sep + 1);
  baseName = name;
  return true;
}

IniStore::~IniStore() { Close(); }

void IniStore::SetLocation(const std::string& folder, const std::string& baseName) {
  if (folder.empty() || baseName.empty()) {
    folder_.clear();
    baseName_.clear();
    fileName_.clear();
    fullPath_.clear();
    return;
  }
  folder_ = folder;
  baseName_ = baseName;
  fileName_ = baseName + ".ini";
  fullPath_ = folder + fileName_;
}

bool IniStore::Open(bool forWrite) {
  if (open_) Close();
  sectionCursor_ = 0;
  cursorLine_ = nextLine_ = 0;
  writeFailed_ = false;
  inPlace_ = false;
  forWrite_ = forWrite;
  if (!forWrite) {
    readOpenFailed_ = true;  // until the file is read below
    hadBom_ = false;
  }
  if (fullPath_.empty()) return false;

  if (!forWrite) {
    std::FILE* file = fs_->open(fullPath_, FileOpen::OpenOrCreate);
    if (!file) return false;
    const bool read = LoadText(file);
    std::fclose(file);
    if (!read) {
      std::vector<Line>().swap(lines_);
      std::string().swap(text_);
      hadBom_ = false;
      return false;
    }
    readOpenFailed_ = false;
    open_ = true;
    return true;
  }

  // The settings file itself must be ours to rewrite; if it is read-only or held by another
  // program, the save is skipped and the file stays as it is.
  if (std::FILE* probe = fs_->open(fullPath_, FileOpen::Existing)) {
    std::fclose(probe);
  } else if (errno != ENOENT) {
    return false;
  }
  // First choice: a complete new file beside the old one, which replaces it at Close.
  file_ = CreateTemporaryFile(*fs_, fullPath_, tempPath_);
  if (!file_ && FolderRefusesNewFiles(errno)) {
    // The folder refuses new files (a plug-in folder the user may not write to, holding a
    // settings file made writable for them). Rewrite the existing file in place: emptied here,
    // filled by the writers, flushed at Close. NOT crash-safe: should the program or the machine
    // stop before Close, the file is left empty or cut short. A missing file is not created
    // here: the folder that refused the temporary file would refuse it too.
    file_ = fs_->open(fullPath_, FileOpen::TruncateExisting);
    inPlace_ = file_ != nullptr;
  }
  open_ = file_ != nullptr;
  if (open_ && hadBom_ && std::fwrite(kBom, 1, 3, file_) != 3) writeFailed_ = true;
  return open_;
}

bool IniStore::Close() {
  if (!open_) return false;
  open_ = false;
  std::vector<Line>().swap(lines_);
  std::string().swap(text_);
  if (!forWrite_) return true;
  // On the disk before it replaces the old file: a journal may otherwise commit the rename
  // before the data, and a power cut leave an empty settings file.
  bool complete = !writeFailed_ && fs_->sync(file_);
  complete = std::fclose(file_) == 0 && complete;
  file_ = nullptr;
  if (inPlace_) {
    inPlace_ = false;
    return complete;  // whatever reached the file stays: there is no old copy to go back to
  }
  if (complete && fs_->replace(tempPath_, fullPath_)) return true;
  fs_->remove(tempPath_);
  return false;
}

void IniStore::AbandonLoad() {
  Close();
  readOpenFailed_ = true;
  hadBom_ = false;
}

// One pass over the file. A line ends at LF (a CR before it is dropped) or at the end of the
// text; a NUL ends the line's kept text, as a C-string reading of the line would, and the rest
// of the line up to its LF is skipped. So are the bytes of an over-long line past
// kMaxKeptLine. Every line keeps its file offset, NUL-cut and skipped bytes included.
bool IniStore::LoadText(std::FILE* file) {
  try {
    std::vector<char> chunk(64 * 1024);
    uint64_t offset = 0;  // of chunk[0] in the file
    Line line = {0, 0, 0};
    bool inLine = false, stopped = false, textEnded = false;
    while (!textEnded) {
      const size_t got = std::fread(chunk.data(), 1, chunk.size(), file);
      if (got == 0) {
        if (std::ferror(file)) return false;
        break;
      }
      if (offset + got > kMaxFileBytes) return false;
      size_t i = 0;
      if (offset == 0 && got >= 3 && std::memcmp(chunk.data(), kBom, 3) == 0) {
        hadBom_ = true;
        i = 3;
      }
      for (; i < got; ++i) {
        const char c = chunk[i];
        if (c == '\x1A') {
          textEnded = true;
          break;
        }
        if (!inLine) {
          line = {static_cast<uint32_t>(offset + i), static_cast<uint32_t>(text_.size()), 0};
          inLine = true;
          stopped = false;
        }
        if (c == '\n') {
          if (!stopped && line.size > 0 && text_.back() == '\r') {
            text_.pop_back();
            --line.size;
          }
          if (!AddLine(line)) return false;
          inLine = false;
        } else if (!stopped) {
          if (c == '\0' || line.size == kMaxKeptLine) {
            stopped = true;
          } else {
            text_.push_back(c);
            ++line.size;
          }
        }
      }
      offset += got;
    }
    return !inLine || AddLine(line);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool IniStore::AddLine(Line line) {
  lines_.push_back(line);
  return text_.size() + lines_.size() * sizeof(Line) <= kMaxKeptText;
}

bool IniStore::FindSection(const char* section) {
  if (!open_ || lines_.empty()) return false;
  const std::string header = "[" + Trim(section) + "]";
  // At most one full circle, from the last section found, wrapping around the end.
  const size_t n = lines_.size();
  if (cursorLine_ >= n) cursorLine_ = 0;
  for (size_t k = 0, i = cursorLine_; k < n; ++k, i = i + 1 == n ? 0 : i + 1) {
    const Line& line = lines_[i];
    if (TrimView(std::string_view(text_.data() + line.begin, line.size)) == header) {
      cursorLine_ = i;
      sectionCursor_ = line.offset;
      nextLine_ = i + 1;
      return true;
    }
  }
  return false;
}

bool IniStore::ReadValue(const char* section, const char* key, std::string& value) {
  const std::string wanted = Trim(key);  // the caller's text stays as it is
  if (!FindSection(section)) return false;
  for (size_t i = nextLine_; i < lines_.size(); ++i) {
    const std::string_view line(text_.data() + lines_[i].begin, lines_[i].size);
    const size_t b = FirstNonSpace(line);
    if (b == line.size()) continue;
    if (line[b] == '[') return false;
    const size_t eq = line.find('=', b);
    if (eq == std::string_view::npos) continue;
    if (TrimRight(line.substr(b, eq - b)) != wanted) continue;
    // The first occurrence decides, even when it is empty.
    if (eq + 1 == line.size()) return false;
    value.assign(line.substr(eq + 1));
    return true;
  }
  return false;
}

void IniStore::ReadByte(const char* section, const char* key, uint8_t* var, uint8_t def) {
  if (!var) return;
  *var = ReadValue(section, key, scratch_) ? static_cast<uint8_t>(ParseDecimal(scratch_.c_str())) : def;
}

void IniStore::ReadShort(const char* section, const char* key, int16_t* var, int16_t def) {
  if (!var) return;
  *var = ReadValue(section, key, scratch_) ? static_cast<int16_t>(ParseDecimal(scratch_.c_str())) : def;
}

void IniStore::ReadUShort(const char* section, const char* key, uint16_t* var, uint16_t def) {
  if (!var) return;
  *var = ReadValue(section, key, scratch_) ? static_cast<uint16_t>(ParseDecimal(scratch_.c_str())) : def;
}

void IniStore::ReadInt(const char* section, const char* key, int32_t* var, int32_t def) {
  if (!var) return;
  *var = ReadValue(section, key, scratch_) ? static_cast<int32_t>(ParseDecimal(scratch_.c_str())) : def;
}

void IniStore::ReadUInt(const char* section, const char* key, uint32_t* var, uint32_t def) {
  if (!var) return;
  *var = ReadValue(section, key, scratch_) ? static_cast<uint32_t>(ParseDecimal(scratch_.c_str())) : def;
}

void IniStore::ReadLong(const char* section, const char* key, int32_t* var, int32_t def) {
  ReadInt(section, key, var, def);
}

void IniStore::ReadInt64(const char* section, const char* key, int64_t* var, int64_t def) {
  if (!var) return;
  *var = ReadValue(section, key, scratch_) ? static_cast<int64_t>(ParseDecimal(scratch_.c_str())) : def;
}

void IniStore::ReadUInt64(const char* section, const char* key, uint64_t* var, uint64_t def) {
  if (!var) return;
  *var = ReadValue(section, key, scratch_) ? ParseDecimal(scratch_.c_str()) : def;
}

void IniStore::ReadText(const char* section, const char* key, std::string* var, const char* def) {
  if (!var) return;
  if (ReadValue(section, key, scratch_))
    *var = scratch_;
  else
    *var = def ? def : "";
}

void IniStore::WriteLine(const std::string& line) {
  // Writers only ever fill the file being prepared by OpenForWrite.
  if (!open_ || !forWrite_) return;
  const std::string out = line + "\r\n";
  if (std::fwrite(out.data(), 1, out.size(), file_) != out.size())
    writeFailed_ = true;
}

void IniStore::WriteSection(const char* name) { WriteLine("[" + Trim(name) + "]"); }

void IniStore::WriteKey(const char* key, const std::string& value) { WriteLine(Trim(key) + "=" + value); }

void IniStore::WriteByte(const char* key, uint8_t value) { WriteKey(key, scratch_ = FormatUInt64(value)); }
void IniStore::WriteShort(const char* key, int16_t value) { WriteKey(key, scratch_ = FormatInt64(value)); }
void IniStore::WriteUShort(const char* key, uint16_t value) { WriteKey(key, scratch_ = FormatUInt64(value)); }
void IniStore::WriteInt(const char* key, int32_t value) { WriteKey(key, scratch_ = FormatInt64(value)); }
void IniStore::WriteUInt(const char* key, uint32_t value) { WriteKey(key, scratch_ = FormatUInt64(value)); }
void IniStore::WriteInt64(const char* key, int64_t value) { WriteKey(key, scratch_ = FormatInt64(value)); }
void IniStore::WriteUInt64(const char* key, uint64_t value) { WriteKey(key, scratch_ = FormatUInt64(value)); }

void IniStore::LoadTable(const char* section, const SettingRecord* records, int count) {
  if (!records) return;
  for (int i = 0; i < count; ++i) {
    const SettingRecord& r = records[i];
    const uint64_t d = static_cast<uint64_t>(r.defaultValue);
    switch (r.type) {
      case 0: ReadByte(section, r.key, static_cast<uint8_t*>(r.value), static_cast<uint8_t>(d)); break;
      case 1: ReadShort(section, r.key, static_cast<int16_t*>(r.value), static_cast<int16_t>(d)); break;
      case 2:
      case 3: ReadUShort(section, r.key, static_cast<uint16_t*>(r.value), static_cast<uint16_t>(d)); break;
      case 4:
      case 5:
      case 7:
      case 9: ReadUInt(section, r.key, static_cast<uint32_t*>(r.value), static_cast<uint32_t>(d)); break;
      case 6:
      case 8: ReadInt(section, r.key, static_cast<int32_t*>(r.value), static_cast<int32_t>(d)); break;
      case 10: ReadInt64(section, r.key, static_cast<int64_t*>(r.value), r.defaultValue); break;
      case 11: ReadUInt64(section, r.key, static_cast<uint64_t*>(r.value), d); break;
      case 12:
        ReadText(section, r.key, static_cast<std::string*>(r.value),
                 reinterpret_cast<const char*>(static_cast<intptr_t>(r.defaultValue)));
        break;
      default: break;  // unknown codes are skipped
    }
  }
}

void IniStore::StoreTable(const SettingRecord* records, int count) {
  if (!records) return;
  for (int i = 0; i < count; ++i) {
    const SettingRecord& r = records[i];
    if (!r.value) continue;
    switch (r.type) {
      case 0: WriteByte(r.key, *static_cast<const uint8_t*>(r.value)); break;
      case 1: WriteShort(r.key, *static_cast<const int16_t*>(r.value)); break;
      case 2:
      case 3: WriteUShort(r.key, *static_cast<const uint16_t*>(r.value)); break;
      case 4:
      case 5:
      case 7:
      case 9: WriteUInt(r.key, *static_cast<const uint32_t*>(r.value)); break;
      case 6:
      case 8: WriteInt(r.key, *static_cast<const int32_t*>(r.value)); break;
      case 10: WriteInt64(r.key, *static_cast<const int64_t*>(r.value)); break;
      case 11: WriteUInt64(r.key, *static_cast<const uint64_t*>(r.value)); break;
      case 12: WriteKey(r.key, *static_cast<const std::string*>(r.value)); break;
      default: break;
    }
  }
}
