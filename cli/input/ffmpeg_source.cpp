// Input through FFmpeg's libraries: demux, decode, and convert (frame_convert) what the
// analysis reads.
#include "cli/input/ffmpeg_source.h"

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
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "cli/input/frame_convert.h"
#include "cli/input/library_log.h"
#include "cli/input/luma_rows.h"
#include "cli/input/stop.h"
#include "host/test_signals.h"
#include "plugin/host_contract.h"

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

// The stream's word on its fields, else the first frame's.
FieldOrder FieldsOf(const AVCodecParameters& stream, const AVFrame& first) {
  switch (stream.field_order) {
    case AV_FIELD_TT:
    case AV_FIELD_BT:  // displayed top first
      return FieldOrder::TopFirst;
    case AV_FIELD_BB:
    case AV_FIELD_TB:
      return FieldOrder::BottomFirst;
    default:
      if (first.interlaced_frame) return first.top_field_first ? FieldOrder::TopFirst : FieldOrder::BottomFirst;
      return FieldOrder::Unknown;
  }
}

class FfmpegSource final : public FrameSource {
 public:
  ~FfmpegSource() override {
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
  int64_t Dropped() const override { return dropped_ + truncatedFrames_ + gapFrames_; }
  const std::vector<DropRange>& Gaps() const override { return gaps_; }
  int64_t Undecoded() const override { return dropped_; }
  int64_t Damaged() const override { return damaged_; }
  bool Interrupted() const override { return interrupted_; }
  bool ReadFailed() const override { return readFailed_; }
  FieldOrder Fields() const override { return fields_; }
  void SetAnalysedRows(const std::vector<int>& rows) override {
    rows_.clear();
    for (int row : rows) rows_.push_back(std::clamp(row, 0, height_ - 1));
    std::sort(rows_.begin(), rows_.end());
    rows_.erase(std::unique(rows_.begin(), rows_.end()), rows_.end());
  }
  void SetPictureWanted(bool wanted) override { pictureWanted_ = wanted; }
  void SetLumaWanted(bool wanted) override { lumaWanted_ = wanted; }
  bool IsRecording() const override { return recording_; }
  double FrameRate() const override { return frameRate_; }

 private:
  // The phases of Open, in their order.
  int CheckRawOptions(const CliOptions& o, std::string* formatName);
  int AllocateDemuxer(const std::string& formatName, const AVInputFormat** inputFormat);
  int OpenDemuxer(const CliOptions& o, const AVInputFormat* inputFormat, const AVCodec** codec);
  int OpenDecoder(const AVCodec* codec);
  void SetRange(double start, double end);
  void ExpectFrames();
  int ReadFirstFrame();
  int FailInterrupted();
  int FailRawTooShort();

  enum class Decoded { Frame, End };
  Decoded DecodeNext();
  bool Convert();
  void CheckGap(int64_t pts);

  std::string name_;
  Diagnostics* diag_ = nullptr;
  AVFormatContext* format_ = nullptr;
  AVCodecContext* decoder_ = nullptr;
  AVPacket* packet_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVFrame* picture_ = nullptr;  // the frame whose planes were handed over last
  bool pictureWanted_ = false;
  bool lumaWanted_ = false;
  std::vector<uint16_t> luma_;  // the analysed rows as decoded, for the frame handed over last
  FramePlanes planes_;
  FrameConverter converter_;
  std::vector<int> rows_;  // the rows analysed, ascending; none: whole frames
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
  bool readFailed_ = false;   // the reading stopped at a read error
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
  int64_t lastPts_ = AV_NOPTS_VALUE;  // the time of the frame before, in the stream's time base
  int64_t gapFrames_ = 0;             // frames missing by the frames' times
  int64_t droppedBefore_ = 0;         // dropped_ when the frame before was handed over
  std::vector<DropRange> gaps_;
  std::vector<uint8_t> pixels_;
};

int FfmpegSource::Open(const CliOptions& o, Diagnostics& diag) {
  diag_ = &diag;
  name_ = o.input;
  pixelFormat_ = o.convert;
  timeout_ = o.timeout;
  std::string formatName;
  const AVInputFormat* inputFormat = nullptr;
  int status = CheckRawOptions(o, &formatName);
  if (status == kExitOk) status = AllocateDemuxer(formatName, &inputFormat);
  if (status != kExitOk) return status;
  // Everything up to the first frame may wait for the input: a FIFO without a writer, a device.
  InputWait wait(timeout_);
  const AVCodec* codec = nullptr;
  status = OpenDemuxer(o, inputFormat, &codec);
  if (status == kExitOk) status = OpenDecoder(codec);
  if (status != kExitOk) return status;
  SetRange(o.startSeconds, o.endSeconds);
  return ReadFirstFrame();
}

// -s, -pix_fmt and -r as FFmpeg reads them, and what raw frames need of them.
int FfmpegSource::CheckRawOptions(const CliOptions& o, std::string* formatName) {
  Diagnostics& diag = *diag_;
  *formatName = o.format;
  // Frames on stdin described by their size are raw unless said otherwise.
  if (formatName->empty() && o.input == "-" && !o.videoSize.empty()) *formatName = "rawvideo";
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
  raw_ = *formatName == "rawvideo";
  if (raw_ && o.videoSize.empty()) return diag.Fail(kExitUsage, "raw input needs its frame size: -s WxH");
  // A guessed layout would measure garbage without a word.
  if (raw_ && o.pixelFormat.empty()) {
    return diag.Fail(kExitUsage, "raw input needs its pixel format: -pix_fmt FMT (yuyv422, bgr24, yuv420p, ...)");
  }
  return kExitOk;
}

int FfmpegSource::AllocateDemuxer(const std::string& formatName, const AVInputFormat** inputFormat) {
  if (!formatName.empty()) {
    *inputFormat = av_find_input_format(formatName.c_str());
    if (*inputFormat == nullptr) {
      return diag_->Fail(kExitCannotOpen, "unknown input format or device '" + formatName + "'");
    }
  }
  format_ = avformat_alloc_context();
  if (format_ == nullptr) return diag_->Fail(kExitFailure, "out of memory");
  format_->interrupt_callback = AVIOInterruptCB{Interrupt, nullptr};
  // A device that has nothing yet says so rather than blocking where nothing can interrupt it.
  if (*inputFormat != nullptr && ((*inputFormat)->flags & AVFMT_NOFILE)) format_->flags |= AVFMT_FLAG_NONBLOCK;
  return kExitOk;
}

// Opens the input and finds its video stream and that stream's decoder.
int FfmpegSource::OpenDemuxer(const CliOptions& o, const AVInputFormat* inputFormat, const AVCodec** codec) {
  const std::string url = o.input == "-" ? "pipe:0" : o.input;
  AVDictionary* options = nullptr;
  if (!o.videoSize.empty()) av_dict_set(&options, "video_size", o.videoSize.c_str(), 0);
  if (!o.pixelFormat.empty()) av_dict_set(&options, "pixel_format", o.pixelFormat.c_str(), 0);
  if (!o.frameRate.empty()) av_dict_set(&options, "framerate", o.frameRate.c_str(), 0);
  int r = avformat_open_input(&format_, url.c_str(), inputFormat, &options);
  av_dict_free(&options);
  if (r < 0 && InputInterrupted()) return FailInterrupted();
  if (r < 0) return diag_->Fail(kExitCannotOpen, "cannot open '" + name_ + "': " + AvError(r));

  // A device, stdin or a FIFO delivers as it happens; only a seekable file can be read ahead.
  recording_ = o.input != "-" && !(format_->iformat->flags & AVFMT_NOFILE) && format_->pb != nullptr &&
               (format_->pb->seekable & AVIO_SEEKABLE_NORMAL) != 0;

  r = avformat_find_stream_info(format_, nullptr);
  if (r < 0 && InputInterrupted()) return FailInterrupted();
  if (r < 0) return diag_->Fail(kExitCannotOpen, "cannot read '" + name_ + "': " + AvError(r));
  stream_ = av_find_best_stream(format_, AVMEDIA_TYPE_VIDEO, -1, -1, codec, 0);
  if (stream_ == AVERROR_STREAM_NOT_FOUND) return diag_->Fail(kExitNoVideo, "'" + name_ + "' has no video stream");
  if (stream_ < 0 || *codec == nullptr) {
    return diag_->Fail(kExitCannotOpen, "'" + name_ + "': no decoder for its video stream");
  }
  for (unsigned i = 0; i < format_->nb_streams; ++i) {
    if (static_cast<int>(i) != stream_) format_->streams[i]->discard = AVDISCARD_ALL;
  }
  timeBase_ = format_->streams[stream_]->time_base;
  return kExitOk;
}

int FfmpegSource::OpenDecoder(const AVCodec* codec) {
  decoder_ = avcodec_alloc_context3(codec);
  if (decoder_ == nullptr) return diag_->Fail(kExitFailure, "out of memory");
  avcodec_parameters_to_context(decoder_, format_->streams[stream_]->codecpar);
#if defined(__SANITIZE_THREAD__)
  decoder_->thread_count = 1;  // FFmpeg's own threads are not instrumented
#else
  decoder_->thread_count = 0;  // as many as the machine has
#endif
  const int r = avcodec_open2(decoder_, codec, nullptr);
  if (r < 0) return diag_->Fail(kExitCannotOpen, "'" + name_ + "': cannot open its decoder: " + AvError(r));
  return kExitOk;
}

// -ss, -t and -to, the frame rate they are counted at, and the frames the range is expected to hold.
void FfmpegSource::SetRange(double start, double end) {
  const AVStream* stream = format_->streams[stream_];
  if (raw_) {
    rawFrameBytes_ = av_image_get_buffer_size(static_cast<AVPixelFormat>(stream->codecpar->format),
                                              stream->codecpar->width, stream->codecpar->height, 1);
  }
  AVRational fr = stream->avg_frame_rate.num > 0 ? stream->avg_frame_rate : stream->r_frame_rate;
  if (fr.num > 0 && fr.den > 0) frameRate_ = av_q2d(fr);
  firstPts_ = stream->start_time;
  start_ = start;
  end_ = end;
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
  ExpectFrames();
}

void FfmpegSource::ExpectFrames() {
  const AVStream* stream = format_->streams[stream_];
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
}

// Decodes the first frame, which fixes the frames' size and fields for the whole run.
int FfmpegSource::ReadFirstFrame() {
  packet_ = av_packet_alloc();
  frame_ = av_frame_alloc();
  picture_ = av_frame_alloc();
  if (packet_ == nullptr || frame_ == nullptr || picture_ == nullptr) return diag_->Fail(kExitFailure, "out of memory");
  if (DecodeNext() != Decoded::Frame) {
    if (interrupted_) return FailInterrupted();
    if (raw_) return FailRawTooShort();
    return diag_->Fail(kExitCannotOpen, "'" + name_ + "': no video frame could be decoded");
  }
  pending_ = true;
  fields_ = FieldsOf(*format_->streams[stream_]->codecpar, *frame_);
  // A layout swscale cannot read would lose every frame, one library message each.
  const AVPixelFormat layout = static_cast<AVPixelFormat>(frame_->format);
  if (!sws_isSupportedInput(layout)) {
    const char* layoutName = av_get_pix_fmt_name(layout);
    return diag_->Fail(kExitCannotOpen, "'" + name_ + "': its frames are " +
                                            (layoutName != nullptr ? layoutName : "of an unknown layout") +
                                            ", which libswscale cannot convert");
  }
  // Every frame is converted to the size of the first, so the analysis keeps one format.
  width_ = frame_->width;
  height_ = frame_->height;
  if (FrameBytes(width_, height_, pixelFormat_) == 0) {
    return diag_->Fail(kExitCannotOpen, "'" + name_ + "': frames of " + SizeText(width_, height_) + " are not supported");
  }
  pixels_.resize(FrameBytes(width_, height_, pixelFormat_));
  return kExitOk;
}

// Nothing before the first frame, for a stop or a timeout.
int FfmpegSource::FailInterrupted() {
  if (InputTimedOut()) {
    return diag_->Fail(kExitTimeout, "'" + name_ + "' delivered no frame within " + TimeoutText(timeout_) + " (--timeout)");
  }
  return diag_->Fail(kExitStopped, "stopped before the first frame of '" + name_ + "'");
}

int FfmpegSource::FailRawTooShort() {
  const AVCodecParameters& p = *format_->streams[stream_]->codecpar;
  const int got = truncatedBytes_ < 0 ? 0 : truncatedBytes_;
  const char* layoutName = av_get_pix_fmt_name(static_cast<AVPixelFormat>(p.format));
  return diag_->Fail(kExitRawSizeMismatch, "raw input '" + name_ + "' holds " + std::to_string(got) +
                                               " bytes, less than one " + SizeText(p.width, p.height) + " " +
                                               (layoutName != nullptr ? layoutName : "?") + " frame of " +
                                               std::to_string(rawFrameBytes_) + " bytes: check -s and -pix_fmt");
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
        readFailed_ = true;
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

bool FfmpegSource::Convert() {
  const bool sameShape = frame_->width == width_ && frame_->height == height_;
  // A picture of the decoder's planes needs only the analysed rows converted; a picture in
  // another layout, the whole frame.
  planes_ = pictureWanted_ && sameShape ? PlanesOf(*frame_) : FramePlanes{};
  static const std::vector<int> kWhole;
  const std::vector<int>& rows = pictureWanted_ && planes_.layout == FramePlanes::None ? kWhole : rows_;
  return converter_.Convert(ImageOf(*frame_), width_, height_, pixelFormat_, rows, pixels_.data());
}

// A frame's time against the one before, in the stream's own time base: a step of more than
// 1.5 frame durations lost the frames between; a time repeated (or going back) replaced one.
void FfmpegSource::CheckGap(int64_t pts) {
  const int64_t last = lastPts_;
  // Frames the decoder or the converter lost since the frame before are counted already.
  const int64_t lost = dropped_ - droppedBefore_;
  lastPts_ = pts, droppedBefore_ = dropped_;
  if (pts == AV_NOPTS_VALUE || last == AV_NOPTS_VALUE || frameRate_ <= 0 || av_q2d(timeBase_) <= 0) return;
  const double duration = 1.0 / (frameRate_ * av_q2d(timeBase_));  // one frame, in ticks
  const double step = static_cast<double>(pts - last);
  int64_t missing = 0;
  if (step <= 0) missing = 1;
  else if (step > 1.5 * duration) missing = std::max<int64_t>(std::llround(step / duration) - 1 - lost, 0);
  if (missing == 0) return;
  const double at = (last - firstPts_) * av_q2d(timeBase_) + (step > 0 ? 1.0 / frameRate_ : 0.0);
  gapFrames_ += missing;
  gaps_.push_back(DropRange{Stored(at, 6), missing});
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
    CheckGap(pts);
    frame->pixels = pixels_.data();
    // The frame's number in the input: counted, or from its time after a seek.
    frame->index = byCount_ ? skip_ + next_ : start_ > 0 ? std::llround(seconds * frameRate_) : next_;
    frame->seconds = seconds;
    ++next_;
    // Handed-over planes stay valid until the next frame.
    frame->planes = planes_;
    const bool sameShape = frame_->width == width_ && frame_->height == height_;
    frame->luma = lumaWanted_ && sameShape ? ReadLumaRows(*frame_, rows_, &luma_) : LumaRows{};
    av_frame_unref(picture_);
    if (planes_.layout != FramePlanes::None) av_frame_move_ref(picture_, frame_);
    av_frame_unref(frame_);
    return true;
  }
}

}  // namespace

std::unique_ptr<FrameSource> OpenFfmpegSource(const CliOptions& options, Diagnostics& diag, int* exitCode) {
  StartLibraryLog(options.verbose);
  static std::once_flag registered;
  std::call_once(registered, [] { avdevice_register_all(); });
  auto source = std::make_unique<FfmpegSource>();
  *exitCode = source->Open(options, diag);
  if (*exitCode != kExitOk) return nullptr;
  return source;
}
