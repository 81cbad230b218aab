// How the settings file spells things: its white space and its decimal numbers. Below both the
// store (ini_store) and its file operations (ini_files), which use them.
#pragma once
#include <cstdint>
#include <string>

// White space around sections, keys, values and numbers: space, tab, CR, LF, VT, FF.
inline bool IsIniSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

// Leading white space, one optional sign, decimal digits up to the first non-digit; no digits
// give 0. Accumulates modulo 2^64, so the low 32 bits are the modulo 2^32 result.
uint64_t ParseDecimal(const char* text);

// Signed / unsigned 64-bit decimal, the same on every C library.
std::string FormatInt64(int64_t value);
std::string FormatUInt64(uint64_t value);
