#include "cli/output/page_picture.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include <png.h>

#include <algorithm>
#include <map>

#include "cli/output/safe_file.h"
#include "ui/axis_labels.h"

namespace {

// "MS Sans Serif" 8 pt at 96 dpi has a cell 13 pixels high; DejaVu Sans at 11 pixels matches it.
constexpr int kFontPixels = 11;

struct Glyph {
  int left = 0;  // from the pen position
  int top = 0;   // above the baseline
  int width = 0;
  int rows = 0;
  int advance = 0;
  std::vector<uint8_t> coverage;
};

class FreeTypePainter final : public TextPainter {
 public:
  ~FreeTypePainter() override {
    if (face_) FT_Done_Face(face_);
    if (library_) FT_Done_FreeType(library_);
  }

  bool Init(const std::string& file, int pixels, std::string* error) {
    if (FT_Init_FreeType(&library_) != 0) {
      *error = "FreeType could not start";
      return false;
    }
    if (FT_New_Face(library_, file.c_str(), 0, &face_) != 0 || FT_Set_Pixel_Sizes(face_, 0, pixels > 0 ? pixels : kFontPixels) != 0) {
      *error = "cannot load font '" + file + "'";
      return false;
    }
    ascender_ = static_cast<int>((face_->size->metrics.ascender + 63) >> 6);
    lineHeight_ = static_cast<int>((face_->size->metrics.height + 63) >> 6);
    return true;
  }

  int Width(const std::string& text) override {
    int w = 0;
    for (unsigned char c : text) w += GlyphOf(c).advance;
    return w;
  }
  int LineHeight() const override { return lineHeight_; }

  void Draw(Picture& p, int x, int y, const std::string& text, uint32_t rgb) override {
    FillBox(p, x, y, Width(text), lineHeight_);
    int pen = x;
    const int baseline = y + ascender_;
    for (unsigned char c : text) {
      const Glyph& g = GlyphOf(c);
      for (int r = 0; r < g.rows; ++r) {
        const int py = baseline - g.top + r;
        if (py < 0 || py >= p.height) continue;
        for (int col = 0; col < g.width; ++col) {
          const int px = pen + g.left + col;
          if (px < 0 || px >= p.width) continue;
          const unsigned a = g.coverage[size_t(r) * g.width + col];
          if (a == 0) continue;
          uint32_t& dst = p.pixels[size_t(py) * p.width + px];
          dst = Blend(dst, rgb, a);
        }
      }
      pen += g.advance;
    }
  }

 private:
  static uint32_t Blend(uint32_t under, uint32_t over, unsigned a) {
    uint32_t out = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
      const unsigned u = (under >> shift) & 0xFF, o = (over >> shift) & 0xFF;
      out |= ((o * a + u * (255 - a) + 127) / 255) << shift;
    }
    return out;
  }

  static void FillBox(Picture& p, int x, int y, int w, int h) {
    for (int r = std::max(y, 0); r < std::min(y + h, p.height); ++r) {
      for (int c = std::max(x, 0); c < std::min(x + w, p.width); ++c) p.pixels[size_t(r) * p.width + c] = kPageWhite;
    }
  }

  const Glyph& GlyphOf(unsigned char c) {
    auto it = glyphs_.find(c);
    if (it != glyphs_.end()) return it->second;
    Glyph g;
    if (FT_Load_Char(face_, c, FT_LOAD_RENDER) == 0) {
      const FT_GlyphSlot slot = face_->glyph;
      const FT_Bitmap& bm = slot->bitmap;
      g.left = slot->bitmap_left;
      g.top = slot->bitmap_top;
      g.advance = static_cast<int>((slot->advance.x + 32) >> 6);
      if (bm.pixel_mode == FT_PIXEL_MODE_GRAY) {
        g.width = static_cast<int>(bm.width);
        g.rows = static_cast<int>(bm.rows);
        g.coverage.resize(size_t(g.width) * g.rows);
        for (int r = 0; r < g.rows; ++r) {
          const uint8_t* src = bm.buffer + static_cast<ptrdiff_t>(r) * bm.pitch;
          std::copy(src, src + g.width, g.coverage.begin() + static_cast<ptrdiff_t>(r) * g.width);
        }
      }
    }
    return glyphs_.emplace(c, std::move(g)).first->second;
  }

  FT_Library library_ = nullptr;
  FT_Face face_ = nullptr;
  int ascender_ = 0;
  int lineHeight_ = 0;
  std::map<unsigned char, Glyph> glyphs_;
};

