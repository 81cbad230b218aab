// A source asked for one row delivers that row exactly as a whole-frame conversion does, in
// both layouts and from every pixel layout decoders commonly produce.
#include "cli/input/frame_source.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <sstream>
#include <vector>

#include "cli_test_util.h"
#include "plugin/host_contract.h"

namespace {

struct Clip {
  const char* pixFmt;  // the layout the decoder hands over
  const char* file;
  const char* encode;  // how ffmpeg keeps that layout
  int height;
};
// Noise in every plane: a chroma row that a conversion takes from the wrong neighbour shows.
const Clip kClips[] = {
    {"yuv420p", "yuv420p.mkv", "-c:v ffv1", 576},
    {"yuv420p10le", "yuv420p10le.mkv", "-c:v ffv1", 576},
    // The last chroma row covers one line: the whole frame's chroma then steps by other than a
    // half row, and rows in the lower half (300) come out unlike any band's.
    {"yuv420p10le", "odd.mkv", "-c:v ffv1", 575},
    {"yuv422p", "yuv422p.mkv", "-c:v ffv1", 576},
    {"yuv422p10le", "yuv422p10le.mkv", "-c:v ffv1", 576},
    {"yuv444p", "yuv444p.mkv", "-c:v ffv1", 576},
    {"nv12", "nv12.nut", "-c:v rawvideo", 576},
    {"p010le", "p010le.yuv", "-f rawvideo", 576},  // no container here keeps it: raw frames
    {"rgb24", "rgb24.nut", "-c:v rawvideo", 576},
    {"bgr24", "bgr24.nut", "-c:v rawvideo", 576},
    {"yuyv422", "yuyv422.nut", "-c:v rawvideo", 576},
    {"gray", "gray.mkv", "-c:v ffv1", 576},
    {"gray16le", "gray16le.mkv", "-c:v ffv1", 576},
    {"pal8", "pal8.mkv", "-c:v png", 576},
};
constexpr int kFrames = 3;

CliOptions OptionsFor(const std::string& dir, const Clip& clip, int layout) {
  CliOptions o;
  o.input = dir + "/" + clip.file;
  o.convert = layout;
  if (std::strcmp(clip.encode, "-f rawvideo") == 0) {
    o.format = "rawvideo";
    o.videoSize = "720x" + std::to_string(clip.height);
    o.pixelFormat = clip.pixFmt;
  }
  return o;
}

std::unique_ptr<FrameSource> Open(const CliOptions& o) {
  std::ostringstream err;
  Diagnostics diag(err);
  int code = -1;
  auto source = OpenFrameSource(o, diag, &code);
  EXPECT_TRUE(source) << err.str();
  return source;
}

size_t RowBytes(int layout) { return size_t(720) * (layout == PixelFormatBgr24 ? 3 : 2); }

// Where frame row `row` starts: BGR24 frames are bottom-up.
size_t RowOffset(int layout, int height, int row) {
  return RowBytes(layout) * size_t(layout == PixelFormatBgr24 ? height - 1 - row : row);
}

class FrameSourceRows : public ::testing::Test {
 protected:
  // Every clip made once, each checked to decode to the layout meant.
  static void SetUpTestSuite() {
    if (!HaveFfmpeg()) return;
    dir_ = new TempDir;
    for (const Clip& c : kClips) {
      const std::string src = "testsrc2=size=720x" + std::to_string(c.height) +
                              ":rate=25,format=yuv444p,noise=alls=40:allf=t+u";
      const std::string path = *dir_ / c.file;
      made_.push_back(Ffmpeg("-f lavfi -i " + src + " -frames:v " + std::to_string(kFrames) + " " + c.encode +
                             " -pix_fmt " + c.pixFmt + " " + Quote(path)));
      const CliOptions o = OptionsFor(dir_->Path(), c, PixelFormatYuy2);
      const std::string raw =
          o.format.empty() ? "" : "-f rawvideo -video_size " + o.videoSize + " -pixel_format " + c.pixFmt + " ";
      probed_.push_back(
          RunShell("ffprobe -v error " + raw + "-show_entries stream=pix_fmt -of csv=p=0 " + Quote(path)).out);
    }
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override {
    SKIP_WITHOUT_FFMPEG();
    for (size_t i = 0; i < std::size(kClips); ++i) {
      ASSERT_TRUE(made_[i]) << kClips[i].file;
      ASSERT_EQ(probed_[i], std::string(kClips[i].pixFmt) + "\n") << kClips[i].file;
    }
  }

  static inline TempDir* dir_ = nullptr;
  static inline std::vector<bool> made_;
  static inline std::vector<std::string> probed_;
};

TEST_F(FrameSourceRows, OneConvertedRowEqualsTheSameRowOfAWholeFrame) {
  for (const Clip& clip : kClips) {
    for (int layout : {PixelFormatYuy2, PixelFormatBgr24}) {
      const CliOptions o = OptionsFor(dir_->Path(), clip, layout);
      std::vector<std::vector<uint8_t>> frames;
      auto whole = Open(o);
      ASSERT_TRUE(whole);
      ASSERT_EQ(whole->Height(), clip.height);
      InputFrame f;
      while (whole->Next(&f)) frames.emplace_back(f.pixels, f.pixels + RowBytes(layout) * size_t(clip.height));
      ASSERT_EQ(frames.size(), size_t(kFrames)) << clip.file;
      const int last = clip.height - 1;
      for (int row : {0, 1, 7, 8, 15, 100, 101, 300, last}) {
        auto band = Open(o);
        ASSERT_TRUE(band);
        ASSERT_EQ(band->Height(), clip.height);
        band->SetAnalysedRows({row});
        const size_t offset = RowOffset(layout, clip.height, row);
        InputFrame b;
        for (int i = 0; i < kFrames; ++i) {
          ASSERT_TRUE(band->Next(&b));
          EXPECT_EQ(std::memcmp(frames[i].data() + offset, b.pixels + offset, RowBytes(layout)), 0)
              << clip.file << " layout " << layout << " row " << row << " frame " << i;
        }
        EXPECT_FALSE(band->Next(&b));
      }
    }
  }
}

}  // namespace
