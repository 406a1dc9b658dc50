#include "icon_builders.h"

#include <windows.h>

#include <stdexcept>

namespace icons {

namespace {

void put16(bytes& AOut, uint32_t AValue) {
  AOut.push_back(static_cast<uint8_t>(AValue));
  AOut.push_back(static_cast<uint8_t>(AValue >> 8));
}
void put32(bytes& AOut, uint32_t AValue) {
  put16(AOut, AValue & 0xFFFF);
  put16(AOut, AValue >> 16);
}
void put32be(bytes& AOut, uint32_t AValue) {
  for (int shift = 24; shift >= 0; shift -= 8) AOut.push_back(static_cast<uint8_t>(AValue >> shift));
}

size_t stride_of(int AWidth, int ABits) { return static_cast<size_t>(((AWidth * ABits + 31) & ~31) / 8); }

uint32_t crc32(const uint8_t* AData, size_t ASize, uint32_t ACrc = 0) {
  uint32_t c = ~ACrc;
  for (size_t i = 0; i < ASize; ++i) {
    c ^= AData[i];
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
  }
  return ~c;
}

void png_chunk(bytes& AOut, const char* AType, const bytes& AData) {
  put32be(AOut, static_cast<uint32_t>(AData.size()));
  bytes typed(AType, AType + 4);
  typed.insert(typed.end(), AData.begin(), AData.end());
  AOut.insert(AOut.end(), typed.begin(), typed.end());
  put32be(AOut, crc32(typed.data(), typed.size()));
}

}  // namespace

bytes make_dib(const dib_image& AImage) {
  const int bits = AImage.BitCount;
  bytes out;
  put32(out, 40);
  put32(out, static_cast<uint32_t>(AImage.Width));
  put32(out, static_cast<uint32_t>(AImage.TopDown ? -2 * AImage.Height : 2 * AImage.Height));
  put16(out, 1);
  put16(out, static_cast<uint32_t>(bits));
  for (int i = 0; i < 6; ++i) put32(out, 0);
  if (bits <= 8)
    for (int i = 0; i < (1 << bits); ++i)
      put32(out, i < static_cast<int>(AImage.Palette.size()) ? AImage.Palette[i] & 0xFFFFFF : 0);
  const size_t stride = stride_of(AImage.Width, bits);
  const size_t mask_stride = stride_of(AImage.Width, 1);
  auto file_row = [&AImage](int AIndex) { return AImage.TopDown ? AIndex : AImage.Height - 1 - AIndex; };
  for (int i = 0; i < AImage.Height; ++i) {
    const int y = file_row(i);
    bytes row(stride, 0);
    for (int x = 0; x < AImage.Width; ++x) {
      const uint32_t v = AImage.Pixel(x, y);
      switch (bits) {
        case 1: row[x / 8] |= static_cast<uint8_t>((v & 1) << (7 - x % 8)); break;
        case 4: row[x / 2] |= static_cast<uint8_t>((v & 15) << (x % 2 ? 0 : 4)); break;
        case 8: row[x] = static_cast<uint8_t>(v); break;
        case 16: {
          const uint32_t w = (((v >> 19) & 31) << 10) | (((v >> 11) & 31) << 5) | ((v >> 3) & 31);
          row[x * 2] = static_cast<uint8_t>(w);
          row[x * 2 + 1] = static_cast<uint8_t>(w >> 8);
          break;
        }
        case 24:
          row[x * 3] = static_cast<uint8_t>(v);
          row[x * 3 + 1] = static_cast<uint8_t>(v >> 8);
          row[x * 3 + 2] = static_cast<uint8_t>(v >> 16);
          break;
        case 32:
          for (int k = 0; k < 4; ++k) row[x * 4 + k] = static_cast<uint8_t>(v >> (8 * k));
          break;
        default: throw std::logic_error("bit count");
      }
    }
    out.insert(out.end(), row.begin(), row.end());
  }
  for (int i = 0; i < AImage.Height; ++i) {
    const int y = file_row(i);
    bytes row(mask_stride, 0);
    for (int x = 0; x < AImage.Width; ++x)
      if (AImage.Transparent(x, y)) row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    out.insert(out.end(), row.begin(), row.end());
  }
  return out;
}

bytes make_ico(const std::vector<ico_entry>& AEntries, uint16_t AType) {
  bytes out;
  put16(out, 0);
  put16(out, AType);
  put16(out, static_cast<uint32_t>(AEntries.size()));
  uint32_t offset = static_cast<uint32_t>(6 + 16 * AEntries.size());
  for (const auto& e : AEntries) {
    out.push_back(static_cast<uint8_t>(e.Width));
    out.push_back(static_cast<uint8_t>(e.Height));
    out.push_back(0);
    out.push_back(0);
    put16(out, 1);
    put16(out, static_cast<uint32_t>(e.BitCount));
    put32(out, static_cast<uint32_t>(e.Data.size()));
    put32(out, offset);
    offset += static_cast<uint32_t>(e.Data.size());
  }
  for (const auto& e : AEntries) out.insert(out.end(), e.Data.begin(), e.Data.end());
  return out;
}

bytes make_png(uint32_t AWidth, uint32_t AHeight, uint8_t ADepth, uint8_t AColorType,
               const std::vector<bytes>& ARows, const bytes& APalette) {
  bytes raw;
  for (const auto& row : ARows) {
    raw.push_back(0);  // filter: none
    raw.insert(raw.end(), row.begin(), row.end());
  }
  // zlib stream of stored blocks: no compressor needed, any decoder reads it.
  bytes z = {0x78, 0x01};
  size_t pos = 0;
  do {
    const size_t n = std::min<size_t>(65535, raw.size() - pos);
    z.push_back(pos + n == raw.size() ? 1 : 0);
    put16(z, static_cast<uint32_t>(n));
    put16(z, static_cast<uint32_t>(~n & 0xFFFF));
    z.insert(z.end(), raw.begin() + pos, raw.begin() + pos + n);
    pos += n;
  } while (pos < raw.size());
  uint32_t a = 1, b = 0;
  for (uint8_t c : raw) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  put32be(z, (b << 16) | a);

  bytes out = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  bytes ihdr;
  put32be(ihdr, AWidth);
  put32be(ihdr, AHeight);
  ihdr.insert(ihdr.end(), {ADepth, AColorType, 0, 0, 0});
  png_chunk(out, "IHDR", ihdr);
  if (!APalette.empty()) png_chunk(out, "PLTE", APalette);
  png_chunk(out, "IDAT", z);
  png_chunk(out, "IEND", {});
  return out;
}

bytes make_png_rgba(int AWidth, int AHeight, const std::function<uint32_t(int, int)>& APixel) {
  std::vector<bytes> rows;
  for (int y = 0; y < AHeight; ++y) {
    bytes row;
    for (int x = 0; x < AWidth; ++x) {
      const uint32_t v = APixel(x, y);
      row.insert(row.end(), {static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
                             static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 24)});
    }
    rows.push_back(row);
  }
  return make_png(static_cast<uint32_t>(AWidth), static_cast<uint32_t>(AHeight), 8, 6, rows);
}

