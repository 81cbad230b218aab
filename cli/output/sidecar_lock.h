// One run per sidecar: a lock file beside it (NAME.lineview.xml.gz.lock) created with O_EXCL,
// saying which run holds it (host, process, boot, start time) and for which input. Several
// machines may share the sidecars' folder; a lock whose run is gone is taken over.
#pragma once
#include <cstdint>
#include <string>

// A lock not refreshed for this long is taken over whoever holds it: a run refreshes its lock
// at every sync point of its sidecar (at least every 5 s while frames come).
constexpr int kLockStaleSeconds = 600;

// Who holds a lock, as its file says.
struct LockHolder {
  std::string host;
  int64_t pid = 0;
  std::string boot;     // the kernel's boot id: a process of an earlier boot is gone
  int64_t started = 0;  // seconds since the epoch
  std::string input;    // the input the run analyses, as it named it
  std::string origin;   // its size and time ("" where it has none: a pipe, a device)
  int64_t age = 0;      // seconds since the file was last refreshed
};

// What the text of a lock file says; false where it is not one.
bool ParseLockText(const std::string& text, LockHolder* holder);
// Whether a lock's run may still be at work: on this host its process lives (in this boot),
// elsewhere its lock is younger than kLockStaleSeconds.
bool HolderAlive(const LockHolder& holder, const std::string& host, const std::string& boot);
// This machine's name and boot id.
std::string HostName();
std::string BootId();

class SidecarLock {
 public:
  enum class Outcome {
    Taken,      // it was free
    TakenOver,  // *holder's run is gone, or its lock is stale
    Held,       // *holder's run is at work
    Failed,     // cannot be created: *error says why
  };
  SidecarLock() = default;
  ~SidecarLock() { Release(); }
  SidecarLock(const SidecarLock&) = delete;
  SidecarLock& operator=(const SidecarLock&) = delete;

  // Takes the lock of `sidecarPath` for `input` (`origin`: its size and time).
  Outcome Take(const std::string& sidecarPath, const std::string& input, const std::string& origin, LockHolder* holder,
               std::string* error);
  // The file's time set to now, at most once every few seconds.
  void Refresh();
  // Whether the lock file is still this run's (not taken over by another).
  bool StillOurs() const;
  // Removed where it is still ours.
  void Release();

 private:
  std::string path_, text_;
  int fd_ = -1;
  int64_t refreshed_ = 0;
};
