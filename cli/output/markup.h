// Text inside HTML or XML, as element content or a quoted attribute.
#pragma once
#include <string>

inline std::string EscapeMarkup(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (unsigned char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default:
        // XML 1.0 has no way to carry most control characters: U+FFFD stands for them.
        if (c < 0x20 && c != '\t') {
          out += "\xEF\xBF\xBD";
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out;
}
