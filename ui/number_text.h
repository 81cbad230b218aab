// Number texts of the windows, independent of the C locale: the host may have switched it to
// one with a decimal comma (the C runtime is shared with it), and the windows show "5.0" and
// "34.85", never "5,0" and "34,85".
#pragma once
#include <cstdint>
#include <string>

// What "%.1f" makes of tenths / 10 in the C locale ("0.5", "-0.5", "100.0").
std::string FormatTenths(int64_t tenths);
// What "%.2f" makes of `value` in the C locale ("34.85", "175.25", "-0.50", "inf").
std::string FormatHundredths(double value);
