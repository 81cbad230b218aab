// Input through FFmpeg's libraries: demux, decode, convert with libswscale.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/parseutils.h>
#include <libavutil/pixdesc.h>
#include <libavutil/time.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <vector>

#include "cli/input/frame_source.h"
#include "cli/input/library_log.h"
#include "cli/input/stop.h"
#include "host/test_signals.h"
#include "plugin/host_contract.h"

std::unique_ptr<FrameSource> MakeBuiltInSource(const CliOptions& options);

namespace {

std::string AvError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

// Asked inside FFmpeg's blocking reads and opens: a stop, or an input past its --timeout.
int Interrupt(void*) { return InputInterrupted() ? 1 : 0; }

std::string TimeoutText(double seconds) {
  char b[32];
  std::snprintf(b, sizeof b, "%g s", seconds);
  return b;
}

std::string SizeText(int w, int h) { return std::to_string(w) + "x" + std::to_string(h); }

class FfmpegSource final : public FrameSource {
 public:
  ~FfmpegSource() override {
    sws_freeContext(sws_);
    sws_freeContext(bandSws_);
    av_frame_free(&frame_);
    av_frame_free(&picture_);
    av_packet_free(&packet_);
    avcodec_free_context(&decoder_);
    avformat_close_input(&format_);
  }

  // Everything up to and including the first decoded frame; kExitOk or the code of the failure.
  int Open(const CliOptions& o, Diagnostics& diag);

  bool Next(InputFrame* frame) override;
  int64_t ExpectedFrames() const override { return expectedFrames_; }
  int64_t Dropped() const override { return dropped_ + truncatedFrames_; }
  int64_t Undecoded() const override { return dropped_; }
  int64_t Damaged() const override { return damaged_; }
  bool Interrupted() const override { return interrupted_; }
  FieldOrder Fields() const override { return fields_; }
  void SetAnalysedRows(const std::vector<int>& rows) override {
    rows_.clear();
    for (int row : rows) rows_.push_back(std::clamp(row, 0, height_ - 1));
    std::sort(rows_.begin(), rows_.end());
    rows_.erase(std::unique(rows_.begin(), rows_.end()), rows_.end());
  }
  void SetPictureWanted(bool wanted) override { pictureWanted_ = wanted; }
  bool IsRecording() const override { return recording_; }
  double FrameRate() const override { return frameRate_; }

 private:
  enum class Decoded { Frame, End };
  Decoded DecodeNext();
  bool Convert();
  bool ConvertBand(int row, AVPixelFormat target, uint8_t* dst, int stride, int* first, int* rows);

