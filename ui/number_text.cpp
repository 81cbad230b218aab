#include "ui/number_text.h"

std::string FormatTenths(int64_t tenths) {
  // Magnitude in unsigned arithmetic so that the most negative value has one too.
  const uint64_t magnitude = tenths < 0 ? 0 - static_cast<uint64_t>(tenths) : static_cast<uint64_t>(tenths);
  std::string text = tenths < 0 ? "-" : "";
  text += std::to_string(magnitude / 10);
  text += '.';
  text += static_cast<char>('0' + magnitude % 10);
  return text;
}
