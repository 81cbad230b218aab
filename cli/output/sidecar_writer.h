// The results of a run beside its media: NAME.lineview.xml.gz, gzipped XML in the schema of
// `ffprobe -of xml`, so that tools that read ffprobe's frames read ours. One <frame> per
// analysed frame with a <tag> per value, written as the run goes; the settings, the counts and
// the samples of the report's frames in <format> when the run ends (or is stopped), its last
// tag the end marker (lineview.end: the number of frames) that tells a whole file from a cut one.
// While the run writes, the file is NAME.part, flushed to a gzip sync point at least once a
// second of video and every 5 s, so that a run killed outright leaves its frames readable.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "cli/output/safe_file.h"
#include "cli/results/judge.h"
#include "cli/results/timeline.h"

typedef struct gzFile_s* gzFile;
class SidecarLock;

// What a resumed run compares before it takes a sidecar as its own: the input's size and
// modification time (none for a pipe, a device or a URL) and the settings block.
struct SidecarOrigin {
  bool known = false;  // a regular file, whose size and time were read
  int64_t size = 0;
  std::string modified;  // seconds.nanoseconds since the epoch
  std::string settings;  // everything that shapes the results, as one text
};

// Where a run writes its sidecar; an empty path: none.
struct SidecarTarget {
  std::string path;
  SidecarOrigin origin;
  SidecarLock* lock = nullptr;  // held for the path, refreshed and checked by the writer
};

class SidecarWriter {
 public:
  SidecarWriter() = default;
  ~SidecarWriter();
  SidecarWriter(const SidecarWriter&) = delete;
  SidecarWriter& operator=(const SidecarWriter&) = delete;

  // Written as NAME.part and renamed to NAME by Finish; a writer dropped unfinished removes it.
  // The origin is recorded in <format>, for a later run to resume by; the lock is refreshed
  // while the run writes and asked before the rename: a run whose lock was taken over does
  // not replace the newer run's file.
  bool Open(const SidecarTarget& target, std::string* error);
  // The last frame of each line's timeline, all of one input frame.
  bool Frame(const std::vector<const Timeline*>& lines, int width, int height, double frameRate);
  // Closes the file with the settings, the counts and the kept samples; `stopped`: the run
  // ended before its input did. A timeline with an error records the input's failure.
  bool Finish(const std::vector<const Timeline*>& lines, bool stopped);
  // The thresholds the run judges with: the file records them with each line's verdict.
  void SetThresholds(const Thresholds& limits) { limits_ = limits; }
  // Why the last Frame or Finish failed, in the system's words.
  const std::string& Error() const { return error_; }

 private:
  bool Put(const std::string& text);
  bool Flush();
  bool SyncPoint(double seconds);
  bool Failed(int err);
  SafeFile target_;
  gzFile file_ = nullptr;
  std::string error_;
  std::string buffer_;
  SidecarOrigin origin_;
  SidecarLock* lock_ = nullptr;
  int64_t frames_ = 0;
  Thresholds limits_;
  double syncedVideo_ = -1e300;  // the frame time and the wall time of the last sync point
  double syncedWall_ = 0;
};
