// The settings file store: a small INI file read one value at a time by section and key,
// and written top-down. Portable: file access through the C library only.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

// Type codes of a SettingRecord.
enum SettingType : int32_t {
  SettingByte = 0,      // uint8_t
  SettingShort = 1,     // int16_t
  SettingUShort = 2,    // uint16_t (3 too)
  SettingUInt = 4,      // uint32_t (5, 7, 9 too)
  SettingInt = 6,       // int32_t (8 too)
  SettingInt64 = 10,    // int64_t
  SettingUInt64 = 11,   // uint64_t
  SettingText = 12,     // std::string
  // 13 and above: skipped on load and store
};

// One row of a settings table; owned by the caller, never changed by the store.
struct SettingRecord {
  int32_t type;
  const char* key;
  void* value;           // the variable, of the type the code names
  int64_t defaultValue;  // narrower types use its low bits; text: a const char* (see TextDefault)
};

inline int64_t TextDefault(const char* text) { return static_cast<int64_t>(reinterpret_cast<intptr_t>(text)); }

// Leading white space, one optional sign, decimal digits up to the first non-digit; no digits
// give 0. Accumulates modulo 2^64, so the low 32 bits are the modulo 2^32 result.
uint64_t ParseDecimal(const char* text);

// Signed / unsigned 64-bit decimal, the same on every C library.
std::string FormatInt64(int64_t value);
std::string FormatUInt64(uint64_t value);

// Splits a module's full path into its folder (up to and including the last backslash or
// slash) and its base name (file name without extension). False when there is no folder part
// or no file name.
bool SplitModulePath(const std::string& modulePath, std::string& folder, std::string& baseName);

class IniStore {
 public:
  // Moves a completely written file over the settings file; true on success.
  using ReplaceFileFn = bool (*)(const char* from, const char* to);

  IniStore() = default;
  virtual ~IniStore();
  IniStore(const IniStore&) = delete;
  IniStore& operator=(const IniStore&) = delete;

  // The portable half of locating the file: folder (ending in a separator) and base name give
  // file name base + ".ini" and the full path. Empty texts leave every path field empty.
  void SetLocation(const std::string& folder, const std::string& baseName);
  const std::string& Folder() const { return folder_; }
  const std::string& BaseName() const { return baseName_; }
  const std::string& FileName() const { return fileName_; }
  const std::string& FullPath() const { return fullPath_; }

  // The platform's way of replacing a file; null restores the portable default.
  void SetReplaceFunction(ReplaceFileFn fn) { replace_ = fn; }

  // For reading: opens the file, creating it empty when it does not exist.
  // For writing: output goes to a file beside the settings file, which replaces the settings
  // file at Close only if every line was written; an existing settings file that cannot be
  // opened for writing (read-only, locked) makes this fail and stays as it was.
  bool Open(bool forWrite);
  bool OpenForWrite() { return Open(true); }
  // After writing: true when the new file has replaced the old one. Closing a store that is
  // not open does nothing.
  bool Close();
  bool IsOpen() const { return open_; }
  // True when the last Open for reading failed: the file may exist but be held by someone
  // else, so it must not be overwritten with defaults.
  bool ReadOpenFailed() const { return readOpenFailed_; }

  void ResetSectionCursor() { sectionCursor_ = 0; }
  uint32_t SectionCursor() const { return sectionCursor_; }
  bool FindSection(const char* section);
  bool ReadValue(const char* section, const char* key, std::string& value);

  void ReadByte(const char* section, const char* key, uint8_t* var, uint8_t def);
  void ReadShort(const char* section, const char* key, int16_t* var, int16_t def);
  void ReadUShort(const char* section, const char* key, uint16_t* var, uint16_t def);
  void ReadInt(const char* section, const char* key, int32_t* var, int32_t def);
  void ReadUInt(const char* section, const char* key, uint32_t* var, uint32_t def);
  void ReadLong(const char* section, const char* key, int32_t* var, int32_t def);
  void ReadInt64(const char* section, const char* key, int64_t* var, int64_t def);
  void ReadUInt64(const char* section, const char* key, uint64_t* var, uint64_t def);
  void ReadText(const char* section, const char* key, std::string* var, const char* def);

  void WriteSection(const char* name);
  void WriteKey(const char* key, const std::string& value);
  void WriteByte(const char* key, uint8_t value);
  void WriteShort(const char* key, int16_t value);
  void WriteUShort(const char* key, uint16_t value);
  void WriteInt(const char* key, int32_t value);
  void WriteUInt(const char* key, uint32_t value);
  void WriteInt64(const char* key, int64_t value);
  void WriteUInt64(const char* key, uint64_t value);

  void LoadTable(const char* section, const SettingRecord* records, int count);
  void StoreTable(const SettingRecord* records, int count);

 private:
  bool ReadLine(std::string& line);
  long TextEnd();
  void WriteLine(const std::string& line);

  bool open_ = false;
  bool forWrite_ = false;
  bool writeFailed_ = false;
  bool readOpenFailed_ = false;
  std::string scratch_;
  std::string folder_;
  std::string baseName_;
  std::string fileName_;
  std::string fullPath_;
  std::string tempPath_;
  std::FILE* file_ = nullptr;
  uint32_t sectionCursor_ = 0;
  long textEnd_ = -1;  // end of the readable text; -1 until measured after an open or write
  ReplaceFileFn replace_ = nullptr;
};
