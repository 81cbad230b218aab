// A page as the tool window shows it, as a picture: the canvas at its place on a white page,
// with the page's axis labels drawn by FreeType in a font found through fontconfig.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "plot/plot_canvas.h"
#include "records/analysis_settings.h"

struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;  // 0x00RRGGBB, rows top-down
};

// The canvas of a page: the picture control's client area, and where it stands on a page.
// The picture control's client area with "MS Sans Serif" 8 pt, less its edge.
constexpr int kCanvasWidth = 640;
constexpr int kCanvasHeight = 346;

// Where the canvas stands on a page picture, with room for the axis labels around it.
constexpr int kPageWidth = 720;
constexpr int kPageHeight = 399;
constexpr PlotRect kPagePlotRect{50, 13, 50 + kCanvasWidth, 13 + kCanvasHeight};

constexpr uint32_t kPageWhite = 0xFFFFFF;
constexpr uint32_t kLabelColor = 0x600060;  // RGB(0x60, 0x00, 0x60)

// Antialiased text of one font at one size.
class TextPainter {
 public:
  virtual ~TextPainter() = default;
  virtual int Width(const std::string& text) = 0;
  virtual int LineHeight() const = 0;
  // Top-left corner at (x, y), over an opaque white box as the dialog's paint context has.
  virtual void Draw(Picture& picture, int x, int y, const std::string& text, uint32_t rgb) = 0;
};

// "DejaVu Sans" at `pixels` high, 0 for the pixel size of the dialog font; null with *error
// when no font is found.
std::unique_ptr<TextPainter> CreateTextPainter(std::string* error, int pixels = 0);

// `text` may be null: the page without labels.
Picture ComposePage(int mode, const PlotCanvas& canvas, const AnalysisSettings& settings, TextPainter* text,
                    int width, int height);

// Replaces `path` whole or not at all; *error: the reason.
bool WritePng(const Picture& picture, const std::string& path, std::string* error);
// The same PNG in memory, byte for byte as WritePng writes it; false for an empty picture.
bool EncodePng(const Picture& picture, std::string* bytes);
// For the tests: false when the file is not a PNG this build can read.
bool ReadPng(const std::string& path, Picture* picture);
