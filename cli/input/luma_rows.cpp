#include "cli/input/luma_rows.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
}

namespace {

bool FullRange(const AVFrame& frame) {
  switch (frame.format) {
    case AV_PIX_FMT_YUVJ420P:
    case AV_PIX_FMT_YUVJ422P:
    case AV_PIX_FMT_YUVJ444P:
    case AV_PIX_FMT_YUVJ440P:
    case AV_PIX_FMT_YUVJ411P:
      return true;
    default:
      return frame.color_range == AVCOL_RANGE_JPEG;
  }
}

}  // namespace

LumaRows ReadLumaRows(const AVFrame& frame, const std::vector<int>& rows, std::vector<uint16_t>* store) {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format));
  constexpr uint64_t kNoLuma = AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_HWACCEL;
  if (d == nullptr || (d->flags & kNoLuma) != 0 || d->nb_components < 1 || d->comp[0].depth > 16 || rows.empty()) {
    return {};
  }
  const size_t width = static_cast<size_t>(frame.width);
  store->resize(rows.size() * width);
  for (size_t i = 0; i < rows.size(); ++i) {
    if (rows[i] < 0 || rows[i] >= frame.height) return {};
    av_read_image_line2(store->data() + i * width, const_cast<const uint8_t**>(frame.data), frame.linesize, d, 0,
                        rows[i], 0, frame.width, 0, 2);
  }
  LumaRows l;
  l.samples = store->data();
  l.rows = rows.data();
  l.count = rows.size();
  l.width = frame.width;
  l.bits = d->comp[0].depth;
  l.fullRange = FullRange(frame);
  return l;
}
