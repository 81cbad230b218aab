#include "cli/output/sidecar_keys.h"

#include <cctype>

std::string LinePrefix(const std::string& name) { return name.empty() ? "lineview." : "lineview.line" + name + "."; }

char ChannelLetter(const Timeline& t, int c) {
  return static_cast<char>(std::tolower(static_cast<unsigned char>(t.channelNames[c][0])));
}

std::string SidecarPath(const std::string& input, const std::string& dir) {
  std::string name = input.empty() ? "builtin" : input == "-" ? "stdin" : input;
  // Nothing can be written beside stdin, the built-in signal or a URL: they go to the folder
  // named, else the current one.
  if (!dir.empty() || input.empty() || input == "-" || input.find("://") != std::string::npos) {
    name = name.substr(name.find_last_of('/') + 1);
    return (dir.empty() ? std::string() : dir + "/") + name + kSidecarSuffix;
  }
  return name + kSidecarSuffix;
}
