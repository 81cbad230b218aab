#include "settings/ini_text.h"

uint64_t ParseDecimal(const char* text) {
  if (!text) return 0;
  const char* p = text;
  while (IsIniSpace(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  uint64_t v = 0;
  for (; *p >= '0' && *p <= '9'; ++p) v = v * 10u + static_cast<uint64_t>(*p - '0');
  return negative ? 0u - v : v;
}

std::string FormatUInt64(uint64_t value) {
  char buf[24];
  char* p = buf + sizeof buf;
  do {
    *--p = static_cast<char>('0' + value % 10u);
    value /= 10u;
  } while (value != 0);
  return std::string(p, buf + sizeof buf);
}

std::string FormatInt64(int64_t value) {
  if (value >= 0) return FormatUInt64(static_cast<uint64_t>(value));
  return "-" + FormatUInt64(0u - static_cast<uint64_t>(value));
}
