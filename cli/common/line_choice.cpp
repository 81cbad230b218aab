#include "cli/common/line_choice.h"
#include "cli/common/names.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {

// How a standard's active lines fill the rows of a frame: the even rows hold `evenFirst`,
// `evenFirst`+1, ..., the odd rows `oddFirst`, ... (ITU-R BT.656 numbering; the rows of
// a 480-row frame are those of a 486-row one less its top 4 and bottom 2).
struct Standard {
  int height;
  int evenFirst, oddFirst;
  const char* system;
};
constexpr Standard kStandards[] = {
    {576, 23, 336, "625-line"},
    {486, 283, 21, "525-line"},
    {480, 285, 23, "525-line"},
};

const Standard* StandardOf(int height) {
  for (const Standard& s : kStandards) {
    if (s.height == height) return &s;
  }
  return nullptr;
}

bool ParseNumber(const std::string& text, int* value) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  errno = 0;
  const long v = std::strtol(text.c_str(), nullptr, 10);
  if (errno != 0 || v > INT_MAX / 4) return false;
  *value = static_cast<int>(v);
  return true;
}

std::string Range(int first, int last) { return std::to_string(first) + "-" + std::to_string(last); }

}  // namespace

bool ParseLineList(const std::string& text, std::vector<int>* numbers, std::string* error) {
  numbers->clear();
  size_t at = 0;
  while (at <= text.size()) {
    const size_t comma = std::min(text.find(',', at), text.size());
    const std::string item = text.substr(at, comma - at);
    const size_t dash = item.find('-');
    int first = 0, last = 0;
    const bool ok = dash == std::string::npos
                        ? ParseNumber(item, &first) && (last = first, true)
                        : ParseNumber(item.substr(0, dash), &first) && ParseNumber(item.substr(dash + 1), &last);
    if (!ok || last < first || last - first > 100000) {
      *error = "'" + item + "' is not a line or an ascending range of lines (e.g. 23,100-110)";
      return false;
    }
    for (int n = first; n <= last; ++n) numbers->push_back(n);
    at = comma + 1;
  }
  return true;
}

int TvLineOfRow(int row, int height) {
  const Standard* s = StandardOf(height);
  if (s == nullptr || row < 0 || row >= height) return 0;
  return (row % 2 == 0 ? s->evenFirst : s->oddFirst) + row / 2;
}

bool ResolveLines(const LineRequest& r, int height, FieldOrder streamOrder, std::vector<AnalysedLine>* lines,
                  std::string* error, std::string* warning) {
  lines->clear();
  const Standard* standard = StandardOf(height);
  int parity = -1;  // the field's row parity: 0 top, 1 bottom
  if (r.field == FieldChoice::Top || r.field == FieldChoice::Bottom) {
    parity = r.field == FieldChoice::Top ? 0 : 1;
  } else if (r.field == FieldChoice::First || r.field == FieldChoice::Second) {
    FieldOrder order = r.order != FieldOrder::Unknown ? r.order : streamOrder;
    if (order == FieldOrder::Unknown) {
      *warning = "the input does not say which field comes first: the top field is taken as the first (--field-order)";
      order = FieldOrder::TopFirst;
    }
    const int first = order == FieldOrder::TopFirst ? 0 : 1;
    parity = r.field == FieldChoice::First ? first : 1 - first;
  }
  if (r.tvLines && standard == nullptr) {
    *error = "--tv-line needs frames of 576 rows (625-line systems) or of 480 or 486 rows (525-line systems); these "
             "have " + std::to_string(height) + ": name rows with --line";
    return false;
  }
  for (int n : r.numbers) {
    AnalysedLine l;
    if (r.tvLines) {
      const int even = n - standard->evenFirst, odd = n - standard->oddFirst;
      const int half = height / 2;
      if (even >= 0 && even < half) {
        l.row = 2 * even;
      } else if (odd >= 0 && odd < height - half) {
        l.row = 2 * odd + 1;
      } else {
        const int a = std::min(standard->evenFirst, standard->oddFirst);
        const int b = std::max(standard->evenFirst, standard->oddFirst);
        const int aRows = a == standard->evenFirst ? half : height - half;
        const int bRows = height - aRows;
        *error = "--tv-line " + std::to_string(n) + ": a frame of " + std::to_string(height) + " rows (" +
                 standard->system + ") holds lines " + Range(a, a + aRows - 1) + " and " + Range(b, b + bRows - 1);
        return false;
      }
      l.field = l.row % 2;
    } else if (parity >= 0) {
      l.row = 2 * n + parity;
      l.field = parity;
      if (l.row >= height) {
        *error = "--line " + std::to_string(n) + ": the " + FieldName(parity) + " field of frames of " +
                 std::to_string(height) + " rows has lines 0 to " + std::to_string((height - parity + 1) / 2 - 1);
        return false;
      }
    } else {
      l.row = n;
      if (l.row >= height) {
        *error = "--line " + std::to_string(n) + ": the frames have " + std::to_string(height) + " lines, 0 to " +
                 std::to_string(height - 1);
        return false;
      }
    }
    l.tvLine = TvLineOfRow(l.row, height);
    const bool seen = std::any_of(lines->begin(), lines->end(), [&](const AnalysedLine& o) { return o.row == l.row; });
    if (!seen) lines->push_back(l);
  }
  return true;
}
