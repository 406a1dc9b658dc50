// The icon reader and shell helpers on files the tests write, a module with icon groups built
// by the resource compiler, and the system's own shell32 under Wine. Pixels are checked by
// drawing each icon the way a control would, over two backgrounds.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "common/qorHandles.h"
#include "icon_builders.h"
#include "ui/qorShellBaseExtension.h"
#include "common/qorTarget.h"

using namespace icons;
namespace sbe = qor::ShellBaseExtension;

namespace {

constexpr uint32_t white = 0xFFFFFF, black = 0x000000;

std::wstring exe_dir() {
  wchar_t path[MAX_PATH];
  const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir(path, n);
  return dir.substr(0, dir.find_last_of(L'\\'));
}

std::wstring temp_dir() {
  static const std::wstring dir = [] {
    wchar_t base[MAX_PATH];
    ::GetTempPathW(MAX_PATH, base);
    std::wstring d = std::wstring(base) + L"wexlor_icons_" + std::to_wstring(::GetCurrentProcessId());
    ::CreateDirectoryW(d.c_str(), nullptr);
    return d;
  }();
  return dir;
}

std::wstring temp_file(const std::wstring& AName, const bytes& AData) {
  const std::wstring path = temp_dir() + L"\\" + AName;
  write_file(path, AData);
  return path;
}

// The icon drawn over a plain background, as RGB values, top row first.
struct picture {
  int Width = 0;
  int Height = 0;
  std::vector<uint32_t> Pixels;
  uint32_t at(int AX, int AY) const { return Pixels[static_cast<size_t>(AY) * Width + AX] & 0xFFFFFF; }
};

picture draw(HICON AIcon, uint32_t ABackground) {
  const SIZE size = sbe::GetIconSize(AIcon);
  picture result;
  result.Width = size.cx;
  result.Height = size.cy;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = size.cx;
  info.bmiHeader.biHeight = -size.cy;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  qor::unique_gdi<HBITMAP> bitmap(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  HDC dc = ::CreateCompatibleDC(nullptr);
  {
    qor::selected_object select(dc, bitmap.get());
    auto* pixels = static_cast<uint32_t*>(bits);
    std::fill(pixels, pixels + size.cx * size.cy, ABackground);
    ::DrawIconEx(dc, 0, 0, AIcon, size.cx, size.cy, 0, nullptr, DI_NORMAL);
    ::GdiFlush();
    result.Pixels.assign(pixels, pixels + size.cx * size.cy);
  }
  ::DeleteDC(dc);
  return result;
}

// Alpha bytes of the icon's colour bitmap as the system hands it out.
std::vector<uint8_t> color_alpha(HICON AIcon) {
  ICONINFO info{};
  EXPECT_TRUE(::GetIconInfo(AIcon, &info));
  qor::unique_gdi<HBITMAP> color(info.hbmColor), mask(info.hbmMask);
  BITMAP bm{};
  ::GetObjectW(color.get(), sizeof(bm), &bm);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = bm.bmWidth;
  bi.bmiHeader.biHeight = -bm.bmHeight;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  std::vector<uint32_t> pixels(static_cast<size_t>(bm.bmWidth) * bm.bmHeight);
  HDC dc = ::GetDC(nullptr);
  ::GetDIBits(dc, color.get(), 0, bm.bmHeight, pixels.data(), &bi, DIB_RGB_COLORS);
  ::ReleaseDC(nullptr, dc);
  std::vector<uint8_t> alpha;
  for (uint32_t p : pixels) alpha.push_back(static_cast<uint8_t>(p >> 24));
  return alpha;
}

// Opaque where both backgrounds give the same colour; transparent where each shows through.
void expect_opaque(HICON AIcon, int AX, int AY, uint32_t AColor) {
  EXPECT_EQ(draw(AIcon, white).at(AX, AY), AColor) << "at " << AX << "," << AY;
  EXPECT_EQ(draw(AIcon, black).at(AX, AY), AColor) << "at " << AX << "," << AY;
}
void expect_transparent(HICON AIcon, int AX, int AY) {
  EXPECT_EQ(draw(AIcon, white).at(AX, AY), white) << "at " << AX << "," << AY;
  EXPECT_EQ(draw(AIcon, black).at(AX, AY), black) << "at " << AX << "," << AY;
}

std::wstring resource_dll() { return exe_dir() + L"\\icon_resources.dll"; }

qor::unique_icon load(const std::wstring& ALocation, int ASize, int ABitCount = 32) {
  return qor::unique_icon(sbe::LoadIconFromLocation(ALocation, ASize, ASize, ABitCount));
}

SIZE size_of(HICON AIcon) { return sbe::GetIconSize(AIcon); }

uint32_t rgb(uint32_t r, uint32_t g, uint32_t b) { return (r << 16) | (g << 8) | b; }

// Checks the quadrant picture (red, green / blue, transparent) at a size.
void expect_quadrants(HICON AIcon, int ASize) {
  ASSERT_NE(AIcon, nullptr);
  EXPECT_EQ(size_of(AIcon).cx, ASize);
  EXPECT_EQ(size_of(AIcon).cy, ASize);
  const int half = ASize / 2;
  expect_opaque(AIcon, 0, 0, rgb(255, 0, 0));
  expect_opaque(AIcon, half - 1, half - 1, rgb(255, 0, 0));
  expect_opaque(AIcon, half, 0, rgb(0, 255, 0));
  expect_opaque(AIcon, 0, half, rgb(0, 0, 255));
  expect_transparent(AIcon, half, half);
  expect_transparent(AIcon, ASize - 1, ASize - 1);
}

// ---- Pure functions --------------------------------------------------------------------------

TEST(IconReader, BytesPerScanLine) {
  const struct {
    int Width, Bits, Expected;
  } cases[] = {{13, 1, 4}, {13, 24, 40}, {13, 15, 28}, {13, 16, 28}, {1, 32, 4}, {16, 4, 8}, {33, 1, 8}, {0, 8, 0}};
  for (const auto& c : cases)
    EXPECT_EQ(sbe::BytesPerScanLine(c.Width, c.Bits), c.Expected) << c.Width << " x " << c.Bits;
}

TEST(IconReader, SelectIconIndex) {
  const sbe::TIconSizes sizes = {{{16, 16}, 32}, {{32, 32}, 32}, {{48, 48}, 32}, {{32, 32}, 8}};
  const struct {
    int Size, BitCount;
    size_t Expected;
  } cases[] = {
      {16, 32, 0}, {32, 32, 1}, {40, 32, 2}, {48, 32, 2}, {64, 32, 2},
      {32, 8, 3},  // only the 8-bit image does not exceed the request
      {32, 4, 3},  // everything is deeper than asked: the shallowest images remain
      {32, 64, 1}, {16, 24, 3}, {1, 32, 0}};
  for (const auto& c : cases)
    EXPECT_EQ(sbe::SelectIconIndex(c.Size, c.Size, c.BitCount, sizes), c.Expected)
        << c.Size << " at " << c.BitCount << " bits";
  // Equal areas keep their directory order; a PNG measured as 0x0 without codecs is never preferred.
  const sbe::TIconSizes ties = {{{0, 0}, 0}, {{32, 32}, 32}, {{32, 32}, 32}};
  EXPECT_EQ(sbe::SelectIconIndex(32, 32, 32, ties), 1u);
}

TEST(IconReader, ReadPngDim) {
  const struct {
    uint8_t Depth, ColorType;
    int BitDepth, Alpha;
  } cases[] = {{8, 6, 24, 8}, {8, 3, 8, 0}, {16, 4, 16, 16}, {8, 2, 24, 0}, {1, 0, 1, 0}, {8, 5, 0, 0}};
  for (const auto& c : cases) {
    const bytes png = make_png(7, 5, c.Depth, c.ColorType, {bytes(1, 0)});
    sbe::TMyMemoryStream stream(png.data(), png.size());
    qor::TqorPngDim dim;
    sbe::ReadPngDim(stream, dim);
    EXPECT_EQ(dim.Size.cx, 7);
    EXPECT_EQ(dim.Size.cy, 5);
    EXPECT_EQ(dim.BitDepth, c.BitDepth) << int(c.Depth) << "/" << int(c.ColorType);
    EXPECT_EQ(dim.Alpha, c.Alpha) << int(c.Depth) << "/" << int(c.ColorType);
  }
  // A chunk before IHDR is skipped; a stream that ends inside a chunk raises.
  bytes png = make_png(3, 9, 8, 6, {bytes(12, 0)});
  const bytes extra = {0, 0, 0, 2, 't', 'E', 'X', 't', 'a', 'b', 1, 2, 3, 4};
  png.insert(png.begin() + 8, extra.begin(), extra.end());
  sbe::TMyMemoryStream stream(png.data(), png.size());
  qor::TqorPngDim dim;
  sbe::ReadPngDim(stream, dim);
  EXPECT_EQ(dim.Size.cx, 3);
  EXPECT_EQ(dim.Size.cy, 9);
  sbe::TMyMemoryStream truncated(png.data(), 20);
  EXPECT_THROW(sbe::ReadPngDim(truncated, dim), qor::EqorError);
}

// ---- Icon files ------------------------------------------------------------------------------

TEST(IconReader, IcoFileBestImageForEachSize) {
  const std::wstring path = temp_file(L"multi.ico", multi_ico());
  const struct {
    int Request, Source;
  } cases[] = {{16, 16}, {32, 32}, {40, 48}, {48, 48}, {64, 48}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Request);
    for (const std::wstring& location : {path, path + L",3"}) {
      auto icon = load(location, c.Request);
      ASSERT_TRUE(icon);
      EXPECT_EQ(size_of(icon.get()).cx, c.Request);
      EXPECT_EQ(size_of(icon.get()).cy, c.Request);
      expect_opaque(icon.get(), c.Request / 2, c.Request / 2, rgb(c.Source, 0x80, 0x11));
      expect_opaque(icon.get(), c.Request - 1, c.Request - 1, rgb(c.Source, 0x80, 0x11));
      expect_transparent(icon.get(), 0, 0);  // the transparent corner survives resampling
    }
  }
  // A request for 8 bits takes the palette image.
  auto icon = load(path, 32, 8);
  ASSERT_TRUE(icon);
  expect_opaque(icon.get(), 10, 10, rgb(32, 8, 0x22));
}

TEST(IconReader, EveryDibDepth) {
  // Colours whose channels survive 5-bit storage exactly; transparent pixels carry black, as
  // the mask draws screen AND mask XOR image.
  const uint32_t left = argb(255, 255, 0, 255), right = argb(255, 0, 255, 255);
  const struct {
    int Bits;
    bool TopDown;
  } cases[] = {{1, false}, {4, false}, {8, false}, {16, false}, {24, false}, {32, false}, {24, true}, {8, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Bits << " bits" << (c.TopDown ? " top-down" : ""));
    dib_image image;
    image.Width = 16;
    image.Height = 8;
    image.BitCount = c.Bits;
    image.TopDown = c.TopDown;
    const bool paletted = c.Bits <= 8;
    // One bit has two colours: black stands in for the left colour there.
    const uint32_t left_color = c.Bits == 1 ? 0u : left;
    image.Palette = c.Bits == 1 ? std::vector<uint32_t>{0, right} : std::vector<uint32_t>{0, left, right};
    // The top row is marked by the right colour so that a flipped image shows.
    image.Pixel = [&](int x, int y) -> uint32_t {
      if (x == 15) return 0;  // transparent column
      const bool is_left = x < 8 && y > 0;
      if (paletted) return c.Bits == 1 ? (is_left ? 0u : 1u) : (is_left ? 1u : 2u);
      return is_left ? left : right;
    };
    image.Transparent = [](int x, int) { return x == 15; };
    const std::wstring path = temp_file(L"depth.ico", make_ico({{16, 8, c.Bits, make_dib(image)}}));
    qor::unique_icon icon(sbe::LoadIconFromLocation(path, 16, 8, 32));
    ASSERT_TRUE(icon);
    expect_opaque(icon.get(), 2, 4, left_color & 0xFFFFFF);
    expect_opaque(icon.get(), 2, 0, right & 0xFFFFFF);
    expect_opaque(icon.get(), 10, 4, right & 0xFFFFFF);
    expect_transparent(icon.get(), 15, 4);
    // Resampled to twice the size, the same picture.
    qor::unique_icon twice(sbe::LoadIconFromLocation(path, 32, 16, 32));
    ASSERT_TRUE(twice);
    expect_opaque(twice.get(), 4, 8, left_color & 0xFFFFFF);
    expect_opaque(twice.get(), 4, 1, right & 0xFFFFFF);
    expect_opaque(twice.get(), 20, 8, right & 0xFFFFFF);
    expect_transparent(twice.get(), 31, 8);
  }
}

TEST(IconReader, CursorFileReadsLikeIconFile) {
  bytes cursor = multi_ico();
  cursor[2] = 2;
  const std::wstring path = temp_file(L"multi.cur", cursor);
  auto icon = load(path, 32);
  ASSERT_TRUE(icon);
  expect_opaque(icon.get(), 16, 16, rgb(32, 0x80, 0x11));
}

TEST(IconReader, PngFileResampledByNearestNeighbour) {
  const std::wstring path =
      temp_file(L"quadrants.png", make_png_rgba(256, 256, [](int x, int y) { return quadrant_pixel(x, y, 256); }));
  expect_quadrants(load(path, 32).get(), 32);
  // Row and column 15 come from source 120 (red), 16 from 128 (green): no filtering across the edge.
  auto icon = load(path, 32);
  expect_opaque(icon.get(), 15, 15, rgb(255, 0, 0));
  expect_opaque(icon.get(), 16, 15, rgb(0, 255, 0));
  // The same image inside an icon file.
  const std::wstring ico = temp_file(
      L"quadrants.ico",
      make_ico({{0, 0, 32, make_png_rgba(256, 256, [](int x, int y) { return quadrant_pixel(x, y, 256); })}}));
  expect_quadrants(load(ico, 48).get(), 48);
  // Asked for size 0, a PNG keeps its own size.
  qor::unique_icon own(sbe::LoadIconFromLocation(path, 0, 0, 32));
  ASSERT_TRUE(own);
  EXPECT_EQ(size_of(own.get()).cx, 256);
}

TEST(IconReader, IcoFileMixingPngAndDibImages) {
  const std::wstring path = temp_file(
      L"mixed.ico",
      make_ico({{0, 0, 32, make_png_rgba(256, 256, [](int x, int y) { return quadrant_pixel(x, y, 256); })},
                {16, 16, 32, make_dib(sized_image(16))},
                {32, 32, 32, make_dib(sized_image(32))}}));
  auto small = load(path, 16);
  ASSERT_TRUE(small);
  expect_opaque(small.get(), 8, 8, rgb(16, 0x80, 0x11));
  auto middle = load(path, 24);
  ASSERT_TRUE(middle);
  expect_opaque(middle.get(), 12, 12, rgb(32, 0x80, 0x11));
  expect_quadrants(load(path, 64).get(), 64);
}

TEST(IconReader, PngOnThreadWithCom) {
  // The factory comes from COM where the thread has it, and from the codec library where not.
  const std::wstring path =
      temp_file(L"com.png", make_png_rgba(64, 64, [](int x, int y) { return quadrant_pixel(x, y, 64); }));
  std::thread worker([&] {
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    expect_quadrants(load(path, 16).get(), 16);
    ::CoUninitialize();
  });
  worker.join();
  expect_quadrants(load(path, 16).get(), 16);
}

// ---- Resampling ------------------------------------------------------------------------------

qor::unique_icon no_alpha_icon() {
  dib_image image;
  image.Width = image.Height = 16;
  image.Pixel = [](int, int) { return argb(0, 0, 0, 255); };
  image.Transparent = [](int x, int) { return x < 8; };
  const bytes data = make_dib(image);
  sbe::TMyMemoryStream stream(data.data(), data.size());
  return qor::unique_icon(sbe::LoadDibIcon(stream, 0, 0));
}

TEST(IconReader, ZeroAlphaIconKeepsItsTransparentAreasWhenResampled) {
  auto source = no_alpha_icon();
  ASSERT_TRUE(source);
  qor::unique_icon resized(sbe::ResizeIcon(source.get(), 32, 32));
  ASSERT_TRUE(resized);
  EXPECT_EQ(size_of(resized.get()).cx, 32);
  for (int y : {0, 31})
    for (int x : {0, 15}) expect_transparent(resized.get(), x, y);
  for (int y : {0, 31})
    for (int x : {16, 31}) expect_opaque(resized.get(), x, y, rgb(0, 0, 255));
  const auto alpha = color_alpha(resized.get());
  ASSERT_EQ(alpha.size(), 32u * 32u);
  EXPECT_EQ(alpha[5 * 32 + 3], 0);      // mask moved into alpha: transparent
  EXPECT_EQ(alpha[5 * 32 + 20], 255);   // and opaque beside it
}

TEST(IconReader, ExactSizeIconIsCopiedNotResampled) {
  auto source = no_alpha_icon();
  ASSERT_TRUE(source);
  qor::unique_icon copy(sbe::ResizeIcon(source.get(), 16, 16));
  ASSERT_TRUE(copy);
  EXPECT_NE(copy.get(), source.get());
  // A copy keeps the empty alpha channel; resampling would have filled it from the mask.
  for (uint8_t a : color_alpha(copy.get())) ASSERT_EQ(a, 0);
  source.reset();  // the copy lives on its own
  // Still drawn through its mask: white AND mask XOR blue gives yellow, black XOR blue gives blue.
  EXPECT_EQ(draw(copy.get(), white).at(3, 3), rgb(255, 255, 0));
  EXPECT_EQ(draw(copy.get(), black).at(3, 3), rgb(0, 0, 255));
  expect_opaque(copy.get(), 12, 3, rgb(0, 0, 255));
}

TEST(IconReader, MonochromeIconResampled) {
  // AND mask: left half transparent; XOR image: right half white above, black below.
  uint8_t and_bits[16 * 2], xor_bits[16 * 2];
  for (int y = 0; y < 16; ++y) {
    and_bits[y * 2] = 0xFF;
    and_bits[y * 2 + 1] = 0x00;
    xor_bits[y * 2] = 0x00;
    xor_bits[y * 2 + 1] = y < 8 ? 0xFF : 0x00;
  }
  qor::unique_icon mono(::CreateIcon(::GetModuleHandleW(nullptr), 16, 16, 1, 1, and_bits, xor_bits));
  ASSERT_TRUE(mono);
  EXPECT_EQ(size_of(mono.get()).cy, 16);
  qor::unique_icon resized(sbe::ResizeIcon(mono.get(), 32, 32));
  ASSERT_TRUE(resized);
  EXPECT_EQ(size_of(resized.get()).cx, 32);
  EXPECT_EQ(size_of(resized.get()).cy, 32);
  expect_transparent(resized.get(), 5, 5);
  expect_transparent(resized.get(), 15, 30);
  expect_opaque(resized.get(), 20, 5, white);
  expect_opaque(resized.get(), 20, 20, black);
}

// ---- Modules and locations -------------------------------------------------------------------

TEST(IconReader, ModuleIconGroups) {
  const std::wstring dll = resource_dll();
  // No number: the first group (the named one) is used.
  auto first = load(dll, 48);
  ASSERT_TRUE(first);
  expect_opaque(first.get(), 24, 24, rgb(48, 0x80, 0x11));
  auto first40 = load(dll + L",0", 40);
  ASSERT_TRUE(first40);
  expect_opaque(first40.get(), 20, 20, rgb(48, 0x80, 0x11));
  // A group holding only a 256x256 PNG, wanted at 32x32.
  expect_quadrants(load(dll + L",2", 32).get(), 32);
  // The sign of the number is dropped; a 32-bit group without alpha keeps its mask.
  for (const wchar_t* suffix : {L",3", L",-3", L", -3 "}) {
    SCOPED_TRACE(suffix);
    auto icon = load(dll + suffix, 32);
    ASSERT_TRUE(icon);
    expect_transparent(icon.get(), 4, 4);
    expect_opaque(icon.get(), 24, 4, rgb(0, 0, 255));
  }
  // Without a folder the module is found by the library search (the program's own folder).
  expect_quadrants(load(L"icon_resources.dll,-2", 24).get(), 24);
  // Groups that do not exist, and numbers that are no resource identifiers.
  for (const wchar_t* suffix : {L",99", L",70000", L",2147483647", L",-2147483647"}) {
    SCOPED_TRACE(suffix);
    EXPECT_FALSE(load(dll + suffix, 32));
  }
  // Text that is no 32-bit number reads as 0: the first group.
  for (const wchar_t* suffix : {L",x", L",-2147483648", L",99999999999", L",", L",1x"}) {
    SCOPED_TRACE(suffix);
    auto icon = load(dll + suffix, 16);
    ASSERT_TRUE(icon);
    expect_opaque(icon.get(), 8, 8, rgb(16, 0x80, 0x11));
  }
}

TEST(IconReader, EnvironmentVariablesAndNumbersInLocations) {
  const std::wstring path = temp_file(L"multi.ico", multi_ico());
  ASSERT_TRUE(::SetEnvironmentVariableW(L"WEXLOR_ICON_DIR", temp_dir().c_str()));
  for (const wchar_t* location : {L"%WEXLOR_ICON_DIR%\\multi.ico", L"%WEXLOR_ICON_DIR%\\multi.ico, 3 ",
                                  L"%WEXLOR_ICON_DIR%\\multi.ico,-7"}) {
    SCOPED_TRACE(location);
    auto icon = load(location, 16);
    ASSERT_TRUE(icon);
    expect_opaque(icon.get(), 8, 8, rgb(16, 0x80, 0x11));
  }
  ASSERT_TRUE(::SetEnvironmentVariableW(L"WEXLOR_ICON_DLL", resource_dll().c_str()));
  expect_quadrants(load(L"%WEXLOR_ICON_DLL%,2", 16).get(), 16);
}

TEST(IconReader, MissingFilesGiveZero) {
  for (const std::wstring& location :
       {std::wstring(), std::wstring(L"no_such_module_wexlor.dll,1"), std::wstring(L"no_such_module_wexlor.dll"),
        temp_dir() + L"\\missing.ico", temp_dir() + L"\\missing.dll,3", temp_dir(),
        std::wstring(L"%WEXLOR_UNSET_VARIABLE%\\x.ico")}) {
    SCOPED_TRACE(testing::Message() << std::string(location.begin(), location.end()));
    EXPECT_FALSE(load(location, 32));
  }
}

// ---- The system's own icons ------------------------------------------------------------------

TEST(IconReader, StockIconsFromShell32) {
  ASSERT_TRUE(sbe::IsWindowsVistaOrLater());
  for (SHSTOCKICONID id : {SIID_ERROR, SIID_HELP, SIID_WARNING, SIID_INFO}) {
    SCOPED_TRACE(static_cast<int>(id));
    SHSTOCKICONINFO info{};
    info.cbSize = sizeof(info);
    static_assert(sizeof(SHSTOCKICONINFO) == per_target(536, 544), "stock icon record");
    ASSERT_EQ(sbe::GetStockIconInfo(id, 0, &info), S_OK);
    const std::wstring location = std::wstring(info.szPath) + L"," + std::to_wstring(info.iIcon);
    // The system's own choice for the same group at an exact size is the reference.
    qor::unique_module shell(::LoadLibraryExW(info.szPath, nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(shell);
    for (int size : {16, 32, 48}) {
      SCOPED_TRACE(size);
      auto ours = load(location, size);
      ASSERT_TRUE(ours);
      EXPECT_EQ(size_of(ours.get()).cx, size);
      qor::unique_icon theirs(static_cast<HICON>(
          ::LoadImageW(shell.get(), MAKEINTRESOURCEW(std::abs(info.iIcon)), IMAGE_ICON, size, size, 0)));
      ASSERT_TRUE(theirs);
      for (uint32_t background : {white, black}) {
        const picture a = draw(ours.get(), background), b = draw(theirs.get(), background);
        int differing = 0, shows_background = 0;
        for (size_t i = 0; i < a.Pixels.size(); ++i) {
          differing += (a.Pixels[i] & 0xFFFFFF) != (b.Pixels[i] & 0xFFFFFF);
          shows_background += (a.Pixels[i] & 0xFFFFFF) == background;
        }
        EXPECT_EQ(differing, 0);
        EXPECT_GT(shows_background, 0);  // a stock icon has transparent corners
        EXPECT_LT(shows_background, size * size);
      }
    }
    // Without a folder the module comes from the library search.
    auto bare = load(L"shell32.dll," + std::to_wstring(info.iIcon), 32);
    ASSERT_TRUE(bare);
    EXPECT_EQ(draw(bare.get(), white).Pixels, draw(load(location, 32).get(), white).Pixels);
  }
}

TEST(ShellHelpers, TablesLoadOnceWhileThreadsRace) {
  // Back to the unloaded state, then several threads make the first calls at the same time.
  sbe::Shutdown();
  sbe::Startup();
  const std::wstring ico = temp_file(L"race.ico", multi_ico());
  const std::wstring png =
      temp_file(L"race.png", make_png_rgba(64, 64, [](int x, int y) { return quadrant_pixel(x, y, 64); }));
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 25; ++i) {
        if (!sbe::IsThemingActive()) ++failures[t];
        SHSTOCKICONINFO info{};
        info.cbSize = sizeof(info);
        if (sbe::GetStockIconInfo(SIID_WARNING, 0, &info) != S_OK) ++failures[t];
        qor::unique_icon a(sbe::LoadIconFromLocation(t % 2 ? ico : png, 24, 24, 32));
        qor::unique_icon b(sbe::LoadIconFromLocation(resource_dll() + L",2", 16, 16, 32));
        if (!a || !b || sbe::GetIconSize(a.get()).cx != 24 || sbe::GetIconSize(b.get()).cx != 16) ++failures[t];
      }
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures, std::vector<int>(4, 0));
  expect_quadrants(load(png, 24).get(), 24);
}

TEST(ShellHelpers, PlatformQueries) {
  EXPECT_TRUE(sbe::IsWindowsVistaOrLater());
  EXPECT_TRUE(sbe::IsThemingActive());  // Wine's built-in light theme is on
  HWND window = ::CreateWindowExW(0, L"STATIC", L"dpi", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_TRUE(window);
  HDC dc = ::GetDC(nullptr);
  const int screen_dpi = ::GetDeviceCaps(dc, LOGPIXELSY);
  ::ReleaseDC(nullptr, dc);
  EXPECT_EQ(sbe::GetWindowDpi(window), static_cast<UINT>(screen_dpi));
  ::DestroyWindow(window);
  SHSTOCKICONINFO info{};
  info.cbSize = 12;  // too small: the shell refuses instead of writing past it
  EXPECT_NE(sbe::GetStockIconInfo(SIID_WARNING, 0, &info), S_OK);
}

// ---- Files that lie --------------------------------------------------------------------------

void poke32(bytes& AData, size_t AOffset, uint32_t AValue) {
  for (int i = 0; i < 4; ++i) AData[AOffset + i] = static_cast<uint8_t>(AValue >> (8 * i));
}
void poke32be(bytes& AData, size_t AOffset, uint32_t AValue) {
  for (int i = 0; i < 4; ++i) AData[AOffset + i] = static_cast<uint8_t>(AValue >> (24 - 8 * i));
}

bytes single_ico(const dib_image& AImage) {
  return make_ico({{AImage.Width, AImage.Height, AImage.BitCount, make_dib(AImage)}});
}

struct lying_file {
  const char* Name;
  bytes Data;
};

std::vector<lying_file> lying_files() {
  const bytes good = single_ico(sized_image(16));
  const size_t image = 6 + 16;  // the image follows the one directory entry
  auto with = [&](auto AChange) {
    bytes data = good;
    AChange(data);
    return data;
  };
  const bytes png = make_png_rgba(8, 8, [](int, int) { return argb(255, 1, 2, 3); });
  auto png_with = [&](auto AChange) {
    bytes data = png;
    AChange(data);
    return data;
  };
  std::vector<lying_file> files = {
      {"empty", {}},
      {"three bytes", {0, 0, 1}},
      {"reserved word", with([](bytes& d) { d[0] = 1; })},
      {"type 3", with([](bytes& d) { d[2] = 3; })},
      {"count 0", with([](bytes& d) { d[4] = 0; })},
      {"count beyond file", with([](bytes& d) { d[4] = 0xFF; d[5] = 0xFF; })},
      {"offset outside", with([](bytes& d) { poke32(d, 6 + 12, 0x7FFFFFF0); })},
      {"offset at end", with([](bytes& d) { poke32(d, 6 + 12, static_cast<uint32_t>(d.size() - 10)); })},
      {"width 0", with([&](bytes& d) { poke32(d, image + 4, 0); })},
      {"height 0", with([&](bytes& d) { poke32(d, image + 8, 0); })},
      {"height 1", with([&](bytes& d) { poke32(d, image + 8, 1); })},
      {"negative width", with([&](bytes& d) { poke32(d, image + 4, 0xFFFFFFF0); })},
      {"gigantic width", with([&](bytes& d) { poke32(d, image + 4, 0x7FFFFFFF); })},
      {"gigantic height", with([&](bytes& d) { poke32(d, image + 8, 0x7FFFFFFE); })},
      {"lowest height", with([&](bytes& d) { poke32(d, image + 8, 0x80000000); })},
      {"huge square", with([&](bytes& d) { poke32(d, image + 4, 60000); poke32(d, image + 8, 120000); })},
      // Large enough to be granted by GDI, so only the bound by the data stops it.
      {"large square", with([&](bytes& d) { poke32(d, image + 4, 4000); poke32(d, image + 8, 8000); })},
      {"bit count 7", with([&](bytes& d) { d[image + 14] = 7; })},
      {"bit count 0", with([&](bytes& d) { d[image + 14] = 0; })},
      {"compressed", with([&](bytes& d) { d[image + 16] = BI_RLE8; })},
      {"rows cut", with([](bytes& d) { d.resize(d.size() - 40); })},
      {"palette cut", [] {
         bytes d = single_ico(palette_image(16));
         d.resize(6 + 16 + 40 + 100);
         return d;
       }()},
      {"claims 8 bits, has 32", with([&](bytes& d) { d[image + 14] = 8; d.resize(6 + 16 + 40 + 600); })},
      {"png truncated", bytes(png.begin(), png.begin() + 12)},
      {"png zero size", png_with([](bytes& d) { poke32be(d, 16, 0); poke32be(d, 20, 0); })},
      {"png gigantic", png_with([](bytes& d) { poke32be(d, 16, 0x7FFFFFFF); poke32be(d, 20, 0x7FFFFFFF); })},
      {"png huge", png_with([](bytes& d) { poke32be(d, 16, 100000); poke32be(d, 20, 100000); })},
      {"png large", png_with([](bytes& d) { poke32be(d, 16, 5000); poke32be(d, 20, 5000); })},
      {"png chunk length", png_with([](bytes& d) { poke32be(d, 8, 0xFFFFFFF0); d[12] = 'a'; })},
      {"png data cut", bytes(png.begin(), png.end() - 30)},
  };
  bytes big_png = png_with([](bytes& d) { poke32be(d, 16, 30000); poke32be(d, 20, 30000); });
  files.push_back({"ico with lying png", make_ico({{0, 0, 32, big_png}})});
  bytes png_entry = make_ico({{0, 0, 32, png}, {16, 16, 32, make_dib(sized_image(16))}});
  poke32(png_entry, 6 + 12, static_cast<uint32_t>(png_entry.size() - 4));
  files.push_back({"png entry offset near end", png_entry});
  return files;
}

TEST(IconReader, FilesThatLieGiveZero) {
  for (const auto& file : lying_files()) {
    SCOPED_TRACE(file.Name);
    for (const wchar_t* extension : {L".ico", L".png"}) {
      const std::wstring path = temp_file(L"lie" + std::wstring(extension), file.Data);
      for (int size : {16, 32}) EXPECT_FALSE(load(path, size)) << "size " << size;
      EXPECT_FALSE(load(path + L",1", 0));
    }
  }
}

// The process counters under Wine do not show committed memory, so the bound is checked where
// it acts: a claimed size the data cannot hold is refused before any bitmap is made.
std::wstring refusal(HICON (*ALoad)(sbe::TMyMemoryStream&, int, int), const bytes& AData, size_t AOffset) {
  sbe::TMyMemoryStream stream(AData.data(), AData.size());
  stream.Seek(AOffset);
  try {
    qor::unique_icon icon(ALoad(stream, 32, 32));
    return icon ? L"loaded" : L"zero";
  } catch (const qor::EqorError& e) {
    return e.Message();
  }
}

TEST(IconReader, ClaimedSizesAreBoundedByTheData) {
  int checked = 0;
  for (const auto& file : lying_files()) {
    const std::string name = file.Name;
    SCOPED_TRACE(name);
    if (name == "large square" || name == "huge square" || name == "gigantic width" || name == "gigantic height") {
      EXPECT_EQ(refusal(sbe::LoadDibIcon, file.Data, 6 + 16), L"Icon image larger than its data");
      ++checked;
    } else if (name == "png large" || name == "png huge") {
      EXPECT_EQ(refusal(sbe::LoadPngIcon, file.Data, 0), L"PNG image larger than its data");
      ++checked;
    }
  }
  EXPECT_EQ(checked, 6);
}

TEST(IconReader, GoodBaseOfTheLyingFilesLoads) {
  // The lies above are single changes to files that load.
  const std::wstring ico = temp_file(L"good.ico", single_ico(sized_image(16)));
  EXPECT_TRUE(load(ico, 16));
  const std::wstring png = temp_file(L"good.png", make_png_rgba(8, 8, [](int, int) { return argb(255, 1, 2, 3); }));
  auto icon = load(png, 8);
  ASSERT_TRUE(icon);
  expect_opaque(icon.get(), 4, 4, rgb(1, 2, 3));
}

}  // namespace
