// The files lineview writes itself (pictures, plot, report, sidecar) are written beside their
// name and renamed into place only when whole: a write that fails leaves the older file, and
// whatever the user named, as they were.
#pragma once
#include <string>

// Whether `path` can take an output, proven before any decoding: its folder exists and takes a
// new file, and the name is a regular file or nothing yet. A link is followed to its target.
// A device, a pipe or a folder is refused: a file written in place cannot be undone when the
// write fails. On refusal, *reason says why (the system's words where it has them).
bool CheckOutputPath(const std::string& path, std::string* reason);

// One output being written: a temporary file in the folder of its final name, renamed onto it
// by Commit. Dropped uncommitted, the temporary file goes and nothing else.
class SafeFile {
 public:
  SafeFile() = default;
  ~SafeFile() { Abort(); }
  SafeFile(const SafeFile&) = delete;
  SafeFile& operator=(const SafeFile&) = delete;

  // `part`: the temporary file is NAME.part (a file written for long, seen as unfinished);
  // otherwise a hidden .NAME.XXXXXX.
  bool Open(const std::string& path, std::string* reason, bool part = false);
  int Fd() const { return fd_; }
  bool Write(const std::string& bytes, std::string* reason);
  // Flushed to the disk, closed and renamed onto the final name; on failure, aborted.
  bool Commit(std::string* reason);
  void Abort();
  // Closed and left where it is, under whatever name: another writer has taken the name over.
  void Disown();

 private:
  std::string final_, temp_;
  int fd_ = -1;
};

// `bytes` as the whole of `path`, through a SafeFile.
bool WriteWholeFile(const std::string& path, const std::string& bytes, std::string* reason);
