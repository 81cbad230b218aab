// Number texts of the pages, independent of the C locale: the host may have switched it to
// one with a decimal comma, and the pages show "5.0", never "5,0".
#pragma once
#include <cstdint>
#include <string>

// What "%.1f" makes of tenths / 10 in the C locale ("0.5", "-0.5", "100.0").
std::string FormatTenths(int64_t tenths);
