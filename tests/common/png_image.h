// Reading back the PNG files the screenshot tests render, to check that text was really drawn.
#pragma once
#include <cstdint>
#include <set>
#include <string>
#include <vector>
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
