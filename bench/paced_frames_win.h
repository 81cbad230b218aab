// Frames delivered at a steady rate from a thread of their own, as a host's video thread
// delivers them, each ProcessFrame timed. Used by window_work_bench and by the Windows test
// that feeds frames while the window thread switches pages and repaints.
#pragma once
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "plugin/host_contract.h"

namespace lvtest {

inline double NowMs() {
  static const double ticksPerMs = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart) / 1000.0;
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) / ticksPerMs;
}

struct TimedFrame {
  double startMs;     // NowMs() as ProcessFrame was called
  double durationMs;  // how long it took
};

struct FrameTimeSummary {
  double median = 0, p99 = 0, worst = 0;
};

inline FrameTimeSummary Summarise(const std::vector<TimedFrame>& frames) {
  std::vector<double> t;
  for (const TimedFrame& f : frames) t.push_back(f.durationMs);
  FrameTimeSummary s;
  if (t.empty()) return s;
  std::sort(t.begin(), t.end());
  s.median = t[t.size() / 2];
  s.p99 = t[std::min(t.size() - 1, static_cast<size_t>(static_cast<double>(t.size()) * 0.99))];
  s.worst = t.back();
  return s;
}

// The longest frame that started within `windowMs` after `atMs`.
inline double WorstAfter(const std::vector<TimedFrame>& frames, double atMs, double windowMs) {
  double worst = 0;
  for (const TimedFrame& f : frames) {
    if (f.startMs >= atMs && f.startMs < atMs + windowMs) worst = std::max(worst, f.durationMs);
  }
  return worst;
}

// `count` frames of `frame`, one every 1000/fps ms. The frame is the caller's and must outlive
// the run; it is not touched by the caller while frames run.
class PacedFrames {
 public:
  PacedFrames(const PluginDescriptor& d, FrameInfo& frame, int count, double fps)
      : d_(d), frame_(frame), count_(count), periodMs_(1000.0 / fps) {
    times_.reserve(static_cast<size_t>(count));
  }
  ~PacedFrames() { Join(); }

  void Start() {
    thread_ = std::thread([this] {
      double due = NowMs();
      for (int i = 0; i < count_; ++i) {
        for (double now = NowMs(); now < due; now = NowMs()) Sleep(static_cast<DWORD>(std::max(1.0, due - now)));
        const double start = NowMs();
        d_.ProcessFrame(&frame_);
        times_.push_back({start, NowMs() - start});
        done_.store(i + 1, std::memory_order_release);
        // A late frame does not make the next ones come in a burst.
        due = std::max(due + periodMs_, NowMs());
      }
    });
  }
  int Done() const { return done_.load(std::memory_order_acquire); }
  bool Finished() const { return Done() == count_; }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  // Read after Join.
  const std::vector<TimedFrame>& Times() const { return times_; }

 private:
  const PluginDescriptor& d_;
  FrameInfo& frame_;
  const int count_;
  const double periodMs_;
  std::vector<TimedFrame> times_;
  std::atomic<int> done_{0};
  std::thread thread_;
};

}  // namespace lvtest
