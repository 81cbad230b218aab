#include "ui/number_text.h"

#include <cmath>
#include <cstdio>

std::string FormatTenths(int64_t tenths) {
  // Magnitude in unsigned arithmetic so that the most negative value has one too.
  const uint64_t magnitude = tenths < 0 ? 0 - static_cast<uint64_t>(tenths) : static_cast<uint64_t>(tenths);
  std::string text = tenths < 0 ? "-" : "";
  text += std::to_string(magnitude / 10);
  text += '.';
  text += static_cast<char>('0' + magnitude % 10);
  return text;
}

std::string FormatHundredths(double value) {
  if (std::isnan(value)) return std::signbit(value) ? "-nan" : "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  // printf rounds the exact binary value; only its decimal point follows the locale. Whatever
  // stands between the integer digits and the last two digits is that point. (std::to_chars
  // would do without it, but brings some 190 KB of tables and code into the DLL.)
  char text[400];  // the largest double has 309 digits before the point
  const int n = std::snprintf(text, sizeof text, "%.2f", value);
  if (n < 3 || n >= static_cast<int>(sizeof text)) return std::string();
  const std::string s(text, n);
  size_t i = s[0] == '-' ? 1 : 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
  if (s.size() < i + 3) return s;
  return s.substr(0, i) + "." + s.substr(s.size() - 2);
}
