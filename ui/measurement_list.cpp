#include "ui/measurement_list.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <type_traits>

static_assert(std::is_trivially_copyable_v<MeasurementRecord>, "records are moved with realloc and memmove");

namespace {

void* PlainRealloc(void* block, std::size_t bytes) { return std::realloc(block, bytes); }

// Truncation toward zero into int32 that is defined for every double: NaN gives 0, values
// beyond the range the nearest end.
int32_t TruncToInt32(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

}  // namespace

MeasurementList::MeasurementList(ReallocFn reallocate) : reallocate_(reallocate ? reallocate : PlainRealloc) {}

MeasurementList::~MeasurementList() { std::free(records_); }

bool MeasurementList::Reserve(std::size_t needed) {
  if (needed <= capacity_) return true;
  std::size_t capacity = needed;  // the first block holds exactly what is needed
  if (capacity_ > 0) {
    const std::size_t step = std::max<std::size_t>(4, std::min<std::size_t>(1024, count_ / 8));
    capacity = std::max(needed, capacity_ + step);
  }
  if (capacity > std::numeric_limits<std::size_t>::max() / sizeof(MeasurementRecord)) return false;
  void* block = reallocate_(records_, capacity * sizeof(MeasurementRecord));
  if (!block) return false;
  records_ = static_cast<MeasurementRecord*>(block);
  capacity_ = capacity;
  return true;
}

bool MeasurementList::Add(int32_t frequencyHz, double snr) {
  std::size_t i = 0;
  while (i < count_ && records_[i].frequencyHz < frequencyHz) ++i;
  if (i < count_ && records_[i].frequencyHz == frequencyHz) {
    records_[i].snr = snr;
    return true;
  }
  if (!Reserve(count_ + 1)) return false;
  std::memmove(records_ + i + 1, records_ + i, (count_ - i) * sizeof(MeasurementRecord));
  records_[i] = {frequencyHz, snr};
  ++count_;
  return true;
}

const MeasurementRecord& MeasurementList::operator[](std::size_t i) const {
  static const MeasurementRecord kNone{0, 0.0};
  return i < count_ ? records_[i] : kNone;
}

void MeasurementList::Clear() {
  std::free(records_);
  records_ = nullptr;
  count_ = 0;
  capacity_ = 0;
}

std::string FormatReportLine(int32_t frequencyHz, double snr) {
  const int32_t a = frequencyHz / 1000000;
  const int32_t b = frequencyHz % 1000000 / 10000;
  const int32_t c = TruncToInt32(snr);
  const int32_t d = TruncToInt32((snr - c) * 10);
  char line[64];
  std::snprintf(line, sizeof line, "%3d,%d\t%2d,%d\r\n", static_cast<int>(a), static_cast<int>(b),
                static_cast<int>(c), static_cast<int>(d));
  return line;
}

std::string ReportText(const MeasurementList& list) {
  std::string text;
  for (std::size_t i = 0; i < list.Count(); ++i) text += FormatReportLine(list[i].frequencyHz, list[i].snr);
  return text;
}
