#include "cli/output/sidecar_keys.h"

#include <cctype>
#include <cstring>

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

std::string UniqueSidecarPath(const std::string& input, const std::string& dir, std::set<std::string>& used) {
  const std::string path = SidecarPath(input, dir);
  const std::string stem = path.substr(0, path.size() - std::strlen(kSidecarSuffix));
  std::string unique = path;
  for (int n = 2; !used.insert(unique).second; ++n) unique = stem + "-" + std::to_string(n) + kSidecarSuffix;
  return unique;
}

std::string SignatureText(const FrameSignature& s) {
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (uint8_t v : s.block) text += kHex[v >> 4], text += kHex[v & 15];
  return text;
}

bool ParseSignature(const std::string& text, FrameSignature* s) {
  if (text.size() != 2 * kSignatureBlocks) return false;
  for (int k = 0; k < kSignatureBlocks; ++k) {
    int v = 0;
    for (char c : {text[2 * k], text[2 * k + 1]}) {
      const int d = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
      if (d < 0) return false;
      v = v * 16 + d;
    }
    s->block[k] = static_cast<uint8_t>(v);
  }
  s->valid = true;
  return true;
}
