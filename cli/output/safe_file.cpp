#include "cli/output/safe_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

namespace {

std::string Reason(int err) { return std::strerror(err != 0 ? err : EIO); }

// The file a name stands for: a link's target, so that the link stays and its target is
// replaced. False with *reason for a name that may not be replaced whole.
bool FinalName(const std::string& path, std::string* name, std::string* reason) {
  struct stat st{};
  if (lstat(path.c_str(), &st) != 0) {
    if (errno != ENOENT) return *reason = Reason(errno), false;
    *name = path;
    return true;
  }
  std::string target = path;
  if (S_ISLNK(st.st_mode)) {
    std::error_code ec;
    target = std::filesystem::canonical(path, ec).string();
    if (ec || stat(target.c_str(), &st) != 0) return *reason = "a link to nothing", false;
  }
  if (S_ISDIR(st.st_mode)) return *reason = Reason(EISDIR), false;
  if (!S_ISREG(st.st_mode)) {
    *reason = "not a regular file (lineview writes only files it can replace whole)";
    return false;
  }
  *name = target;
  return true;
}

// A new hidden file beside `final`, created here (never one that was there).
int CreateHidden(const std::string& final, std::string* temp) {
  const size_t slash = final.find_last_of('/');
  const std::string head = slash == std::string::npos ? "" : final.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? final : final.substr(slash + 1);
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::random_device seed;
  std::minstd_rand random(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string suffix(6, 'x');
    for (char& c : suffix) c = kLetters[random() % (sizeof kLetters - 1)];
    *temp = head + "." + base + "." + suffix;
    // 0666 and the umask, as a file opened by its name would have.
    const int fd = open(temp->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// NAME.part: lineview's own name, taken over from an earlier run that did not end, but only
// when it is a plain file.
int CreatePart(const std::string& final, std::string* temp) {
  *temp = final + ".part";
  struct stat st{};
  if (lstat(temp->c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    errno = EEXIST;
    return -1;
  }
  // A new file, not the old one truncated: a run that still writes the old one (its lock taken
  // over) then writes into a file no longer named, not into this one.
  if (unlink(temp->c_str()) != 0 && errno != ENOENT) return -1;
  return open(temp->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
}

}  // namespace

bool CheckOutputPath(const std::string& path, std::string* reason) {
  std::string final;
  if (!FinalName(path, &final, reason)) return false;
  SafeFile probe;  // the folder takes a new file: proven by making one, as the write will
  return probe.Open(final, reason);
}

bool SafeFile::Open(const std::string& path, std::string* reason, bool part) {
  Abort();
  if (!FinalName(path, &final_, reason)) return false;
  fd_ = part ? CreatePart(final_, &temp_) : CreateHidden(final_, &temp_);
  if (fd_ < 0) {
    *reason = Reason(errno);
    temp_.clear();  // not ours to remove
    return false;
  }
  return true;
}

bool SafeFile::Write(const std::string& bytes, std::string* reason) {
  size_t done = 0;
  while (fd_ >= 0 && done < bytes.size()) {
    const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return *reason = Reason(n < 0 ? errno : ENOSPC), false;
    done += static_cast<size_t>(n);
  }
  return fd_ >= 0 || (*reason = Reason(EBADF), false);
}

bool SafeFile::Commit(std::string* reason) {
  if (fd_ < 0) return *reason = Reason(EBADF), false;
  // Some file systems (NFS, quotas) report a full disk only here.
  bool ok = fsync(fd_) == 0 || errno == EINVAL;
  int err = ok ? 0 : errno;
  if (close(fd_) != 0 && ok) ok = false, err = errno;
  fd_ = -1;
  if (ok && std::rename(temp_.c_str(), final_.c_str()) != 0) ok = false, err = errno;
  if (!ok) {
    *reason = Reason(err);
    Abort();
    return false;
  }
  temp_.clear();
  return true;
}

void SafeFile::Disown() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  temp_.clear();
}

void SafeFile::Abort() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  if (!temp_.empty()) unlink(temp_.c_str());
  temp_.clear();
}

bool WriteWholeFile(const std::string& path, const std::string& bytes, std::string* reason) {
  SafeFile file;
  return file.Open(path, reason) && file.Write(bytes, reason) && file.Commit(reason);
}
