// The results of a run beside its media: NAME.lineview.xml.gz, gzipped XML in the schema of
// `ffprobe -of xml`, so that tools that read ffprobe's frames read ours. One <frame> per
// analysed frame with a <tag> per value, written as the run goes; the settings, the counts and
// the samples of the report's frames in <format> when the run ends (or is stopped).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "cli/output/safe_file.h"
#include "cli/results/timeline.h"

typedef struct gzFile_s* gzFile;

class SidecarWriter {
 public:
  SidecarWriter() = default;
  ~SidecarWriter();
  SidecarWriter(const SidecarWriter&) = delete;
  SidecarWriter& operator=(const SidecarWriter&) = delete;

  // Written as NAME.part and renamed to NAME by Finish; a writer dropped unfinished removes it.
  bool Open(const std::string& path, std::string* error);
  // The last frame of each line's timeline, all of one input frame.
  bool Frame(const std::vector<const Timeline*>& lines, int width, int height, double frameRate);
  // Closes the file with the settings, the counts and the kept samples; `stopped`: the run
  // ended before its input did. A timeline with an error records the input's failure.
  bool Finish(const std::vector<const Timeline*>& lines, bool stopped);
  // Why the last Frame or Finish failed, in the system's words.
  const std::string& Error() const { return error_; }

 private:
  bool Put(const std::string& text);
  bool Flush();
  bool Failed(int err);
  SafeFile target_;
  gzFile file_ = nullptr;
  std::string error_;
  std::string buffer_;
};
