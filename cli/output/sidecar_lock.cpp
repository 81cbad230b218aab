#include "cli/output/sidecar_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <random>
#include <sstream>

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// One value a line: "key=value"; a newline in a value (an input's name) becomes '?'.
std::string Line(const std::string& key, std::string value) {
  for (char& c : value) {
    if (c == '\n' || c == '\r') c = '?';
  }
  return key + "=" + value + "\n";
}

bool ParseNumber(const std::string& s, int64_t* v) {
  char* end = nullptr;
  errno = 0;
  *v = std::strtoll(s.c_str(), &end, 10);
  return !s.empty() && *end == '\0' && errno == 0;
}

}  // namespace

bool ParseLockText(const std::string& text, LockHolder* h) {
  std::istringstream in(text);
  std::string line;
  bool pid = false;
  while (std::getline(in, line)) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "host") h->host = value;
    if (key == "pid") pid = ParseNumber(value, &h->pid) && h->pid > 0;
    if (key == "boot") h->boot = value;
    if (key == "started" && !ParseNumber(value, &h->started)) h->started = 0;
    if (key == "input") h->input = value;
    if (key == "origin") h->origin = value;
  }
  return pid && !h->host.empty();
}

bool HolderAlive(const LockHolder& h, const std::string& host, const std::string& boot) {
  if (h.age > kLockStaleSeconds) return false;
  if (h.host != host) return true;  // its process cannot be asked from here
  if (!h.boot.empty() && !boot.empty() && h.boot != boot) return false;
  return h.pid > 0 && h.pid <= INT32_MAX && (kill(static_cast<pid_t>(h.pid), 0) == 0 || errno == EPERM);
}

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
  return name;
}

std::string BootId() {
  std::string id = ReadFile("/proc/sys/kernel/random/boot_id");
  while (!id.empty() && (id.back() == '\n' || id.back() == ' ')) id.pop_back();
  return id;
}

SidecarLock::Outcome SidecarLock::Take(const std::string& sidecarPath, const std::string& input,
                                       const std::string& origin, LockHolder* holder, std::string* error) {
  Release();
  const std::string path = sidecarPath + ".lock";
  std::random_device seed;
  const std::string text = Line("host", HostName()) + Line("pid", std::to_string(getpid())) + Line("boot", BootId()) +
                           Line("started", std::to_string(std::time(nullptr))) + Line("input", input) +
                           Line("origin", origin) + Line("token", std::to_string(seed()) + std::to_string(seed()));
  Outcome outcome = Outcome::Taken;
  for (int attempt = 0; attempt < 2; ++attempt) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) {
      const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
      if (!written) {
        *error = std::strerror(errno != 0 ? errno : ENOSPC);
        close(fd);
        unlink(path.c_str());
        return Outcome::Failed;
      }
      path_ = path, text_ = text, fd_ = fd, refreshed_ = std::time(nullptr);
      return outcome;
    }
    if (errno != EEXIST) return *error = std::strerror(errno), Outcome::Failed;
    struct stat st{};
    if (lstat(path.c_str(), &st) != 0) continue;  // gone meanwhile: try again
    *holder = LockHolder{};
    // A lock file still empty is one being written this instant, or one of a run that died
    // between creating and writing it: its age tells.
    if (!ParseLockText(ReadFile(path), holder)) holder->host = "?";
    holder->age = static_cast<int64_t>(std::time(nullptr)) - static_cast<int64_t>(st.st_mtime);
    if (!S_ISREG(st.st_mode)) return *error = "not a regular file", Outcome::Failed;
    if (attempt > 0 || HolderAlive(*holder, HostName(), BootId())) return Outcome::Held;
    // The one judged gone, not one a third run has put there since.
    struct stat again{};
    if (lstat(path.c_str(), &again) == 0 && again.st_ino == st.st_ino && again.st_dev == st.st_dev) unlink(path.c_str());
    outcome = Outcome::TakenOver;
  }
  if (holder->host.empty()) holder->host = "?";
  return Outcome::Held;
}

void SidecarLock::Refresh() {
  const int64_t now = std::time(nullptr);
  if (fd_ < 0 || now - refreshed_ < 2) return;
  refreshed_ = now;
  futimens(fd_, nullptr);
}

bool SidecarLock::StillOurs() const { return fd_ >= 0 && ReadFile(path_) == text_; }

void SidecarLock::Release() {
  if (fd_ < 0) return;
  if (StillOurs()) unlink(path_.c_str());
  close(fd_);
  fd_ = -1;
  path_.clear(), text_.clear();
}
