// Builders of icon files and PNG images in memory, for tests and the icon mutation loop.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace icons {

using bytes = std::vector<uint8_t>;

constexpr uint32_t argb(uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
  return (a << 24) | (r << 16) | (g << 8) | b;
}

// One icon image as a DIB: for 1..8 bits `Pixel` gives a palette index, otherwise ARGB.
struct dib_image {
  int Width = 0;
  int Height = 0;
  int BitCount = 32;
  std::vector<uint32_t> Palette;  // ARGB; padded to the full size for the bit count
  std::function<uint32_t(int, int)> Pixel;
  std::function<bool(int, int)> Transparent = [](int, int) { return false; };
  bool TopDown = false;
};

bytes make_dib(const dib_image& AImage);

struct ico_entry {
  int Width;
  int Height;
  int BitCount;
  bytes Data;
};
// An .ico (type 1) or .cur (type 2) file; images follow the directory in order.
bytes make_ico(const std::vector<ico_entry>& AEntries, uint16_t AType = 1);

// A PNG with stored (uncompressed) deflate blocks; ARows are the unfiltered scan lines.
bytes make_png(uint32_t AWidth, uint32_t AHeight, uint8_t ADepth, uint8_t AColorType,
               const std::vector<bytes>& ARows, const bytes& APalette = {});
// A 8-bit RGBA PNG from an ARGB pixel function.
bytes make_png_rgba(int AWidth, int AHeight, const std::function<uint32_t(int, int)>& APixel);

// The pictures shared with the committed resource data.
dib_image sized_image(int ASize);   // red = size, green 0x80, blue 0x11; top-left 4x4 transparent
dib_image palette_image(int ASize);  // 8 bits, every pixel colour (32, 8, 0x22)
uint32_t quadrant_pixel(int AX, int AY, int ASize);  // red, green / blue, transparent
bytes multi_ico();                   // 16, 32, 48 at 32 bits and 32 at 8 bits

void write_file(const std::wstring& APath, const bytes& AData);

}  // namespace icons
