// A source asked for one row delivers that row exactly as a whole-frame conversion does, in
// both layouts and from the pixel formats decoders commonly produce.
#include "cli/frame_source.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "cli_test_util.h"
#include "plugin/host_contract.h"

namespace {

std::unique_ptr<FrameSource> Open(const CliOptions& o) {
  std::ostringstream err;
  Diagnostics diag(err);
  int code = -1;
  auto source = OpenFrameSource(o, diag, &code);
  EXPECT_TRUE(source) << err.str();
  return source;
}

TEST(FrameSource, OneConvertedRowEqualsTheSameRowOfAWholeFrame) {
  SKIP_WITHOUT_FFMPEG();
  TempDir dir;
  const std::string src = "testsrc2=size=720x576:rate=25";
  struct Input {
    std::string file, encode;
  } inputs[] = {{"420.mkv", "-c:v ffv1 -pix_fmt yuv420p"},
                {"422.mkv", "-c:v ffv1 -pix_fmt yuv422p"},
                {"nv12.nut", "-c:v rawvideo -pix_fmt nv12"},
                {"rgb.nut", "-c:v rawvideo -pix_fmt bgr24"},
                {"yuyv.nut", "-c:v rawvideo -pix_fmt yuyv422"}};
  for (const Input& in : inputs) {
    ASSERT_TRUE(Ffmpeg("-f lavfi -i " + src + " -frames:v 3 " + in.encode + " " + Quote(dir / in.file))) << in.file;
    for (int layout : {PixelFormatYuy2, PixelFormatBgr24}) {
      for (int row : {0, 1, 101, 575}) {
        CliOptions o;
        o.input = dir / in.file;
        o.convert = layout;
        auto whole = Open(o), band = Open(o);
        ASSERT_TRUE(whole && band);
        ASSERT_EQ(whole->Height(), 576);
        band->SetAnalysedRow(row);
        const size_t stride = size_t(whole->Width()) * (layout == PixelFormatBgr24 ? 3 : 2);
        // BGR24 frames are bottom-up.
        const size_t offset = stride * size_t(layout == PixelFormatBgr24 ? 575 - row : row);
        InputFrame a, b;
        int frames = 0;
        while (whole->Next(&a)) {
          ASSERT_TRUE(band->Next(&b));
          EXPECT_EQ(std::memcmp(a.pixels + offset, b.pixels + offset, stride), 0)
              << in.file << " layout " << layout << " row " << row << " frame " << frames;
          ++frames;
        }
        EXPECT_EQ(frames, 3);
        EXPECT_FALSE(band->Next(&b));
      }
    }
  }
}

}  // namespace
