// The words lineview shows and reads for the plug-in's numbers, one table each, so that the
// command line, the outputs and the live window spell them alike. A new user-visible word for
// a number goes into a table here, never into the code that prints it.
#pragma once
#include <string>
#include <utility>
#include <vector>

struct NamedCode {
  const char* name;
  int code;
};

// Pages (PageMode values) in the tool window's order; "none" for any other number.
extern const NamedCode kPageNames[3];
const char* PageName(int mode);
// Spectrum windows 0..3 (WindowFunctionCode); null for any other number.
extern const NamedCode kWindowNames[4];
const char* WindowName(int window);
// Trace styles of the spectrum and levels pages 0..2; null for any other number.
extern const NamedCode kStyleNames[3];
const char* StyleName(int style);
// Fields of interlaced frames: 0 "top", 1 "bottom".
const char* FieldName(int field);
// The ways a run measures SNR (SnrKind values): the tool window's, and luminance noise in a
// defined band, flat or weighted.
extern const NamedCode kSnrMethodNames[3];
const char* SnrMethodName(int kind);
// The three channels of a colour space (ColorMode 1: Y, U, V; anything else R, G, B).
const char* const* ChannelNames(int colorMode);

// A table's names with their codes, for the command line's lists of choices.
std::vector<std::pair<std::string, int>> Choices(const NamedCode* table, size_t count);
template <size_t N>
std::vector<std::pair<std::string, int>> Choices(const NamedCode (&table)[N]) {
  return Choices(table, N);
}
