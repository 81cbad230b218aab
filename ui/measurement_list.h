// One SNR reading per tuning frequency, kept in ascending frequency, and the report text made
// from it. Lives as long as the library; used from the window thread only.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

struct MeasurementRecord {
  int32_t frequencyHz;
  double snr;
};

class MeasurementList {
 public:
  // How a block grows: realloc's contract (null on failure, the old block left intact).
  // Replaceable so that a test can make it fail.
  using ReallocFn = void* (*)(void* block, std::size_t bytes);

  explicit MeasurementList(ReallocFn reallocate = nullptr);
  ~MeasurementList();
  MeasurementList(const MeasurementList&) = delete;
  MeasurementList& operator=(const MeasurementList&) = delete;

  // Inserts in frequency order, or replaces the reading of an equal frequency. False, with the
  // list unchanged, when the storage could not grow.
  bool Add(int32_t frequencyHz, double snr);
  // Removes every record and frees the storage.
  void Clear();

  std::size_t Count() const { return count_; }
  std::size_t Capacity() const { return capacity_; }
  // An index past the end reads as a zero record.
  const MeasurementRecord& operator[](std::size_t i) const;
  const MeasurementRecord* Records() const { return records_; }

 private:
  bool Reserve(std::size_t needed);

  ReallocFn reallocate_;
  MeasurementRecord* records_ = nullptr;
  std::size_t count_ = 0;
  std::size_t capacity_ = 0;
};

// One report line, "%3d,%d\t%2d,%d\r\n": whole MHz, hundredths of a MHz (both from the integer
// hertz), whole dB and tenths of a dB (each truncated toward zero). Write it in binary mode:
// the line carries its own CR LF.
std::string FormatReportLine(int32_t frequencyHz, double snr);
// Every record's line in list order; an empty list gives an empty text.
std::string ReportText(const MeasurementList& list);
