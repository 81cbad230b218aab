// The decoder's planes as the live window keeps them, converted again for an analysis with other
// controls, give the very frame the input delivered; BGR24 frames come out bottom-up; and an
// image nothing can convert is refused without a read out of its planes.
#include <gtest/gtest.h>

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <random>
#include <vector>

#include "cli/input/frame_convert.h"
#include "cli/live/live_session.h"
#include "host/test_signals.h"
#include "plugin/host_contract.h"

namespace {

constexpr int kWidth = 96, kHeight = 64;

// A decoded frame with noise in every plane: a plane read at the wrong pitch or row shows.
struct NoisyFrame {
  AVFrame* f = av_frame_alloc();
  NoisyFrame(AVPixelFormat format, int width, int height) {
    f->format = format;
    f->width = width;
    f->height = height;
    av_frame_get_buffer(f, 0);
    std::mt19937 random(format * 1000 + width);
    for (int p = 0; p < 4 && f->buf[p] != nullptr; ++p) {
      for (size_t i = 0; i < f->buf[p]->size; ++i) f->buf[p]->data[i] = static_cast<uint8_t>(16 + random() % 220);
    }
  }
  ~NoisyFrame() { av_frame_free(&f); }
};

std::vector<uint8_t> AsRead(const AVFrame& f, int pixelFormat) {
  std::vector<uint8_t> frame(FrameBytes(f.width, f.height, pixelFormat));
  FrameConverter converter;
  EXPECT_TRUE(converter.Convert(ImageOf(f), f.width, f.height, pixelFormat, {}, frame.data()));
  return frame;
}

TEST(PlaneLayout, KeptPlanesConvertAgainToTheFrameAsRead) {
  const struct {
    AVPixelFormat format;
    FramePlanes::Layout layout;
  } kCases[] = {{AV_PIX_FMT_YUV420P, FramePlanes::Iyuv},
                {AV_PIX_FMT_NV12, FramePlanes::Nv12},
                {AV_PIX_FMT_YUYV422, FramePlanes::Yuy2}};
  for (const auto& c : kCases) {
    NoisyFrame decoded(c.format, kWidth, kHeight);
    const FramePlanes planes = PlanesOf(*decoded.f);
    ASSERT_EQ(planes.layout, c.layout) << c.format;
    for (int pixelFormat : {PixelFormatYuy2, PixelFormatBgr24}) {
      LivePicture kept;
      kept.KeepPlanes(planes, kHeight);
      ASSERT_TRUE(kept.ConvertPlanes(kWidth, kHeight, pixelFormat));
      EXPECT_EQ(kept.clean, AsRead(*decoded.f, pixelFormat)) << c.format << " into " << pixelFormat;
    }
  }
}

TEST(PlaneLayout, BgrFramesAreBottomUp) {
  NoisyFrame decoded(AV_PIX_FMT_YUV420P, kWidth, kHeight);
  std::vector<uint8_t> topDown(size_t(kWidth) * 3 * kHeight);
  SwsContext* sws = sws_getContext(kWidth, kHeight, AV_PIX_FMT_YUV420P, kWidth, kHeight, AV_PIX_FMT_BGR24, SWS_BILINEAR,
                                   nullptr, nullptr, nullptr);
  uint8_t* out[4] = {topDown.data(), nullptr, nullptr, nullptr};
  int strides[4] = {kWidth * 3, 0, 0, 0};
  sws_scale(sws, decoded.f->data, decoded.f->linesize, 0, kHeight, out, strides);
  sws_freeContext(sws);
  const std::vector<uint8_t> frame = AsRead(*decoded.f, PixelFormatBgr24);
  const size_t row = size_t(kWidth) * 3;
  for (int y : {0, 1, kHeight / 2, kHeight - 1}) {
    EXPECT_TRUE(std::equal(topDown.begin() + y * row, topDown.begin() + (y + 1) * row,
                           frame.begin() + (kHeight - 1 - y) * row))
        << "picture row " << y;
  }
}

TEST(PlaneLayout, PlanesOnlyWhereAWindowShowsThemAsTheyAre) {
  const struct {
    AVPixelFormat format;
    int width, height;
    FramePlanes::Layout layout;
  } kCases[] = {
      {AV_PIX_FMT_YUVJ420P, kWidth, kHeight, FramePlanes::Iyuv},
      {AV_PIX_FMT_YUV420P, kWidth - 1, kHeight, FramePlanes::None},  // halved chroma of an odd size
      {AV_PIX_FMT_NV12, kWidth, kHeight - 1, FramePlanes::None},
      {AV_PIX_FMT_YUV422P, kWidth, kHeight, FramePlanes::None},
      {AV_PIX_FMT_YUV420P10LE, kWidth, kHeight, FramePlanes::None},
      {AV_PIX_FMT_RGB24, kWidth, kHeight, FramePlanes::None},
  };
  for (const auto& c : kCases) {
    NoisyFrame decoded(c.format, c.width, c.height);
    const FramePlanes planes = PlanesOf(*decoded.f);
    EXPECT_EQ(planes.layout, c.layout) << c.format << " " << c.width << "x" << c.height;
    if (c.layout == FramePlanes::None) {
      EXPECT_EQ(planes.data[0], nullptr);
    }
  }
}

TEST(PlaneLayout, ImagesNothingCanConvertAreRefused) {
  NoisyFrame decoded(AV_PIX_FMT_YUV420P, kWidth, kHeight);
  DecodedImage noFormat = ImageOf(*decoded.f);
  noFormat.format = -1;
  DecodedImage noRows = ImageOf(*decoded.f);
  noRows.height = 0;
  const struct {
    const char* what;
    DecodedImage image;
    int width, height;
  } kCases[] = {
      {"no format", noFormat, kWidth, kHeight},
      {"an image without rows", noRows, kWidth, kHeight},
      {"a frame without rows", ImageOf(*decoded.f), kWidth, 0},
      {"planes of no layout", ImageOf(FramePlanes{}, kWidth, kHeight), kWidth, kHeight},
  };
  for (const auto& c : kCases) {
    std::vector<uint8_t> frame(FrameBytes(kWidth, kHeight, PixelFormatYuy2), 7);
    FrameConverter converter;
    EXPECT_FALSE(converter.Convert(c.image, c.width, c.height, PixelFormatYuy2, {}, frame.data())) << c.what;
    EXPECT_EQ(frame, std::vector<uint8_t>(frame.size(), 7)) << c.what;
  }
  LivePicture kept;  // a picture of no planes: nothing to analyse again
  EXPECT_FALSE(kept.ConvertPlanes(kWidth, kHeight, PixelFormatYuy2));
}

}  // namespace
