#include "cli/output/output_files.h"

#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

// Creates the picture folder and proves it takes a new file, before any decoding: a folder
// refused only at the end would waste the whole run.
bool PrepareFolder(const std::string& dir, Diagnostics& diag) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec || !std::filesystem::is_directory(dir)) {
    diag.Fail(kExitFailure, "cannot create folder '" + dir + "'");
    return false;
  }
  std::string probe = dir + "/.lineview-XXXXXX";
  const int fd = mkstemp(probe.data());
  if (fd < 0) {
    diag.Fail(kExitFailure, "cannot write into folder '" + dir + "': " + std::strerror(errno));
    return false;
  }
  close(fd);
  unlink(probe.c_str());
  return true;
}

std::string PictureName(const std::string& input, std::set<std::string>& used) {
  std::string base = input == "-" ? "stdin" : input.substr(input.find_last_of('/') + 1);
  for (char& c : base) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '_';
  }
  if (base.empty()) base = "input";
  std::string name = base;
  for (int n = 2; !used.insert(name).second; ++n) name = base + "-" + std::to_string(n);
  return "lineview-" + name + "-";
}