dib_image sized_image(int ASize) {
  dib_image image;
  image.Width = image.Height = ASize;
  image.BitCount = 32;
  image.Pixel = [ASize](int x, int y) {
    return x < 4 && y < 4 ? 0u : argb(255, static_cast<uint32_t>(ASize), 0x80, 0x11);
  };
  image.Transparent = [](int x, int y) { return x < 4 && y < 4; };
  return image;
}

dib_image palette_image(int ASize) {
  dib_image image;
  image.Width = image.Height = ASize;
  image.BitCount = 8;
  image.Palette = {0, argb(0, 32, 8, 0x22)};
  image.Pixel = [](int, int) { return 1u; };
  return image;
}

uint32_t quadrant_pixel(int AX, int AY, int ASize) {
  const bool left = AX < ASize / 2, top = AY < ASize / 2;
  if (top) return left ? argb(255, 255, 0, 0) : argb(255, 0, 255, 0);
  return left ? argb(255, 0, 0, 255) : 0u;
}

bytes multi_ico() {
  return make_ico({{16, 16, 32, make_dib(sized_image(16))},
                   {32, 32, 32, make_dib(sized_image(32))},
                   {48, 48, 32, make_dib(sized_image(48))},
                   {32, 32, 8, make_dib(palette_image(32))}});
}

void write_file(const std::wstring& APath, const bytes& AData) {
  HANDLE file = ::CreateFileW(APath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create test file");
  DWORD written = 0;
  const BOOL ok = ::WriteFile(file, AData.data(), static_cast<DWORD>(AData.size()), &written, nullptr);
  ::CloseHandle(file);
  if (!ok || written != AData.size()) throw std::runtime_error("cannot write test file");
}

}  // namespace icons
