#include "cli/input/frame_convert.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstring>

#include "plugin/host_contract.h"

namespace {

FramePlanes::Layout LayoutOf(int format) {
  switch (format) {
    case AV_PIX_FMT_YUV420P:
    case AV_PIX_FMT_YUVJ420P:
      return FramePlanes::Iyuv;
    case AV_PIX_FMT_NV12:
      return FramePlanes::Nv12;
    case AV_PIX_FMT_YUYV422:
      return FramePlanes::Yuy2;
    default:
      return FramePlanes::None;
  }
}

// The planes of `image` moved down to row `top`: each plane by its own rows per frame row;
// anything without samples (a palette) stays as it is.
void PlanesFrom(const DecodedImage& image, const AVPixFmtDescriptor& d, int top, const uint8_t* planes[4]) {
  for (int p = 0; p < 4 && image.data[p] != nullptr; ++p) {
    planes[p] = image.data[p];
    int shift = -1;  // log2 of the frame's rows per row of the plane; -1: no samples
    for (int c = 0; c < d.nb_components; ++c) {
      const int own = (c == 1 || c == 2) ? d.log2_chroma_h : 0;
      if (d.comp[c].plane == p) shift = shift < 0 ? own : std::min(shift, own);
    }
    if (shift >= 0) planes[p] += static_cast<ptrdiff_t>(top >> shift) * image.linesize[p];
  }
}

}  // namespace

FrameSignature SignatureOfFrame(const AVFrame& frame) {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format));
  constexpr uint64_t kUnreadable = AV_PIX_FMT_FLAG_BE | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM |
                                   AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BAYER | AV_PIX_FMT_FLAG_FLOAT;
  if (d == nullptr || (d->flags & kUnreadable) != 0 || d->nb_components < 1) return FrameSignature{};
  const bool rgb = (d->flags & AV_PIX_FMT_FLAG_RGB) != 0;
  if (rgb && d->nb_components < 3) return FrameSignature{};
  SampleComponent c[3];
  const int count = rgb ? 3 : 1;
  for (int i = 0; i < count; ++i) {
    const AVComponentDescriptor& k = d->comp[i];
    // A sample read whole: 8 bits or less in a byte, more in two.
    c[i].bytes = k.depth + k.shift > 8 ? 2 : 1;
    c[i].data = frame.data[k.plane] != nullptr ? frame.data[k.plane] + k.offset : nullptr;
    c[i].pitch = frame.linesize[k.plane], c[i].step = k.step, c[i].shift = k.shift, c[i].depth = k.depth;
  }
  return SignatureOf(c, count, frame.width, frame.height);
}

DecodedImage ImageOf(const AVFrame& frame) {
  DecodedImage image;
  for (int p = 0; p < 4; ++p) {
    image.data[p] = frame.data[p];
    image.linesize[p] = frame.linesize[p];
  }
  image.width = frame.width;
  image.height = frame.height;
  image.format = frame.format;
  return image;
}

DecodedImage ImageOf(const FramePlanes& planes, int width, int height) {
  static const AVPixelFormat kFormats[] = {AV_PIX_FMT_NONE, AV_PIX_FMT_YUV420P, AV_PIX_FMT_NV12, AV_PIX_FMT_YUYV422};
  DecodedImage image;
  for (int p = 0; p < 3; ++p) {
    image.data[p] = planes.data[p];
    image.linesize[p] = planes.pitch[p];
  }
  image.width = width;
  image.height = height;
  image.format = static_cast<unsigned>(planes.layout) < 4 ? kFormats[planes.layout] : AV_PIX_FMT_NONE;
  return image;
}

FramePlanes PlanesOf(const AVFrame& f) {
  if ((f.width | f.height) & 1) return {};  // halved chroma of odd sizes: converted, as the rest
  FramePlanes p;
  const FramePlanes::Layout layout = LayoutOf(f.format);
  const int count = PlaneCount(layout);
  for (int i = 0; i < count; ++i) {
    if (f.data[i] == nullptr || f.linesize[i] <= 0) return {};
    p.data[i] = f.data[i];
    p.pitch[i] = f.linesize[i];
  }
  p.layout = layout;
  return p;
}

FrameConverter::~FrameConverter() {
  sws_freeContext(whole_);
  sws_freeContext(band_);
}

