// Which rows of a frame a run analyses, as people who measure analogue video name them: frame
// rows, lines of one field of interlaced video, or the line numbers of the 625- and 525-line
// standards; one line or several.
#pragma once

#include <string>
#include <vector>

enum class FieldChoice { None, Top, Bottom, First, Second };
enum class FieldOrder { Unknown, TopFirst, BottomFirst };

struct LineRequest {
  std::vector<int> numbers;  // --line (rows, or lines of the field) or --tv-line, as given
  bool tvLines = false;
  FieldChoice field = FieldChoice::None;
  FieldOrder order = FieldOrder::Unknown;  // --field-order; Unknown: the stream's
};

struct AnalysedLine {
  int row = 0;      // frame row, 0 at the top
  int field = -1;   // 0 top, 1 bottom; -1 where no field was chosen
  int tvLine = 0;   // the standard's line number; 0 where the frame height has none
};

// "23,100-110": numbers and ascending ranges, each at least 0; false with *error.
bool ParseLineList(const std::string& text, std::vector<int>* numbers, std::string* error);

// The standard's line a row carries, 0 for a height without a standard numbering.
int TvLineOfRow(int row, int height);

// The rows of the request on frames of `height` rows, in the order asked, each row once.
// `streamOrder` answers first and second where --field-order does not; unknown means top
// first, with *warning saying so. False with *error for a line the frames do not hold.
bool ResolveLines(const LineRequest& request, int height, FieldOrder streamOrder, std::vector<AnalysedLine>* lines,
                  std::string* error, std::string* warning);

