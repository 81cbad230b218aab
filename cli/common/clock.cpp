#include "cli/common/clock.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>

std::string Clock(double seconds, bool fraction) {
  if (!std::isfinite(seconds) || seconds < 0) seconds = 0;
  seconds = std::min(seconds, 1e9);  // beyond any recording: keeps the conversions below defined
  const int64_t hundredths = static_cast<int64_t>(std::llround(seconds * 100));
  const int64_t whole = fraction ? hundredths / 100 : static_cast<int64_t>(seconds);
  char b[48];
  int n = std::snprintf(b, sizeof b, "%02lld:%02lld:%02lld", static_cast<long long>(whole / 3600),
                        static_cast<long long>(whole / 60 % 60), static_cast<long long>(whole % 60));
  if (fraction) std::snprintf(b + n, sizeof b - n, ".%02lld", static_cast<long long>(hundredths % 100));
  return b;
}
