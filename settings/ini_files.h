// The settings store's file operations (ini_files.cpp): on the platform's own calls by default
// (CreateFileW, FlushFileBuffers and MoveFileExW on Windows; open, fsync and rename, with the
// folder synced, elsewhere), or ones the caller installs. Paths are UTF-8 on every platform.
// The report file is saved through them too.
#pragma once
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>

// How a file is opened. Every open is binary, for reading and writing, and (where the platform
// can refuse other openers) exclusive while the store holds it.
enum class FileOpen {
  Existing,          // the file must exist; its content stays
  OpenOrCreate,      // created empty when absent; an existing content stays
  CreateNew,         // created; fails with EEXIST when the name is taken, by anything
  TruncateExisting,  // the file must exist, and is emptied; never created
};

// The file operations of the store. Paths are UTF-8. Tests install failing ones.
struct IniFileSystem {
  // Null on failure, with errno set: ENOENT when the file or its folder does not exist, EEXIST
  // when CreateNew meets a taken name, EACCES or EPERM when access is refused.
  std::FILE* (*open)(const std::string& path, FileOpen how);
  // Moves the completely written file `from` over `to` (which may not exist) in one step,
  // keeping what the platform lets it of `to`'s permissions or attributes, and waits until the
  // move is on the disk; true on success. A read-only `to` is refused on Windows.
  bool (*replace)(const std::string& from, const std::string& to);
  void (*remove)(const std::string& path);
  // Flushes the C library's buffer and then the system's to the disk; false on any error.
  bool (*sync)(std::FILE* file);
};

// The operations a store uses unless told otherwise.
std::FILE* PortableOpen(const std::string& path, FileOpen how);
bool PortableReplace(const std::string& from, const std::string& to);
void PortableRemove(const std::string& path);
bool PortableSync(std::FILE* file);
extern const IniFileSystem kPortableFileSystem;

// Sets the size of an open file (after flushing its buffer); false on failure, e.g. a full disk.
bool PortableResize(std::FILE* file, uint64_t size);

// A temporary file of our own beside `path`, "<path>.N.tmp", created exclusively: a name that
// is taken, by anything, is passed over, so nothing that carries it is written over or removed.
// Null on failure, with errno from the last attempt.
std::FILE* CreateTemporaryFile(const IniFileSystem& fs, const std::string& path, std::string& tempPath);
// Whether a failure to create a file means the folder refuses new files (access denied), as
// opposed to a full disk, a name too long, and so on.
inline bool FolderRefusesNewFiles(int error) { return error == EACCES || error == EPERM; }

#ifdef _WIN32
// UTF-16 <-> UTF-8; empty for text that does not convert (an unpaired surrogate, bad UTF-8).
std::string Utf8FromWide(const std::wstring& wide);
std::wstring WideFromUtf8(const std::string& utf8);
#endif
