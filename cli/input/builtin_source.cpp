#include "cli/input/builtin_source.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "host/test_signals.h"

namespace {

class BuiltInSource final : public FrameSource {
 public:
  BuiltInSource(int pixelFormat, double start, double end)
      : next_(std::min<int64_t>(kBuiltInFrames, std::llround(start * kBuiltInRate))),
        last_(end >= 0 ? std::min<int64_t>(kBuiltInFrames, next_ + std::llround((end - start) * kBuiltInRate))
                       : kBuiltInFrames) {
    width_ = kBuiltInWidth;
    height_ = kBuiltInHeight;
    pixelFormat_ = pixelFormat;
    pristine_.resize(FrameBytes(width_, height_, pixelFormat));
    FillColourBars(pristine_.data(), width_, height_, pixelFormat);
    frame_.resize(pristine_.size());
  }

  bool Next(InputFrame* frame) override {
    if (next_ >= last_) return false;
    // The frame path marks the analysed line in the frame: every frame starts from a clean copy.
    std::memcpy(frame_.data(), pristine_.data(), frame_.size());
    frame->pixels = frame_.data();
    frame->index = next_;
    frame->seconds = static_cast<double>(next_) / kBuiltInRate;
    ++next_;
    return true;
  }

  int64_t ExpectedFrames() const override { return last_ - next_; }

 private:
  std::vector<uint8_t> pristine_;
  std::vector<uint8_t> frame_;
  int64_t next_ = 0;
  const int64_t last_;
};

}  // namespace

std::unique_ptr<FrameSource> MakeBuiltInSource(const CliOptions& o) {
  return std::make_unique<BuiltInSource>(o.convert, o.startSeconds, o.endSeconds);
}
