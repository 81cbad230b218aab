// Decoded pictures into the analysis's layout through libswscale: whole, or only bands of rows
// around the analysed ones. The input's frames and the live window's kept planes are converted
// here alike, so that a frame analysed again is the frame that was read.
#pragma once
#include <cstdint>
#include <vector>

#include "cli/input/plane_layout.h"
#include "cli/results/frame_signature.h"

struct AVFrame;
struct SwsContext;

// A picture as swscale reads it: up to four planes of an FFmpeg pixel format.
struct DecodedImage {
  const uint8_t* data[4] = {};
  int linesize[4] = {};
  int width = 0;
  int height = 0;
  int format = -1;  // an AVPixelFormat; -1 (none) converts nothing
};

DecodedImage ImageOf(const AVFrame& frame);
// Planes kept of a frame of width x height, read in their layout's FFmpeg format.
DecodedImage ImageOf(const FramePlanes& planes, int width, int height);

// The signature of a decoded frame from its own luma (or red, green and blue) planes, before
// any conversion; invalid for layouts it cannot read (bit-packed, paletted, big-endian).
FrameSignature SignatureOfFrame(const AVFrame& frame);

// The planes of a decoded frame where a window can show them as they are; None elsewhere
// (10-bit, 4:2:2 planar, RGB...: those are converted).
FramePlanes PlanesOf(const AVFrame& frame);

class FrameConverter {
 public:
  FrameConverter() = default;
  ~FrameConverter();
  FrameConverter(const FrameConverter&) = delete;
  FrameConverter& operator=(const FrameConverter&) = delete;

  // Writes `image`, scaled to width x height, into `frame` (FrameBytes of that size in
  // `pixelFormat`). With `rows` (ascending, inside the frame) and an image of the frame's size,
  // only the rows around them are converted where that gives the whole conversion's bytes; the
  // other rows keep what they held. False when swscale cannot convert the image.
  bool Convert(const DecodedImage& image, int width, int height, int pixelFormat, const std::vector<int>& rows,
               uint8_t* frame);

 private:
  struct Span {
    int first, count;
  };
  void ConvertBands(const DecodedImage& image, const std::vector<int>& rows, int target, int stride);
  bool ConvertBand(const DecodedImage& image, int row, int target, int stride, Span* band);
  bool ConvertWhole(const DecodedImage& image, int width, int height, int target, int stride);

  SwsContext* whole_ = nullptr;
  SwsContext* band_ = nullptr;
  std::vector<Span> spans_;       // the rows a conversion delivers: [first, first + count) each
  std::vector<uint8_t> scratch_;  // swscale's output, top-down, padded
};
