#include "png_writer.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace wxt {

namespace {

uint32_t crc32(const uint8_t* AData, size_t ASize, uint32_t ACrc = 0) {
  ACrc = ~ACrc;
  for (size_t i = 0; i < ASize; ++i) {
    ACrc ^= AData[i];
    for (int bit = 0; bit < 8; ++bit) ACrc = (ACrc >> 1) ^ (0xEDB88320u & (0u - (ACrc & 1u)));
  }
  return ~ACrc;
}

void put32(std::vector<uint8_t>& AOut, uint32_t AValue) {
  for (int shift = 24; shift >= 0; shift -= 8) AOut.push_back(static_cast<uint8_t>(AValue >> shift));
}

void chunk(std::vector<uint8_t>& AOut, const char* AType, const std::vector<uint8_t>& AData) {
  put32(AOut, static_cast<uint32_t>(AData.size()));
  std::vector<uint8_t> body(AType, AType + 4);
  body.insert(body.end(), AData.begin(), AData.end());
  AOut.insert(AOut.end(), body.begin(), body.end());
  put32(AOut, crc32(body.data(), body.size()));
}

// rows: filter byte 0 + RGB per pixel, top-down
std::vector<uint8_t> encode_png(int AWidth, int AHeight, const std::vector<uint8_t>& ARows) {
  std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  std::vector<uint8_t> header;
  put32(header, static_cast<uint32_t>(AWidth));
  put32(header, static_cast<uint32_t>(AHeight));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, truecolour, deflate, no filter set, no interlace
  chunk(out, "IHDR", header);
  std::vector<uint8_t> z = {0x78, 0x01};
  uint32_t a = 1, b = 0;
  for (uint8_t byte : ARows) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  for (size_t pos = 0; pos < ARows.size() || pos == 0;) {
    const size_t length = std::min<size_t>(65535, ARows.size() - pos);
    const bool last = pos + length >= ARows.size();
    z.push_back(last ? 1 : 0);
    z.push_back(static_cast<uint8_t>(length));
    z.push_back(static_cast<uint8_t>(length >> 8));
    z.push_back(static_cast<uint8_t>(~length));
    z.push_back(static_cast<uint8_t>(~length >> 8));
    z.insert(z.end(), ARows.begin() + static_cast<long>(pos), ARows.begin() + static_cast<long>(pos + length));
    pos += length;
    if (last) break;
  }
  put32(z, (b << 16) | a);
  chunk(out, "IDAT", z);
  chunk(out, "IEND", {});
  return out;
}

}  // namespace

bool save_window_png(HWND AWnd, const std::wstring& APath, COLORREF AColour, capture_stats& AStats) {
  AStats = capture_stats{};
  RECT rect{};
  if (!GetWindowRect(AWnd, &rect)) return false;
  const int width = rect.right - rect.left, height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) return false;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool ok = false;
  if (bitmap) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    // From the screen: Wine's PrintWindow paints neither the frame nor the child windows.
    ok = BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY) != FALSE;
    GdiFlush();
    SelectObject(memory, old);
  }
  std::vector<uint8_t> rows;
  if (ok) {
    const auto* pixels = static_cast<const uint8_t*>(bits);
    rows.reserve(static_cast<size_t>(height) * (1 + 3 * static_cast<size_t>(width)));
    for (int y = 0; y < height; ++y) {
      rows.push_back(0);
      for (int x = 0; x < width; ++x) {
        const uint8_t* p = pixels + (static_cast<size_t>(y) * width + x) * 4;
        rows.insert(rows.end(), {p[2], p[1], p[0]});
        ++AStats.pixels;
        if (RGB(p[2], p[1], p[0]) == AColour) ++AStats.matching;
        if (p[0] + p[1] + p[2] < 3 * 128) ++AStats.dark;
      }
    }
  }
  if (bitmap) DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  if (!ok) return false;
  const std::vector<uint8_t> png = encode_png(width, height, rows);
  FILE* file = _wfopen(APath.c_str(), L"wb");
  if (!file) return false;
  const bool written = fwrite(png.data(), 1, png.size(), file) == png.size();
  return fclose(file) == 0 && written;
}

}  // namespace wxt
