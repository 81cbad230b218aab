// A scratch folder per test, whole-file helpers and injected file-system failures, for the
// settings tests.
#pragma once
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "settings/ini_files.h"
#include "settings/ini_store.h"

class ScratchFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = std::filesystem::temp_directory_path() /
           (std::string("lv_settings_") + info->test_suite_name() + "_" + info->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string Folder() const { return dir_.string() + "/"; }
  std::string PathOf(const std::string& name) const { return (dir_ / name).string(); }
  void Put(const std::string& name, const std::string& bytes) const {
    std::ofstream(dir_ / name, std::ios::binary) << bytes;
  }
  std::string Get(const std::string& name) const {
    std::ifstream in(dir_ / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::filesystem::path dir_;
};

// A folder that refuses new files ("<ini>.tmp" cannot be created), holding a settings file
// that may be written; the opens are counted.
struct InjectedOpens {
  int tempCreates = 0;
  int inPlaceOpens = 0;
};
inline InjectedOpens g_injected;

inline bool IsTempPath(const std::string& path) {
  return path.size() >= 4 && path.compare(path.size() - 4, 4, ".tmp") == 0;
}

inline std::FILE* OpenWithoutNewFiles(const std::string& path, FileOpen how) {
  if (IsTempPath(path)) {
    ++g_injected.tempCreates;
    errno = EACCES;
    return nullptr;
  }
  if (how == FileOpen::TruncateExisting) ++g_injected.inPlaceOpens;
  return PortableOpen(path, how);
}

// Neither a new file nor the settings file may be written; reading still works.
inline std::FILE* OpenNothingWritable(const std::string& path, FileOpen how) {
  if (IsTempPath(path) || how == FileOpen::TruncateExisting) {
    errno = EACCES;
    return nullptr;
  }
  return PortableOpen(path, how);
}

inline bool NeverReplace(const std::string&, const std::string&) { return false; }

inline const IniFileSystem kNoNewFiles = {OpenWithoutNewFiles, NeverReplace, PortableRemove, PortableSync};
inline const IniFileSystem kNothingWritable = {OpenNothingWritable, NeverReplace, PortableRemove, PortableSync};
inline const IniFileSystem kReplaceFails = {PortableOpen, NeverReplace, PortableRemove, PortableSync};

// The temporary file's creation fails with g_temporaryError.
inline int g_temporaryError = 0;
inline std::FILE* OpenFailingTemporary(const std::string& path, FileOpen how) {
  if (IsTempPath(path)) {
    errno = g_temporaryError;
    return nullptr;
  }
  return PortableOpen(path, how);
}
inline const IniFileSystem kFailingTemporary = {OpenFailingTemporary, PortableReplace, PortableRemove, PortableSync};

// The portable operations, with the syncs and replaces recorded by file name.
inline std::string g_fileCalls;
inline std::string BaseName(const std::string& path) { return path.substr(path.find_last_of("\\/") + 1); }
inline bool RecordedReplace(const std::string& from, const std::string& to) {
  g_fileCalls += "replace " + BaseName(from) + ", ";
  return PortableReplace(from, to);
}
inline std::string g_lastTemporary;
inline std::FILE* RecordedOpen(const std::string& path, FileOpen how) {
  std::FILE* file = PortableOpen(path, how);
  if (file && how == FileOpen::CreateNew) g_lastTemporary = BaseName(path);
  return file;
}
inline bool RecordedSync(std::FILE* file) {
  g_fileCalls += "sync " + g_lastTemporary + ", ";
  return PortableSync(file);
}
inline const IniFileSystem kRecordingFiles = {RecordedOpen, RecordedReplace, PortableRemove, RecordedSync};

// A folder opened as the settings file: reading it fails (where the platform opens it at all).
inline std::FILE* OpenFolderInstead(const std::string& path, FileOpen how) {
  if (how != FileOpen::OpenOrCreate) return PortableOpen(path, how);
  return std::fopen(path.substr(0, path.find_last_of("\\/")).c_str(), "rb");
}
inline const IniFileSystem kUnreadable = {OpenFolderInstead, PortableReplace, PortableRemove, PortableSync};

inline size_t FilesIn(const std::filesystem::path& dir) {
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir), {}));
}
