// The input of a run without one: the host's 75 % colour bars.
#include <cstring>
#include <vector>

#include "cli/frame_source.h"
#include "host/test_signals.h"

namespace {

class BuiltInSource final : public FrameSource {
 public:
  explicit BuiltInSource(int pixelFormat) {
    width_ = kBuiltInWidth;
    height_ = kBuiltInHeight;
    pixelFormat_ = pixelFormat;
    pristine_.resize(FrameBytes(width_, height_, pixelFormat));
    FillColourBars(pristine_.data(), width_, height_, pixelFormat);
    frame_.resize(pristine_.size());
  }

  bool Next(InputFrame* frame) override {
    if (next_ >= kBuiltInFrames) return false;
    // The frame path marks the analysed line in the frame: every frame starts from a clean copy.
    std::memcpy(frame_.data(), pristine_.data(), frame_.size());
    frame->pixels = frame_.data();
    frame->index = next_;
    frame->seconds = static_cast<double>(next_) / kBuiltInRate;
    ++next_;
    return true;
  }

  int64_t ExpectedFrames() const override { return kBuiltInFrames; }

 private:
  std::vector<uint8_t> pristine_;
  std::vector<uint8_t> frame_;
  int64_t next_ = 0;
};

}  // namespace

std::unique_ptr<FrameSource> MakeBuiltInSource(int pixelFormat) { return std::make_unique<BuiltInSource>(pixelFormat); }
