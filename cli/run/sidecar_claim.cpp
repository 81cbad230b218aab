#include "cli/run/sidecar_claim.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "cli/output/sidecar_keys.h"
#include "cli/output/sidecar_reader.h"

namespace {

std::string OriginText(const SidecarOrigin& o) { return o.known ? std::to_string(o.size) + "@" + o.modified : ""; }

// Whether a file or a lock of `name` and `size@time` came from this input: the same name, or
// (a folder seen under another path from another machine) the same size and time.
bool SameInput(const std::string& input, const SidecarOrigin& origin, const std::string& name, const std::string& text) {
  return name == input || (origin.known && text == OriginText(origin));
}

// A sidecar at `path`, whoever made it: how this run may use its name. *other says whose it
// is where it is not this input's.
enum class Found { Free, Replace, Keep, Other };
Found Examine(const std::string& path, const std::string& input, const SidecarOrigin& origin, bool again,
              std::vector<Timeline>* lines, std::string* other) {
  struct stat st{};
  if (lstat(path.c_str(), &st) != 0) return Found::Free;
  SidecarFacts facts;
  std::string error;
  if (!ReadSidecar(path, lines, &error, nullptr, &facts) || facts.input.empty()) {
    *other = "is not a sidecar lineview can read";  // not known to be ours: left as it is
    return Found::Other;
  }
  if (!SameInput(input, origin, facts.input, facts.size + "@" + facts.modified)) {
    *other = "holds the results of '" + facts.input + "'";
    return Found::Other;
  }
  const bool unchanged = origin.known && facts.size + "@" + facts.modified == OriginText(origin);
  return !again && facts.finished && unchanged && facts.settings == origin.settings ? Found::Keep : Found::Replace;
}

void SayTakenOver(const std::string& path, const LockHolder& holder, Diagnostics& diag) {
  const std::string whose = holder.host == "?" ? "a lock that names no run"
                                               : "the lock of pid " + std::to_string(holder.pid) + " on " + holder.host;
  const std::string why = holder.age > kLockStaleSeconds ? "not refreshed for " + std::to_string(holder.age) + " s"
                                                         : "its process is gone";
  diag.Stream() << "lineview: '" << path << ".lock': " << whose << ", " << why << ": taken over\n";
}

// A .part beside a sidecar kept is a run's that was killed (this one holds the lock): of no use.
void RemovePart(const std::string& path) {
  struct stat st{};
  if (lstat((path + ".part").c_str(), &st) == 0 && S_ISREG(st.st_mode)) unlink((path + ".part").c_str());
}

}  // namespace

SidecarOrigin OriginOf(const std::string& input, const std::string& settings) {
  SidecarOrigin o;
  o.settings = settings;
  struct stat st{};
  if (input.empty() || input == "-" || stat(input.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return o;
  char modified[48];
  std::snprintf(modified, sizeof modified, "%lld.%09ld", static_cast<long long>(st.st_mtim.tv_sec),
                static_cast<long>(st.st_mtim.tv_nsec));
  o.known = true;
  o.size = static_cast<int64_t>(st.st_size);
  o.modified = modified;
  return o;
}

SidecarClaim ClaimSidecar(const std::string& input, const std::string& dir, const SidecarOrigin& origin, bool again,
                          std::set<std::string>& used, Diagnostics& diag) {
  SidecarClaim claim;
  const std::string first = SidecarPath(input, dir);
  const std::string stem = first.substr(0, first.size() - std::strlen(kSidecarSuffix));
  std::string clash;  // why the first name was not taken
  for (int n = 1; n < 10000; ++n) {
    const std::string path = n == 1 ? first : stem + "-" + std::to_string(n) + kSidecarSuffix;
    if (used.count(path)) {
      if (clash.empty()) clash = "is taken by another input of this run";
      continue;
    }
    auto lock = std::make_unique<SidecarLock>();
    LockHolder holder;
    std::string error;
    const SidecarLock::Outcome taken = lock->Take(path, input, OriginText(origin), &holder, &error);
    if (taken == SidecarLock::Outcome::Failed) {
      diag.Fail(kExitFailure, "cannot lock '" + path + "': " + error);
      claim.kind = SidecarClaim::Kind::Failed;
      return claim;
    }
    if (taken == SidecarLock::Outcome::Held) {
      if (SameInput(input, origin, holder.input, holder.origin)) {
        claim.kind = SidecarClaim::Kind::InProgress, claim.holder = holder;
        used.insert(path);
        return claim;
      }
      if (clash.empty()) clash = "is being written for '" + holder.input + "' on " + holder.host;
      continue;
    }
    if (taken == SidecarLock::Outcome::TakenOver) SayTakenOver(path, holder, diag);
    std::string other;
    const Found found = Examine(path, input, origin, again, &claim.lines, &other);
    if (found == Found::Other) {
      if (clash.empty()) clash = other;
      continue;  // the lock goes with `lock`
    }
    if (!clash.empty()) {
      diag.Stream() << "lineview: '" << first << "' " << clash << ": the results of '" << input
                    << "' go to '" << path << "'\n";
    }
    used.insert(path);
    claim.target.path = path;
    claim.target.origin = origin;
    if (found == Found::Keep) {
      RemovePart(path);
      claim.kind = SidecarClaim::Kind::Complete;
      return claim;  // read, not written: its lock goes now
    }
    claim.lines.clear();
    claim.lock = std::move(lock);
    claim.target.lock = claim.lock.get();
    return claim;
  }
  diag.Fail(kExitFailure, "no free sidecar name for '" + input + "' beside '" + first + "'");
  claim.kind = SidecarClaim::Kind::Failed;
  return claim;
}
