// Which sidecar an input's run writes, or why it writes none: a complete one of the same input
// and settings is kept (the run resumes), one another run is writing is left to it, and one
// made from another input of the same file name is never overwritten (the run takes NAME-2).
#pragma once
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "cli/common/diagnostics.h"
#include "cli/output/sidecar_lock.h"
#include "cli/output/sidecar_writer.h"
#include "cli/results/timeline.h"

struct SidecarClaim {
  enum class Kind {
    Write,       // analyse, into target.path, under the lock
    Complete,    // not analysed again: `lines` is its sidecar read back
    InProgress,  // another run is writing it: `holder` says where
    Failed,      // no lock could be made: the error is said
  };
  Kind kind = Kind::Write;
  SidecarTarget target;
  std::unique_ptr<SidecarLock> lock;
  std::vector<Timeline> lines;
  LockHolder holder;
};

// The input's size and modification time, where it is a regular file, with the settings block.
SidecarOrigin OriginOf(const std::string& input, const std::string& settings);

// The sidecar of `input` in `dir` (beside it: ""), under a name this run has not given out
// (`used`). `again` (-y, --live): a complete sidecar is analysed again all the same.
SidecarClaim ClaimSidecar(const std::string& input, const std::string& dir, const SidecarOrigin& origin, bool again,
                          std::set<std::string>& used, Diagnostics& diag);
