// The settings file store: a small INI file, read whole into memory when opened and looked up
// there by section and key, and written top-down. Portable: file access through the platform's
// own calls (ini_files.h), or through file operations the caller installs. Paths are UTF-8 text
// on every platform. The numbers' text is ini_text.h's.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "settings/ini_files.h"

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

// Splits a module's full path into its folder (up to and including the last backslash or
// slash) and its base name (file name without extension). False when there is no folder part
// or no file name.
bool SplitModulePath(const std::string& modulePath, std::string& folder, std::string& baseName);

class IniStore {
 public:

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

  // The file operations to use; null restores kPortableFileSystem. The object must outlive
  // the store's use of it.
  void SetFileSystem(const IniFileSystem* fs) { fs_ = fs ? fs : &kPortableFileSystem; }

  // For reading: opens the file (creating it empty when it does not exist), reads its text
  // into memory and closes it again. The text ends at the end of the file or at a Ctrl-Z; a
  // UTF-8 byte-order mark at its start is skipped. A line keeps at most kMaxKeptLine bytes (the
  // rest of a longer one is skipped). Fails, keeping nothing, on a read error, on a file larger
  // than kMaxFileBytes or lines beyond kMaxKeptText, and when memory runs out.
  // For writing: output goes to a temporary file of our own beside the settings file
  // ("<file>.N.tmp", created exclusively: an existing file of that name is never touched),
  // which is flushed to the disk and replaces the settings file at Close only if every line was
  // written. Only where the folder refuses new files (access denied: a folder the user may not
  // write to, holding a settings file they may) is the settings file itself emptied and
  // rewritten in place, which is not crash-safe. Any other failure (disk full, a name too long),
  // and an existing settings file that cannot be opened for writing (read-only, locked), makes
  // this fail and leaves the file as it was. A byte-order mark the last read met is written
  // back at the start.
  bool Open(bool forWrite);
  bool OpenForWrite() { return Open(true); }
  // After writing: true when every line reached the settings file (replaced, or rewritten in
  // place). Closing a store that is not open does nothing.
  bool Close();
  // While open for writing: whether the output goes straight into the settings file.
  bool WritingInPlace() const { return open_ && forWrite_ && inPlace_; }
  bool IsOpen() const { return open_; }
  // True when the last Open for reading failed, or its load was abandoned: the file may exist
  // but be held by someone else or be unreadable, so it must not be overwritten with defaults.
  bool ReadOpenFailed() const { return readOpenFailed_; }
  // For a load that could not finish (memory ran out): closes the store as though the file
  // could not be read, so the save that follows leaves it alone.
  void AbandonLoad();

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

  static constexpr size_t kMaxKeptLine = 64 * 1024;
  static constexpr size_t kMaxKeptText = 32u << 20;    // kept lines and their bookkeeping
  static constexpr uint64_t kMaxFileBytes = 1u << 30;  // line offsets stay 32-bit

 private:
  // One line of the text: where it starts in the file, and its kept bytes in text_.
  struct Line {
    uint32_t offset;
    uint32_t begin;
    uint32_t size;
  };
  bool LoadText(std::FILE* file);
  bool AddLine(Line line);
  void WriteLine(const std::string& line);

  bool open_ = false;
  bool forWrite_ = false;
  bool inPlace_ = false;
  bool writeFailed_ = false;
  bool readOpenFailed_ = false;
  bool hadBom_ = false;
  std::string scratch_;
  std::string folder_;
  std::string baseName_;
  std::string fileName_;
  std::string fullPath_;
  std::string tempPath_;
  std::FILE* file_ = nullptr;  // only while open for writing
  std::string text_;           // the kept bytes of every line, one after the other
  std::vector<Line> lines_;
  uint32_t sectionCursor_ = 0;
  size_t cursorLine_ = 0;  // the line at sectionCursor_
  size_t nextLine_ = 0;    // the line after the header FindSection found last
  const IniFileSystem* fs_ = &kPortableFileSystem;
};