  std::string name_;
  Diagnostics* diag_ = nullptr;
  AVFormatContext* format_ = nullptr;
  AVCodecContext* decoder_ = nullptr;
  AVPacket* packet_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVFrame* picture_ = nullptr;  // the frame whose planes were handed over last
  bool pictureWanted_ = false;
  FramePlanes planes_;
  SwsContext* sws_ = nullptr;
  SwsContext* bandSws_ = nullptr;
  std::vector<int> rows_;  // the rows analysed, ascending; none: whole frames
  struct Span {
    int first, count;
  };
  std::vector<Span> spans_;  // the rows a conversion delivers: [first, first + count) each
  int stream_ = -1;
  AVRational timeBase_{1, 25};
  double frameRate_ = 25.0;
  bool raw_ = false;
  bool recording_ = true;
  int rawFrameBytes_ = 0;
  int truncatedBytes_ = -1;  // bytes of a cut-short last raw frame, -1 when there was none
  bool flushing_ = false;
  bool pending_ = false;  // frame_ holds a decoded frame not yet handed over
  bool interrupted_ = false;  // the reading stopped for a stop or a timeout, not at the end
  int64_t next_ = 0;     // frames handed over
  int64_t decoded_ = 0;  // frames decoded, those before -ss included
  int64_t firstPts_ = AV_NOPTS_VALUE;  // the input's time 0: its stream's start, else its first frame
  // -ss, -t and -to: on a file by the frames' times, after a seek; on raw input and pipes, which
  // cannot seek and may carry no times, by counting frames at the frame rate.
  double start_ = 0, end_ = -1;
  bool byCount_ = false;
  int64_t skip_ = 0, limit_ = -1;
  bool ended_ = false;
  FieldOrder fields_ = FieldOrder::Unknown;
  int64_t expectedFrames_ = 0;
  int64_t dropped_ = 0;         // frames the decoder or the converter could not deliver
  int64_t damaged_ = 0;         // frames delivered with errors the decoder flagged or concealed
  double timeout_ = 0;          // --timeout: seconds an input may deliver nothing
  int64_t truncatedFrames_ = 0;  // 1 after a cut-short last raw frame
  std::vector<uint8_t> pixels_;
  std::vector<uint8_t> scratch_;  // swscale's output, top-down, padded
};

int FfmpegSource::Open(const CliOptions& o, Diagnostics& diag) {
  diag_ = &diag;
  name_ = o.input;
  pixelFormat_ = o.convert;
  timeout_ = o.timeout;

  const std::string url = o.input == "-" ? "pipe:0" : o.input;
  std::string formatName = o.format;
  // Frames on stdin described by their size are raw unless said otherwise.
  if (formatName.empty() && o.input == "-" && !o.videoSize.empty()) formatName = "rawvideo";

  int w = 0, h = 0;
  if (!o.videoSize.empty() && av_parse_video_size(&w, &h, o.videoSize.c_str()) < 0) {
    return diag.Fail(kExitUsage, "-s: '" + o.videoSize + "' is not a frame size (WxH, e.g. 720x576)");
  }
  if (!o.pixelFormat.empty() && av_get_pix_fmt(o.pixelFormat.c_str()) == AV_PIX_FMT_NONE) {
    return diag.Fail(kExitUsage, "-pix_fmt: '" + o.pixelFormat + "' is not a pixel format FFmpeg knows");
  }
  AVRational rate{0, 1};
  if (!o.frameRate.empty() && (av_parse_video_rate(&rate, o.frameRate.c_str()) < 0 || rate.num <= 0)) {
    return diag.Fail(kExitUsage, "-r: '" + o.frameRate + "' is not a frame rate");
  }
  raw_ = formatName == "rawvideo";
  if (raw_ && o.videoSize.empty()) return diag.Fail(kExitUsage, "raw input needs its frame size: -s WxH");
  // A guessed layout would measure garbage without a word.
  if (raw_ && o.pixelFormat.empty()) {
    return diag.Fail(kExitUsage, "raw input needs its pixel format: -pix_fmt FMT (yuyv422, bgr24, yuv420p, ...)");
  }

  const AVInputFormat* inputFormat = nullptr;
  if (!formatName.empty()) {
    inputFormat = av_find_input_format(formatName.c_str());
    if (inputFormat == nullptr) return diag.Fail(kExitCannotOpen, "unknown input format or device '" + formatName + "'");
  }
  format_ = avformat_alloc_context();
  if (format_ == nullptr) return diag.Fail(kExitFailure, "out of memory");
  format_->interrupt_callback = AVIOInterruptCB{Interrupt, nullptr};
  // A device that has nothing yet says so rather than blocking where nothing can interrupt it.
  if (inputFormat != nullptr && (inputFormat->flags & AVFMT_NOFILE)) format_->flags |= AVFMT_FLAG_NONBLOCK;
  // Everything up to the first frame may wait for the input: a FIFO without a writer, a device.
  InputWait wait(timeout_);
  const auto interrupted = [&]() -> int {
    if (InputTimedOut()) {
      return diag.Fail(kExitTimeout, "'" + o.input + "' delivered no frame within " + TimeoutText(timeout_) + " (--timeout)");
    }
    return diag.Fail(kExitStopped, "stopped before the first frame of '" + o.input + "'");
  };

  AVDictionary* options = nullptr;
  if (!o.videoSize.empty()) av_dict_set(&options, "video_size", o.videoSize.c_str(), 0);
  if (!o.pixelFormat.empty()) av_dict_set(&options, "pixel_format", o.pixelFormat.c_str(), 0);
  if (!o.frameRate.empty()) av_dict_set(&options, "framerate", o.frameRate.c_str(), 0);
  int r = avformat_open_input(&format_, url.c_str(), inputFormat, &options);
  av_dict_free(&options);
  if (r < 0 && InputInterrupted()) return interrupted();
  if (r < 0) return diag.Fail(kExitCannotOpen, "cannot open '" + o.input + "': " + AvError(r));

  // A device, stdin or a FIFO delivers as it happens; only a seekable file can be read ahead.
  recording_ = o.input != "-" && !(format_->iformat->flags & AVFMT_NOFILE) && format_->pb != nullptr &&
               (format_->pb->seekable & AVIO_SEEKABLE_NORMAL) != 0;

  r = avformat_find_stream_info(format_, nullptr);
  if (r < 0 && InputInterrupted()) return interrupted();
  if (r < 0) return diag.Fail(kExitCannotOpen, "cannot read '" + o.input + "': " + AvError(r));
  const AVCodec* codec = nullptr;
  stream_ = av_find_best_stream(format_, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
  if (stream_ == AVERROR_STREAM_NOT_FOUND) return diag.Fail(kExitNoVideo, "'" + o.input + "' has no video stream");
  if (stream_ < 0 || codec == nullptr) {
    return diag.Fail(kExitCannotOpen, "'" + o.input + "': no decoder for its video stream");
  }
  AVStream* stream = format_->streams[stream_];
  for (unsigned i = 0; i < format_->nb_streams; ++i) {
    if (static_cast<int>(i) != stream_) format_->streams[i]->discard = AVDISCARD_ALL;
  }
  timeBase_ = stream->time_base;

  decoder_ = avcodec_alloc_context3(codec);
  if (decoder_ == nullptr) return diag.Fail(kExitFailure, "out of memory");
  avcodec_parameters_to_context(decoder_, stream->codecpar);
#if defined(__SANITIZE_THREAD__)
  decoder_->thread_count = 1;  // FFmpeg's own threads are not instrumented
#else
  decoder_->thread_count = 0;  // as many as the machine has
#endif
  r = avcodec_open2(decoder_, codec, nullptr);
  if (r < 0) return diag.Fail(kExitCannotOpen, "'" + o.input + "': cannot open its decoder: " + AvError(r));

  if (raw_) {
    rawFrameBytes_ = av_image_get_buffer_size(static_cast<AVPixelFormat>(stream->codecpar->format),
                                              stream->codecpar->width, stream->codecpar->height, 1);
  }
  AVRational fr = stream->avg_frame_rate.num > 0 ? stream->avg_frame_rate : stream->r_frame_rate;
  if (fr.num > 0 && fr.den > 0) frameRate_ = av_q2d(fr);
  firstPts_ = stream->start_time;
  start_ = o.startSeconds;
  end_ = o.endSeconds;
  byCount_ = raw_ || !recording_;
  if (byCount_) {
    skip_ = std::llround(start_ * frameRate_);
    if (end_ >= 0) limit_ = std::llround((end_ - start_) * frameRate_);
  } else if (start_ > 0) {
    // To the key frame before the start; what lies between is decoded and dropped. Where the
    // seek fails the whole way from the beginning is.
    const int64_t zero = firstPts_ != AV_NOPTS_VALUE ? firstPts_ : 0;
    av_seek_frame(format_, stream_, zero + std::llround(start_ / av_q2d(timeBase_)), AVSEEK_FLAG_BACKWARD);
  }
  if (stream->nb_frames > 0) {
    expectedFrames_ = stream->nb_frames;
  } else if (format_->duration > 0) {
    expectedFrames_ = static_cast<int64_t>(std::llround(format_->duration / double(AV_TIME_BASE) * frameRate_));
  } else if (raw_ && rawFrameBytes_ > 0 && format_->pb != nullptr && avio_size(format_->pb) > 0) {
    expectedFrames_ = avio_size(format_->pb) / rawFrameBytes_;
  }
  if (expectedFrames_ > 0) expectedFrames_ = std::max<int64_t>(0, expectedFrames_ - std::llround(start_ * frameRate_));
  if (end_ >= 0) {
    const int64_t length = std::llround((end_ - start_) * frameRate_);
    expectedFrames_ = expectedFrames_ > 0 ? std::min(expectedFrames_, length) : length;
  }

  packet_ = av_packet_alloc();
  frame_ = av_frame_alloc();
  picture_ = av_frame_alloc();
  if (packet_ == nullptr || frame_ == nullptr) return diag.Fail(kExitFailure, "out of memory");

  if (DecodeNext() != Decoded::Frame) {
    if (interrupted_) return interrupted();
    if (raw_) {
      const int got = truncatedBytes_ < 0 ? 0 : truncatedBytes_;
      return diag.Fail(kExitRawSizeMismatch,
                       "raw input '" + o.input + "' holds " + std::to_string(got) + " bytes, less than one " +
                           SizeText(stream->codecpar->width, stream->codecpar->height) + " " +
                           av_get_pix_fmt_name(static_cast<AVPixelFormat>(stream->codecpar->format)) + " frame of " +
                           std::to_string(rawFrameBytes_) + " bytes: check -s and -pix_fmt");
    }
    return diag.Fail(kExitCannotOpen, "'" + o.input + "': no video frame could be decoded");
  }
  pending_ = true;
  // The stream's word on its fields, else the first frame's.
  switch (stream->codecpar->field_order) {
    case AV_FIELD_TT:
    case AV_FIELD_BT:  // displayed top first
      fields_ = FieldOrder::TopFirst;
      break;
    case AV_FIELD_BB:
    case AV_FIELD_TB:
      fields_ = FieldOrder::BottomFirst;
      break;
    default:
      if (frame_->interlaced_frame) fields_ = frame_->top_field_first ? FieldOrder::TopFirst : FieldOrder::BottomFirst;
      break;
  }
  // A layout swscale cannot read would lose every frame, one library message each.
  const AVPixelFormat layout = static_cast<AVPixelFormat>(frame_->format);
  if (!sws_isSupportedInput(layout)) {
    const char* layoutName = av_get_pix_fmt_name(layout);
    return diag.Fail(kExitCannotOpen, "'" + o.input + "': its frames are " +
                                          (layoutName != nullptr ? layoutName : "of an unknown layout") +
                                          ", which libswscale cannot convert");
  }
  // Every frame is converted to the size of the first, so the analysis keeps one format.
  width_ = frame_->width;
  height_ = frame_->height;
  if (FrameBytes(width_, height_, pixelFormat_) == 0) {
    return diag.Fail(kExitCannotOpen, "'" + o.input + "': frames of " + SizeText(width_, height_) + " are not supported");
  }
  pixels_.resize(FrameBytes(width_, height_, pixelFormat_));
  return kExitOk;
}

FfmpegSource::Decoded FfmpegSource::DecodeNext() {
  for (;;) {
    int r = avcodec_receive_frame(decoder_, frame_);
    if (r == 0) return Decoded::Frame;
    if (r == AVERROR_EOF) return Decoded::End;
    if (r != AVERROR(EAGAIN)) {
      ++dropped_;  // a frame the decoder gave up on; the stream goes on
      if (flushing_) return Decoded::End;
      continue;
    }
    if (flushing_) return Decoded::End;
    r = av_read_frame(format_, packet_);
    if ((r == AVERROR(EAGAIN) || r == AVERROR(EINTR)) && !InputInterrupted()) {
      av_usleep(5000);  // a device without a frame yet
      continue;
    }
    if (r < 0) {
      if (InputInterrupted()) {
        // Stopped, or the input went quiet: what the decoder holds is still delivered.
        interrupted_ = true;
        if (InputTimedOut() && next_ > 0) {
          diag_->Warn(kExitTimeout, "'" + name_ + "' delivered no frame for " + TimeoutText(timeout_) +
                                        " (--timeout): stopped after " + std::to_string(next_) + " frames");
        }
      } else if (r != AVERROR_EOF) {
        diag_->Warn(kExitReadError, "'" + name_ + "' could not be read to its end: " + AvError(r));
      }
      avcodec_send_packet(decoder_, nullptr);
      flushing_ = true;
      continue;
    }
    if (packet_->stream_index != stream_) {
      av_packet_unref(packet_);
      continue;
    }
    if (raw_ && packet_->size < rawFrameBytes_) {
      // The raw demuxer hands out what is left; the decoder would refuse it without a word.
      truncatedBytes_ = packet_->size;
      av_packet_unref(packet_);
      avcodec_send_packet(decoder_, nullptr);
      flushing_ = true;
      continue;
    }
    r = avcodec_send_packet(decoder_, packet_);
    av_packet_unref(packet_);
    if (r < 0 && r != AVERROR(EAGAIN)) ++dropped_;
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
bool FfmpegSource::ConvertBand(int row, AVPixelFormat target, uint8_t* dst, int stride, int* first, int* rows) {
  const AVPixelFormat source = static_cast<AVPixelFormat>(frame_->format);
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(source);
  if (d == nullptr || (d->flags & (AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BITSTREAM))) return false;
  const int chromaRows = 1 << d->log2_chroma_h;
  // With a last chroma row that covers fewer lines than the others, swscale's vertical chroma
  // step depends on the image's height, so no band scales chroma as the whole frame does.
  if (height_ % chromaRows != 0) return false;
  constexpr int kRows = 8;    // the band handed over; the period of swscale's dither patterns
  constexpr int kMargin = 8;  // a multiple of kRows, and more than the vertical filters reach
  static_assert(kMargin % kRows == 0, "the margin keeps the dither phase");
  const int align = std::max(kRows, chromaRows);
  *first = row / align * align;
  *rows = std::min(align, height_ - *first);
  const int top = std::max(0, *first - kMargin);
  const int bottom = std::min(height_, *first + *rows + kMargin);
  bandSws_ = sws_getCachedContext(bandSws_, width_, bottom - top, source, width_, bottom - top, target, SWS_BILINEAR,
                                  nullptr, nullptr, nullptr);
  if (bandSws_ == nullptr) return false;
  // Each plane of samples from the band's top; anything else (a palette) stays as it is.
  const uint8_t* planes[4] = {};
  for (int p = 0; p < 4 && frame_->data[p] != nullptr; ++p) {
    planes[p] = frame_->data[p];
    int shift = -1;  // log2 of the frame's rows per row of the plane; -1: no samples
    for (int c = 0; c < d->nb_components; ++c) {
      const int own = (c == 1 || c == 2) ? d->log2_chroma_h : 0;
      if (d->comp[c].plane == p) shift = shift < 0 ? own : std::min(shift, own);
    }
    if (shift >= 0) planes[p] += static_cast<ptrdiff_t>(top >> shift) * frame_->linesize[p];
  }
  uint8_t* out[4] = {dst + static_cast<ptrdiff_t>(top) * stride, nullptr, nullptr, nullptr};
  int outStrides[4] = {stride, 0, 0, 0};
  return sws_scale(bandSws_, planes, frame_->linesize, 0, bottom - top, out, outStrides) == bottom - top;
}

// The planes of a decoded frame where a window can show them as they are; None elsewhere
// (10-bit, 4:2:2 planar, RGB...: those are converted).
FramePlanes PlanesOf(const AVFrame* f) {
  FramePlanes p;
  if ((f->width | f->height) & 1) return p;  // halved chroma of odd sizes: converted, as the rest
  const int planes = f->format == AV_PIX_FMT_YUYV422 ? 1 : f->format == AV_PIX_FMT_NV12 ? 2 : 3;
  for (int i = 0; i < planes; ++i) {
    if (f->data[i] == nullptr || f->linesize[i] <= 0) return p;
    p.data[i] = f->data[i];
    p.pitch[i] = f->linesize[i];
  }
  switch (f->format) {
    case AV_PIX_FMT_YUV420P:
    case AV_PIX_FMT_YUVJ420P:
      p.layout = FramePlanes::Iyuv;
      break;
    case AV_PIX_FMT_NV12:
      p.layout = FramePlanes::Nv12;
      break;
    case AV_PIX_FMT_YUYV422:
      p.layout = FramePlanes::Yuy2;
      break;
    default:
      return FramePlanes{};
  }
  return p;
}

bool FfmpegSource::Convert() {
  const AVPixelFormat target = pixelFormat_ == PixelFormatBgr24 ? AV_PIX_FMT_BGR24 : AV_PIX_FMT_YUYV422;
  const int bytesPerPixel = pixelFormat_ == PixelFormatBgr24 ? 3 : 2;
  const int rowBytes = width_ * bytesPerPixel;
  // swscale writes whole pixel pairs of YUYV and may write past a row's end: it writes into a
  // padded buffer of its own, and only exact rows are copied into the frame.
  const int stride = ((width_ + 1) * bytesPerPixel + 63) / 64 * 64;
  scratch_.resize(size_t(stride) * size_t(height_ + 1) + 256);
  const bool sameShape = frame_->width == width_ && frame_->height == height_;
  // A picture of the decoder's planes needs only the analysed rows converted; a picture in
  // another layout, the whole frame.
  planes_ = pictureWanted_ && sameShape ? PlanesOf(frame_) : FramePlanes{};
  static const std::vector<int> kWhole;
  const std::vector<int>& rows = pictureWanted_ && planes_.layout == FramePlanes::None ? kWhole : rows_;
  spans_.clear();
  const uint8_t* src = scratch_.data();
  int srcStride = stride;
  if (sameShape && frame_->format == target) {
    src = frame_->data[0];
    srcStride = frame_->linesize[0];
    for (int row : rows) spans_.push_back({row, 1});
    if (rows.empty()) spans_.push_back({0, height_});
  } else {
    // A band around each analysed row; rows that fall in one band share its conversion.
    for (int row : rows) {
      if (!spans_.empty() && row < spans_.back().first + spans_.back().count) continue;
      Span band{};
      if (!sameShape || !ConvertBand(row, target, scratch_.data(), stride, &band.first, &band.count)) {
        spans_.clear();
        break;
      }
      spans_.push_back(band);
    }
    if (spans_.empty()) {
      spans_.push_back({0, height_});
      sws_ = sws_getCachedContext(sws_, frame_->width, frame_->height, static_cast<AVPixelFormat>(frame_->format),
                                  width_, height_, target, SWS_BILINEAR, nullptr, nullptr, nullptr);
      if (sws_ == nullptr) return false;
      uint8_t* planes[4] = {scratch_.data(), nullptr, nullptr, nullptr};
      int strides[4] = {stride, 0, 0, 0};
      sws_scale(sws_, frame_->data, frame_->linesize, 0, frame_->height, planes, strides);
    }
  }
  for (const Span& span : spans_) {
    for (int y = span.first; y < span.first + span.count; ++y) {
      // The plug-in's BGR24 frames are bottom-up.
      const int to = pixelFormat_ == PixelFormatBgr24 ? height_ - 1 - y : y;
      std::memcpy(pixels_.data() + size_t(to) * rowBytes, src + static_cast<ptrdiff_t>(y) * srcStride,
                  size_t(rowBytes));
    }
  }
  return true;
}

bool FfmpegSource::Next(InputFrame* frame) {
  if (ended_) return false;
  InputWait wait(timeout_);
  for (;;) {
    if (!pending_ && DecodeNext() != Decoded::Frame) {
      if (truncatedBytes_ >= 0 && next_ > 0) {
        truncatedFrames_ = 1;
        diag_->Warn(kExitTruncated, "the last frame of '" + name_ + "' is truncated: " +
                                        std::to_string(truncatedBytes_) + " of " + std::to_string(rawFrameBytes_) +
                                        " bytes; " + std::to_string(next_) + " whole frames analysed");
        truncatedBytes_ = -1;
      }
      return false;
    }
    pending_ = false;
    const int64_t pts = frame_->best_effort_timestamp;
    if (pts != AV_NOPTS_VALUE && firstPts_ == AV_NOPTS_VALUE) firstPts_ = pts;
    const int64_t number = decoded_++;
    const double seconds = pts != AV_NOPTS_VALUE ? (pts - firstPts_) * av_q2d(timeBase_) : number / frameRate_;
    // Times are compared to a microsecond: a time base's rounding must not move a frame out.
    const bool early = byCount_ ? number < skip_ : seconds < start_ - 1e-6;
    const bool late = byCount_ ? limit_ >= 0 && number - skip_ >= limit_ : end_ >= 0 && seconds >= end_ - 1e-6;
    if (early || late) {
      av_frame_unref(frame_);
      if (!late) continue;
      ended_ = true;
      return false;
    }
    if (!Convert()) {
      ++dropped_;  // a frame swscale cannot convert (a format it does not know): skipped
      av_frame_unref(frame_);
      continue;
    }
    // Errors the decoder found in the stream: it hands the frame over all the same, patched up.
    if ((frame_->flags & AV_FRAME_FLAG_CORRUPT) != 0 || frame_->decode_error_flags != 0) ++damaged_;
    frame->pixels = pixels_.data();
    // The frame's number in the input: counted, or from its time after a seek.
    frame->index = byCount_ ? skip_ + next_ : start_ > 0 ? std::llround(seconds * frameRate_) : next_;
    frame->seconds = seconds;
    ++next_;
    // Handed-over planes stay valid until the next frame.
    frame->planes = planes_;
    av_frame_unref(picture_);
    if (planes_.layout != FramePlanes::None) av_frame_move_ref(picture_, frame_);
    av_frame_unref(frame_);
    return true;
  }
}

}  // namespace

std::unique_ptr<FrameSource> OpenFrameSource(const CliOptions& options, Diagnostics& diag, int* exitCode) {
  if (options.input.empty()) {
    if (!options.format.empty() || !options.videoSize.empty()) {
      *exitCode = diag.Fail(kExitUsage, "-f and -s describe an input; name it (- for stdin)");
      return nullptr;
    }
    *exitCode = kExitOk;
    return MakeBuiltInSource(options);
  }
  StartLibraryLog(options.verbose);
  static std::once_flag registered;
  std::call_once(registered, [] { avdevice_register_all(); });
  auto source = std::make_unique<FfmpegSource>();
  *exitCode = source->Open(options, diag);
  if (*exitCode != kExitOk) return nullptr;
  return source;
}
