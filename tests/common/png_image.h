// Reading back the PNG files the screenshot tests render, to check that text was really drawn.
#pragma once
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "ui/Backend.h"
#if __has_include(<png.h>)
#include <png.h>
#define KORVEL_TEST_HAS_PNG 1
#endif

namespace korvel::test {

struct Image {
  int width = 0, height = 0;
  std::vector<unsigned char> rgba;

  std::uint32_t At(int x, int y) const {
    const unsigned char* p =
        &rgba[(static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 4];
    return (std::uint32_t(p[0]) << 16) | (std::uint32_t(p[1]) << 8) | p[2];
  }
  // The pixels of a rectangle, row by row.
  std::vector<std::uint32_t> Region(int x, int y, int w, int h) const {
    std::vector<std::uint32_t> out;
    for (int j = y; j < y + h && j < height; ++j)
      for (int i = x; i < x + w && i < width; ++i) out.push_back(At(i, j));
    return out;
  }
  // Pixels darker than mid-grey in a rectangle (text drawn there).
  int Dark(int x, int y, int w, int h) const { return DarkPixels(Region(x, y, w, h)); }
  // A rectangle of the picture as a picture of its own.
  Image Crop(int x, int y, int w, int h) const {
    Image out;
    out.width = w;
    out.height = h;
    out.rgba.assign(static_cast<size_t>(w) * static_cast<size_t>(h) * 4, 0);
    for (int j = 0; j < h && y + j < height; ++j)
      for (int i = 0; i < w && x + i < width; ++i)
        for (int k = 0; k < 4; ++k)
          out.rgba[(static_cast<size_t>(j) * w + i) * 4 + k] =
              rgba[(static_cast<size_t>(y + j) * width + (x + i)) * 4 + k];
    return out;
  }
  size_t Colours() const {
    std::set<std::uint32_t> seen;
    for (int j = 0; j < height; ++j)
      for (int i = 0; i < width; ++i) seen.insert(At(i, j));
    return seen.size();
  }
  static int DarkPixels(const std::vector<std::uint32_t>& px) {
    int dark = 0;
    for (auto p : px)
      if (((p >> 16) & 0xFF) + ((p >> 8) & 0xFF) + (p & 0xFF) < 3 * 128) ++dark;
    return dark;
  }
};

// A rendered window's client area: the picture without the frame and the caption bar.
inline Image ClientArea(const Image& window) {
  const int f = ui::kRenderFrame, bar = ui::kRenderCaption;
  return window.Crop(f, f + bar, window.width - 2 * f, window.height - 2 * f - bar);
}

// The caption bar of a rendered window.
inline Image CaptionBar(const Image& window) {
  const int f = ui::kRenderFrame;
  return window.Crop(f, f, window.width - 2 * f, ui::kRenderCaption);
}

// False when the file cannot be read (or libpng is not installed).
inline bool ReadPng(const std::string& path, Image& img) {
#ifdef KORVEL_TEST_HAS_PNG
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_RGBA;
  img.width = static_cast<int>(image.width);
  img.height = static_cast<int>(image.height);
  img.rgba.resize(PNG_IMAGE_SIZE(image));
  return png_image_finish_read(&image, nullptr, img.rgba.data(), 0, nullptr) != 0;
#else
  (void)path;
  (void)img;
  return false;
#endif
}

}  // namespace korvel::test
