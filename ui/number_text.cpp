#include "ui/number_text.h"

#include <charconv>
#include <cmath>

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
  // to_chars never looks at the locale and rounds the exact binary value, as printf does.
  char text[400];  // the largest double has 309 digits before the point
  const std::to_chars_result r = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 2);
  return r.ec == std::errc() ? std::string(text, r.ptr) : std::string();
}