std::string FindFontFile(std::string* error) {
  if (!FcInit()) {
    *error = "fontconfig could not start";
    return {};
  }
  std::string file;
  FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>("DejaVu Sans:style=Book"));
  FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(nullptr, pattern, &result);
  FcChar8* path = nullptr;
  if (match != nullptr && FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch && path != nullptr) {
    file = reinterpret_cast<const char*>(path);
  }
  if (match) FcPatternDestroy(match);
  FcPatternDestroy(pattern);
  FcFini();  // only the file name is kept
  if (file.empty()) *error = "fontconfig finds no font (install fonts-dejavu-core)";
  return file;
}

}  // namespace

std::unique_ptr<TextPainter> CreateTextPainter(std::string* error, int pixels) {
  const std::string file = FindFontFile(error);
  if (file.empty()) return nullptr;
  auto painter = std::make_unique<FreeTypePainter>();
  if (!painter->Init(file, pixels, error)) return nullptr;
  return painter;
}

Picture ComposePage(int mode, const PlotCanvas& canvas, const AnalysisSettings& settings, TextPainter* text,
                    int width, int height) {
  Picture p;
  p.width = width;
  p.height = height;
  p.pixels.assign(size_t(width) * height, kPageWhite);
  if (text != nullptr) {
    const MeasureTextFn measure = [text](const std::string& t) { return TextExtent{text->Width(t), text->LineHeight()}; };
    for (const AxisLabel& l : PageAxisLabels(mode, canvas.plotRect, measure, settings)) {
      text->Draw(p, l.x, l.y, l.text, kLabelColor);
    }
  }
  // The picture control is a child window: it paints over any label reaching into it.
  const PlotRect& r = canvas.plotRect;
  for (int y = 0; y < canvas.plotHeight; ++y) {
    const int py = r.top + y;
    if (py < 0 || py >= height) continue;
    for (int x = 0; x < canvas.plotWidth; ++x) {
      const int px = r.left + x;
      if (px >= 0 && px < width) p.pixels[size_t(py) * width + px] = canvas.PixelAt(x, y) & 0xFFFFFF;
    }
  }
  return p;
}

namespace {

// A picture as libpng's simplified API takes it; `rgb` must outlive the writing.
png_image PngImage(const Picture& picture, std::vector<uint8_t>* rgb) {
  rgb->resize(picture.pixels.size() * 3);
  for (size_t i = 0; i < picture.pixels.size(); ++i) {
    const uint32_t px = picture.pixels[i];
    (*rgb)[3 * i] = static_cast<uint8_t>(px >> 16);
    (*rgb)[3 * i + 1] = static_cast<uint8_t>(px >> 8);
    (*rgb)[3 * i + 2] = static_cast<uint8_t>(px);
  }
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(picture.width);
  image.height = static_cast<png_uint_32>(picture.height);
  image.format = PNG_FORMAT_RGB;
  image.flags = PNG_IMAGE_FLAG_FAST;  // pages are mostly flat colour: fast filtering loses little
  return image;
}

}  // namespace

bool WritePng(const Picture& picture, const std::string& path, std::string* error) {
  std::string bytes;
  if (!EncodePng(picture, &bytes)) {
    *error = "cannot encode the picture";
    return false;
  }
  return WriteWholeFile(path, bytes, error);
}

bool EncodePng(const Picture& picture, std::string* bytes) {
  bytes->clear();
  if (picture.width <= 0 || picture.height <= 0 || picture.pixels.size() != size_t(picture.width) * picture.height) {
    return false;
  }
  std::vector<uint8_t> rgb;
  png_image image = PngImage(picture, &rgb);
  png_alloc_size_t size = 0;
  bool ok = png_image_write_to_memory(&image, nullptr, &size, 0, rgb.data(), 0, nullptr) != 0;
  if (ok) {
    bytes->resize(size);
    ok = png_image_write_to_memory(&image, bytes->data(), &size, 0, rgb.data(), 0, nullptr) != 0;
    bytes->resize(ok ? size : 0);
  }
  png_image_free(&image);
  return ok;
}

bool ReadPng(const std::string& path, Picture* picture) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) {
    png_image_free(&image);
    return false;
  }
  picture->width = static_cast<int>(image.width);
  picture->height = static_cast<int>(image.height);
  picture->pixels.resize(size_t(picture->width) * picture->height);
  for (size_t i = 0; i < picture->pixels.size(); ++i) {
    picture->pixels[i] = (uint32_t(rgb[3 * i]) << 16) | (uint32_t(rgb[3 * i + 1]) << 8) | rgb[3 * i + 2];
  }
  return true;
}