bool FrameConverter::Convert(const DecodedImage& image, int width, int height, int pixelFormat,
                             const std::vector<int>& rows, uint8_t* frame) {
  if (image.format < 0 || width <= 0 || height <= 0 || image.width <= 0 || image.height <= 0) return false;
  const AVPixelFormat target = pixelFormat == PixelFormatBgr24 ? AV_PIX_FMT_BGR24 : AV_PIX_FMT_YUYV422;
  const int bytesPerPixel = pixelFormat == PixelFormatBgr24 ? 3 : 2;
  const int rowBytes = FrameRowBytes(pixelFormat, width);
  // swscale writes whole pixel pairs of YUYV and may write past a row's end: it writes into a
  // padded buffer of its own, and only exact rows are copied into the frame.
  const int stride = ((width + 1) * bytesPerPixel + 63) / 64 * 64;
  scratch_.resize(size_t(stride) * size_t(height + 1) + 256);
  const bool sameShape = image.width == width && image.height == height;
  spans_.clear();
  const uint8_t* src = scratch_.data();
  int srcStride = stride;
  if (sameShape && image.format == target) {
    src = image.data[0];
    srcStride = image.linesize[0];
    for (int row : rows) spans_.push_back({row, 1});
    if (rows.empty()) spans_.push_back({0, height});
  } else {
    if (sameShape) ConvertBands(image, rows, target, stride);
    if (spans_.empty() && !ConvertWhole(image, width, height, target, stride)) return false;
  }
  for (const Span& span : spans_) {
    for (int y = span.first; y < span.first + span.count; ++y) {
      std::memcpy(frame + size_t(StoredRow(pixelFormat, height, y)) * rowBytes,
                  src + static_cast<ptrdiff_t>(y) * srcStride, size_t(rowBytes));
    }
  }
  return true;
}

// A band around each analysed row; rows that fall in one band share its conversion. Where one
// band cannot be had, none is kept: the whole frame is converted instead.
void FrameConverter::ConvertBands(const DecodedImage& image, const std::vector<int>& rows, int target, int stride) {
  for (int row : rows) {
    if (!spans_.empty() && row < spans_.back().first + spans_.back().count) continue;
    Span band{};
    if (!ConvertBand(image, row, target, stride, &band)) {
      spans_.clear();
      return;
    }
    spans_.push_back(band);
  }
}

// Converts only the rows around the analysed line, as an image of its own: the conversion is
// most of the cost beyond decoding, and the analysis reads one row. swscale's rows near an
// image's top and bottom are not a whole frame's: it interpolates chroma that has fewer rows from
// the rows above and below, clamped at the image's edges, and writes an image's last two rows
// with other code than the rest. So eight rows on either side are converted too and thrown away;
// the band starts on a multiple of the chroma rows and of the eight rows over which swscale's
// dither patterns repeat, and at the frame's own top and bottom it ends where the frame does, as
// the whole frame's conversion does. A test compares the rows of the common layouts.
bool FrameConverter::ConvertBand(const DecodedImage& image, int row, int target, int stride, Span* band) {
  const AVPixelFormat source = static_cast<AVPixelFormat>(image.format);
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(source);
  if (d == nullptr || (d->flags & (AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BITSTREAM))) return false;
  const int chromaRows = 1 << d->log2_chroma_h;
  const int width = image.width, height = image.height;
  // With a last chroma row that covers fewer lines than the others, swscale's vertical chroma
  // step depends on the image's height, so no band scales chroma as the whole frame does.
  if (height % chromaRows != 0) return false;
  constexpr int kRows = 8;    // the band handed over; the period of swscale's dither patterns
  constexpr int kMargin = 8;  // a multiple of kRows, and more than the vertical filters reach
  static_assert(kMargin % kRows == 0, "the margin keeps the dither phase");
  const int align = std::max(kRows, chromaRows);
  band->first = row / align * align;
  band->count = std::min(align, height - band->first);
  const int top = std::max(0, band->first - kMargin);
  const int bottom = std::min(height, band->first + band->count + kMargin);
  band_ = sws_getCachedContext(band_, width, bottom - top, source, width, bottom - top,
                               static_cast<AVPixelFormat>(target), SWS_BILINEAR, nullptr, nullptr, nullptr);
  if (band_ == nullptr) return false;
  const uint8_t* planes[4] = {};
  PlanesFrom(image, *d, top, planes);
  uint8_t* out[4] = {scratch_.data() + static_cast<ptrdiff_t>(top) * stride, nullptr, nullptr, nullptr};
  int outStrides[4] = {stride, 0, 0, 0};
  return sws_scale(band_, planes, image.linesize, 0, bottom - top, out, outStrides) == bottom - top;
}

bool FrameConverter::ConvertWhole(const DecodedImage& image, int width, int height, int target, int stride) {
  spans_.push_back({0, height});
  whole_ = sws_getCachedContext(whole_, image.width, image.height, static_cast<AVPixelFormat>(image.format), width,
                                height, static_cast<AVPixelFormat>(target), SWS_BILINEAR, nullptr, nullptr, nullptr);
  if (whole_ == nullptr) return false;
  uint8_t* planes[4] = {scratch_.data(), nullptr, nullptr, nullptr};
  int strides[4] = {stride, 0, 0, 0};
  sws_scale(whole_, image.data, image.linesize, 0, image.height, planes, strides);
  return true;
}
