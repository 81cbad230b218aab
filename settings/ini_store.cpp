#include "settings/ini_store.h"

#include <cerrno>
#include <filesystem>
#include <system_error>
#include <utility>

#include <fcntl.h>
#ifdef _WIN32
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#else
#include <unistd.h>
#endif

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

size_t FirstNonSpace(const std::string& s) {
  size_t i = 0;
  while (i < s.size() && IsSpace(s[i])) ++i;
  return i;
}

std::string TrimRight(std::string s) {
  size_t n = s.size();
  while (n > 0 && IsSpace(s[n - 1])) --n;
  s.resize(n);
  return s;
}

std::string Trim(const char* text) {
  std::string s = TrimRight(text ? text : "");
  return s.substr(FirstNonSpace(s));
}

// A UTF-8 path as the platform's file functions take it; false for text that is not UTF-8.
bool NativePath(const std::string& utf8, std::filesystem::path& path) {
  try {
    path = std::filesystem::u8path(utf8);
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace

std::FILE* PortableOpen(const std::string& path, FileOpen how) {
  int flags = O_RDWR;
  switch (how) {
    case FileOpen::Existing: break;
    case FileOpen::OpenOrCreate: flags |= O_CREAT; break;
    case FileOpen::CreateOrTruncate: flags |= O_CREAT | O_TRUNC; break;
    case FileOpen::TruncateExisting: flags |= O_TRUNC; break;
  }
#ifdef _WIN32
  // Nobody else may open the file meanwhile, as with the platform's exclusive open; the path
  // goes to the wide function, so no name is limited to the ANSI code page.
  std::filesystem::path native;
  if (!NativePath(path, native)) {
    errno = EINVAL;
    return nullptr;
  }
  const int fd = _wsopen(native.c_str(), flags | _O_BINARY | _O_NOINHERIT, _SH_DENYRW, _S_IREAD | _S_IWRITE);
  if (fd < 0) return nullptr;
  std::FILE* file = _fdopen(fd, "r+b");
  if (!file) {
    const int e = errno;
    _close(fd);
    errno = e;
  }
#else
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  std::FILE* file = fdopen(fd, "r+b");
  if (!file) {
    const int e = errno;
    ::close(fd);
    errno = e;
  }
#endif
  return file;
}

bool PortableReplace(const std::string& from, const std::string& to) {
  std::filesystem::path source, target;
  if (!NativePath(from, source) || !NativePath(to, target)) return false;
  std::error_code ec;
  // The new file takes the old one's permissions (the read-only attribute on Windows).
  const std::filesystem::file_status old = std::filesystem::status(target, ec);
  if (!ec && std::filesystem::exists(old))
    std::filesystem::permissions(source, old.permissions(), std::filesystem::perm_options::replace, ec);
  ec.clear();
  std::filesystem::rename(source, target, ec);  // replaces an existing target, Windows too
  return !ec;
}

void PortableRemove(const std::string& path) {
  std::filesystem::path native;
  std::error_code ec;
  if (NativePath(path, native)) std::filesystem::remove(native, ec);
}

const IniFileSystem kPortableFileSystem = {PortableOpen, PortableReplace, PortableRemove};

uint64_t ParseDecimal(const char* text) {
  if (!text) return 0;
  const char* p = text;
  while (IsSpace(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  uint64_t v = 0;
  for (; *p >= '0' && *p <= '9'; ++p) v = v * 10u + static_cast<uint64_t>(*p - '0');
  return negative ? 0u - v : v;
}

std::string FormatUInt64(uint64_t value) {
  char buf[24];
  char* p = buf + sizeof buf;
  do {
    *--p = static_cast<char>('0' + value % 10u);
    value /= 10u;
  } while (value != 0);
  return std::string(p, buf + sizeof buf);
}

std::string FormatInt64(int64_t value) {
  if (value >= 0) return FormatUInt64(static_cast<uint64_t>(value));
  return "-" + FormatUInt64(0u - static_cast<uint64_t>(value));
}

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
  textEnd_ = -1;
  writeFailed_ = false;
  inPlace_ = false;
  forWrite_ = forWrite;
  if (!forWrite) readOpenFailed_ = true;  // until the open below succeeds
  if (fullPath_.empty()) return false;

  if (forWrite) {
    // The settings file itself must be ours to rewrite; if it is read-only or held by
    // another program, the save is skipped and the file stays as it is.
    if (std::FILE* probe = fs_->open(fullPath_, FileOpen::Existing)) {
      std::fclose(probe);
    } else if (errno != ENOENT) {
      return false;
    }
    // First choice: a complete new file beside the old one, which replaces it at Close.
    tempPath_ = fullPath_ + ".tmp";
    file_ = fs_->open(tempPath_, FileOpen::CreateOrTruncate);
    if (!file_) {
      // No new file can be made in the folder (a plug-in folder the user may not write to,
      // holding a settings file made writable for them). Rewrite the existing file in place:
      // emptied here, filled by the writers, flushed at Close. NOT crash-safe: should the
      // program or the machine stop before Close, the file is left empty or cut short.
      // A missing file is not created here: the folder that refused the temporary file
      // would refuse it too.
      file_ = fs_->open(fullPath_, FileOpen::TruncateExisting);
      inPlace_ = file_ != nullptr;
    }
  } else {
    file_ = fs_->open(fullPath_, FileOpen::OpenOrCreate);
    readOpenFailed_ = file_ == nullptr;
  }
  open_ = file_ != nullptr;
  return open_;
}

bool IniStore::Close() {
  if (!open_) return false;
  open_ = false;
  if (!forWrite_) {
    std::fclose(file_);
    file_ = nullptr;
    return true;
  }
  bool complete = !writeFailed_ && std::fflush(file_) == 0 && !std::ferror(file_);
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

long IniStore::TextEnd() {
  if (textEnd_ >= 0) return textEnd_;
  // Readable text ends at the file's end or at the first Ctrl-Z byte, whichever comes first;
  // lookups never look past it. (A NUL ends only the text of its own line: see ReadLine.)
  long n = 0;
  const long here = std::ftell(file_);
  if (std::fseek(file_, 0, SEEK_SET) == 0) {
    int c;
    while ((c = std::fgetc(file_)) != EOF && c != 0x1A) ++n;
  }
  std::fseek(file_, here < 0 ? 0 : here, SEEK_SET);
  textEnd_ = n;
  return n;
}

// Reads from the current position; a line ends at LF (a CR before it is dropped) or at the
// end of the readable text. A NUL ends the line's text, as a C-string reading of the line
// would; the rest of the line up to its LF is skipped, and the next line reads normally.
bool IniStore::ReadLine(std::string& line) {
  line.clear();
  const long end = TextEnd();
  long pos = std::ftell(file_);
  if (pos < 0 || pos >= end) return false;
  while (pos < end) {
    int c = std::fgetc(file_);
    if (c == EOF) break;
    ++pos;
    if (c == '\n') {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      break;
    }
    line.push_back(static_cast<char>(c));
  }
  const size_t nul = line.find('\0');
  if (nul != std::string::npos) line.resize(nul);
  return true;
}

bool IniStore::FindSection(const char* section) {
  if (!open_) return false;
  long end = TextEnd();
  if (end <= 0) return false;
  const std::string header = "[" + Trim(section) + "]";

  if (sectionCursor_ >= static_cast<uint64_t>(end)) sectionCursor_ = 0;
  const long start = static_cast<long>(sectionCursor_);
  if (std::fseek(file_, start, SEEK_SET) != 0) return false;

  // At most one full circle: every line read moves forward, and once the scan has wrapped to
  // the top it ends on reaching the starting offset (or passing it).
  bool wrapped = false;
  std::string line;
  for (;;) {
    long lineStart = std::ftell(file_);
    if (lineStart < 0 || !ReadLine(line)) return false;
    std::string trimmed = Trim(line.c_str());
    if (trimmed == header) {
      sectionCursor_ = static_cast<uint32_t>(lineStart);
      return true;
    }
    long offset = std::ftell(file_);
    if (offset < 0) return false;
    if (offset >= end) {
      if (wrapped || std::fseek(file_, 0, SEEK_SET) != 0) return false;
      wrapped = true;
      offset = 0;
    }
    if (offset == start || (wrapped && offset > start)) return false;
  }
}

bool IniStore::ReadValue(const char* section, const char* key, std::string& value) {
  const std::string wanted = Trim(key);  // the caller's text stays as it is
  if (!FindSection(section)) return false;
  std::string line;
  while (ReadLine(line)) {
    size_t b = FirstNonSpace(line);
    if (b == line.size()) continue;
    if (line[b] == '[') return false;
    size_t eq = line.find('=', b);
    if (eq == std::string::npos) continue;
    if (TrimRight(line.substr(b, eq - b)) != wanted) continue;
    // The first occurrence decides, even when it is empty.
    if (eq + 1 == line.size()) return false;
    value = line.substr(eq + 1);
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
  textEnd_ = -1;
  if (std::fseek(file_, 0, SEEK_CUR) != 0 || std::fwrite(out.data(), 1, out.size(), file_) != out.size())
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
