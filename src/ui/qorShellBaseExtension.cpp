#include "ui/qorShellBaseExtension.h"

#include <objbase.h>
#include <wincodec.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <initializer_list>
#include <memory>

#include "common/qorHandles.h"
#include "common/qorLocks.h"

namespace qor {

// ---- Accelerator letters -------------------------------------------------------------------

TqorShellAmpersands::TqorShellAmpersands() {
  FLetters.reserve(26);
  for (wchar_t c = L'A'; c <= L'Z'; ++c) FLetters.push_back({c, false});
}

std::wstring TqorShellAmpersands::DublicateAmpersands(const std::wstring& AText) {
  std::wstring result;
  result.reserve(AText.size() * 2);
  for (wchar_t c : AText) {
    result += c;
    if (c == L'&') result += L'&';
  }
  return result;
}

std::wstring TqorShellAmpersands::DeleteAmpersands(const std::wstring& AText) {
  std::wstring result;
  const size_t n = AText.size();
  for (size_t i = 0; i < n; ++i) {
    const wchar_t c = AText[i];
    if (c != L'&') {
      result += c;
    } else if (i + 1 < n && AText[i + 1] == L'&') {
      result += L'&';
      ++i;
    } else if (i + 1 == n) {
      result += c;  // a trailing ampersand marks nothing and stays visible
    }
  }
  return result;
}

wchar_t TqorShellAmpersands::ExtractAmpersandLetter(const std::wstring& AString) {
  const size_t n = AString.size();
  size_t i = 0;
  while (i < n) {
    if (AString[i] != L'&') {
      ++i;
    } else if (i + 1 >= n) {
      return 0;
    } else if (AString[i + 1] == L'&') {
      i += 2;
    } else {
      return AString[i + 1];
    }
  }
  return 0;
}

std::wstring TqorShellAmpersands::AddAmpersandIfAbsent(const std::wstring& AText) {
  if (ExtractAmpersandLetter(AText) != 0) return AText;
  std::wstring result = AText;
  for (size_t i = 0; i < result.size(); ++i) {
    if (::IsCharAlphaW(result[i])) {
      result.insert(i, 1, L'&');
      break;
    }
  }
  return result;
}

bool TqorShellAmpersands::IsAmpersandLetter(wchar_t ALetter) const {
  return std::any_of(FLetters.begin(), FLetters.end(),
                     [ALetter](const TqorShellAmpersandInfo& AInfo) { return AInfo.Letter == ALetter; });
}

bool TqorShellAmpersands::GetBusy(wchar_t ALetter) const {
  for (const auto& info : FLetters)
    if (info.Letter == ALetter) return info.Busy;
  return false;
}

void TqorShellAmpersands::SetBusy(wchar_t ALetter, bool ABusy) {
  for (auto& info : FLetters)
    if (info.Letter == ALetter) info.Busy = ABusy;
}

void TqorShellAmpersands::SetLetterBusyByString(const std::wstring& AString) {
  const wchar_t letter = ExtractAmpersandLetter(AString);
  if (letter != 0 && IsAmpersandLetter(letter)) SetBusy(letter, true);
}

void TqorShellAmpersands::FindAndSetLetterBusyByString(std::wstring& AString) {
  for (size_t i = 0; i < AString.size(); ++i) {
    wchar_t upper[2] = {AString[i], 0};
    ::CharUpperBuffW(upper, 1);  // the user's locale decides what the upper case is
    if (IsAmpersandLetter(upper[0]) && !GetBusy(upper[0])) {
      SetBusy(upper[0], true);
      AString.insert(i, 1, L'&');
      return;
    }
  }
}

namespace ShellBaseExtension {

// ---- Positioned reader ---------------------------------------------------------------------

namespace {
[[noreturn]] void raise_truncated() { throw EqorError(L"Unexpected end of image data", ERROR_INVALID_DATA); }
}  // namespace

void TMyMemoryStream::Seek(size_t APosition) {
  if (APosition > FSize) raise_truncated();
  FPosition = APosition;
}

void TMyMemoryStream::Skip(size_t ACount) {
  if (ACount > Remaining()) raise_truncated();
  FPosition += ACount;
}

void TMyMemoryStream::Read(void* ABuffer, size_t ACount) {
  if (ACount > Remaining()) raise_truncated();
  std::memcpy(ABuffer, FData + FPosition, ACount);
  FPosition += ACount;
}

// ---- Unit state and function tables --------------------------------------------------------

namespace {

struct proc_name {
  const char* Name;
  WORD Ordinal;  // tried when the name is not exported; 0 for none
};

// One system library's newer functions, resolved by name once, on first use, under the unit lock.
class function_table {
 public:
  function_table(const wchar_t* ALibrary, std::initializer_list<proc_name> AProcs)
      : FLibrary(ALibrary), FNames(AProcs), FProcs(FNames.size(), nullptr) {}

  FARPROC get(size_t AIndex);
  void unload() noexcept {
    FModule.reset();
    std::fill(FProcs.begin(), FProcs.end(), nullptr);
    FLoaded = false;
  }

 private:
  const wchar_t* FLibrary;
  std::vector<proc_name> FNames;
  std::vector<FARPROC> FProcs;
  bool FLoaded = false;
  unique_module FModule;
};

critical_section GTablesLock;

FARPROC function_table::get(size_t AIndex) {
  lock_guard<critical_section> guard(GTablesLock);
  if (!FLoaded) {
    FLoaded = true;
    // A missing library must not make the system ask the user for a disk.
    const UINT previous = ::SetErrorMode(SEM_NOOPENFILEERRORBOX);
    FModule.reset(::LoadLibraryW(FLibrary));
    ::SetErrorMode(previous);
    if (FModule) {
      for (size_t i = 0; i < FNames.size(); ++i) {
        FARPROC proc = nullptr;
        if (FNames[i].Name) proc = ::GetProcAddress(FModule.get(), FNames[i].Name);
        if (!proc && FNames[i].Ordinal)
          proc = ::GetProcAddress(FModule.get(), MAKEINTRESOURCEA(FNames[i].Ordinal));
        FProcs[i] = proc;
      }
    }
  }
  return FProcs[AIndex];
}

enum shell32_proc : size_t { sh_SHGetStockIconInfo = 27 };
function_table GShell32(L"shell32.dll",
                        {{"ILClone", 18},
                         {"ILCombine", 25},
                         {"ILFindChild", 24},
                         {"ILFindLastID", 16},
                         {"ILFree", 155},
                         {"ILIsParent", 23},
                         {"ILRemoveLastID", 17},
                         {"AssocCreateForClasses", 0},
                         {nullptr, 660},  // FileIconInit
                         {"OpenAs_RunDLLW", 0},
                         {"Shell_GetCachedImageIndexW", 0},
                         {"SHAssocEnumHandlers", 0},
                         {"SHBindToParent", 0},
                         {"SHCreateAssociationRegistration", 0},
                         {"SHCreateItemFromIDList", 0},
                         {"SHCreateItemFromParsingName", 0},
                         {"SHCreateItemWithParent", 0},
                         {"SHCreateShellItem", 0},
                         {"SHCreateShellFolderView", 256},
                         {"SHCreateShellItemArrayFromDataObject", 0},
                         {"SHGetAssocKeys", 777},
                         {"SHGetFolderLocation", 0},
                         {"SHGetFolderPathW", 0},
                         {"SHGetIDListFromObject", 0},
                         {"SHGetImageList", 727},
                         {"SHGetKnownFolderIDList", 0},
                         {"SHGetKnownFolderPath", 0},
                         {"SHGetStockIconInfo", 0},
                         {"SHLoadInProc", 0},
                         {"SHOpenWithDialog", 0},
                         {"CDefFolderMenu_Create2", 701}});

enum user32_proc : size_t { us_GetDpiForWindow = 4 };
function_table GUser32(L"user32.dll", {{"SetThreadDpiAwarenessContext", 0},
                                       {"GetThreadDpiAwarenessContext", 0},
                                       {"GetAwarenessFromDpiAwarenessContext", 0},
                                       {"AreDpiAwarenessContextsEqual", 0},
                                       {"GetDpiForWindow", 0},
                                       {"GetDpiForSystem", 0},
                                       {"GetSystemMetricsForDpi", 0}});

enum uxtheme_proc : size_t { ux_IsAppThemed = 0, ux_IsThemeActive = 1 };
function_table GUxTheme(L"uxtheme.dll", {{"IsAppThemed", 0}, {"IsThemeActive", 0}});

// The class-object entry serves threads on which the caller never initialised COM.
enum codecs_proc : size_t { wic_ConvertBitmapSource = 0, wic_DllGetClassObject = 1 };
function_table GCodecs(L"windowscodecs.dll", {{"WICConvertBitmapSource", 0}, {"DllGetClassObject", 0}});

function_table* const GTables[] = {&GShell32, &GUser32, &GUxTheme, &GCodecs};

template <class Fn>
Fn table_proc(function_table& ATable, size_t AIndex) {
  return reinterpret_cast<Fn>(ATable.get(AIndex));
}

DWORD GMajorVersion = 5, GMinorVersion = 1, GBuildNumber = 2600;

void read_os_version() noexcept {
  using rtl_get_version = LONG(WINAPI*)(OSVERSIONINFOW*);
  GMajorVersion = 5;
  GMinorVersion = 1;
  GBuildNumber = 2600;
  auto get_version = reinterpret_cast<rtl_get_version>(
      ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion"));
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof(info);
  static_assert(sizeof(OSVERSIONINFOW) == 276, "OSVERSIONINFOW layout");
  if (get_version && get_version(&info) == 0) {
    GMajorVersion = info.dwMajorVersion;
    GMinorVersion = info.dwMinorVersion;
    GBuildNumber = info.dwBuildNumber;
  }
}

struct version_reader {
  version_reader() noexcept { read_os_version(); }
} GVersionAtLoad;  // unit tests link the unit without the module's start-up

}  // namespace

void Startup() noexcept {
  read_os_version();
  for (function_table* table : GTables) table->unload();
}

void Shutdown() noexcept {
  lock_guard<critical_section> guard(GTablesLock);
  for (function_table* table : GTables) table->unload();
}

// ---- Shell and theme queries ---------------------------------------------------------------

UINT GetWindowDpi(HWND AWnd) noexcept {
  using get_dpi_for_window = UINT(WINAPI*)(HWND);
  if (auto get_dpi = table_proc<get_dpi_for_window>(GUser32, us_GetDpiForWindow)) return get_dpi(AWnd);
  unique_window_dc dc(AWnd);
  if (!dc.get()) return 96;
  return static_cast<UINT>(::GetDeviceCaps(dc.get(), LOGPIXELSY));
}

bool IsThemingActive() noexcept {
  using theme_query = BOOL(WINAPI*)();
  auto is_app_themed = table_proc<theme_query>(GUxTheme, ux_IsAppThemed);
  auto is_theme_active = table_proc<theme_query>(GUxTheme, ux_IsThemeActive);
  if (!is_app_themed || !is_theme_active) return false;
  return is_app_themed() && is_theme_active();
}

HRESULT GetStockIconInfo(SHSTOCKICONID AStockIconId, UINT AFlags, SHSTOCKICONINFO* AInfo) noexcept {
  using get_stock_icon_info = HRESULT(WINAPI*)(SHSTOCKICONID, UINT, SHSTOCKICONINFO*);
  auto get_info = table_proc<get_stock_icon_info>(GShell32, sh_SHGetStockIconInfo);
  if (!get_info) return E_NOTIMPL;
  return get_info(AStockIconId, AFlags, AInfo);
}

bool IsWindowsVistaOrLater() noexcept { return GMajorVersion > 5; }

// ---- Errors and bitmaps --------------------------------------------------------------------

namespace {

[[noreturn]] void raise_out_of_resources() {
  const DWORD code = ::GetLastError();
  std::wstring text;
  if (code != 0) {
    wchar_t buffer[256];
    const DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                         0x400, buffer, 256, nullptr);
    text.assign(buffer, std::min<DWORD>(length, 256));
    while (!text.empty() && std::iswspace(text.back())) text.pop_back();
  }
  if (text.empty()) text = L"OutOfResources";
  throw EOutOfResources(text, code);
}

template <class T>
T check_handle(T AHandle) {
  if (!AHandle) raise_out_of_resources();
  return AHandle;
}

void check_bool(BOOL AResult) {
  if (!AResult) raise_out_of_resources();
}

void check_hr(HRESULT AResult) {
  if (FAILED(AResult)) throw EqorError(SystemErrorMessage(static_cast<DWORD>(AResult)), static_cast<DWORD>(AResult));
}

[[noreturn]] void raise_not_supported() { throw EqorError(L"Not supported yet"); }

using unique_bitmap = unique_gdi<HBITMAP>;

// The bitmaps GetIconInfo hands out belong to the caller: each is deleted once.
struct icon_bitmaps {
  ICONINFO Info{};
  explicit icon_bitmaps(HICON AIcon) { check_bool(::GetIconInfo(AIcon, &Info)); }
  ~icon_bitmaps() {
    if (Info.hbmColor) ::DeleteObject(Info.hbmColor);
    if (Info.hbmMask) ::DeleteObject(Info.hbmMask);
  }
  icon_bitmaps(const icon_bitmaps&) = delete;
  icon_bitmaps& operator=(const icon_bitmaps&) = delete;
};

int64_t scan_line_bytes(int64_t AWidth, int ABitCount) noexcept {
  const int64_t bits = ABitCount == 15 ? 16 : ABitCount;
  return ((AWidth * bits + 31) & ~int64_t{31}) / 8;
}

int palette_entries(int ABitCount) noexcept {
  return ABitCount >= 1 && ABitCount <= 8 ? 1 << ABitCount : 0;
}

// BITMAPINFO with room for the largest palette.
struct bitmap_info {
  BITMAPINFOHEADER Header;
  RGBQUAD Colors[256];
};

void fill_dib_header(bitmap_info& AInfo, int AWidth, int AHeight, int ABitCount) {
  std::memset(&AInfo, 0, sizeof(AInfo));
  AInfo.Header.biSize = sizeof(BITMAPINFOHEADER);
  AInfo.Header.biWidth = AWidth;
  AInfo.Header.biHeight = -AHeight;  // top-down
  AInfo.Header.biPlanes = 1;
  AInfo.Header.biBitCount = static_cast<WORD>(ABitCount);
  AInfo.Header.biCompression = BI_RGB;
  AInfo.Header.biSizeImage = static_cast<DWORD>(scan_line_bytes(AWidth, ABitCount) * AHeight);
  AInfo.Header.biClrUsed = static_cast<DWORD>(palette_entries(ABitCount));
  AInfo.Colors[1] = RGBQUAD{255, 255, 255, 0};
}

// A bitmap's pixels, top-down, with its palette.
struct dib_pixels {
  int Width = 0;
  int Height = 0;
  int BitCount = 0;
  size_t Stride = 0;
  std::vector<RGBQUAD> Palette;
  std::vector<uint8_t> Bits;
  uint8_t* Row(int AY) { return Bits.data() + Stride * static_cast<size_t>(AY); }
  const uint8_t* Row(int AY) const { return Bits.data() + Stride * static_cast<size_t>(AY); }
};

dib_pixels read_bitmap(HBITMAP ABitmap) {
  BITMAP bm{};
  check_bool(::GetObjectW(ABitmap, sizeof(bm), &bm) != 0);
  dib_pixels result;
  result.Width = bm.bmWidth;
  result.Height = bm.bmHeight;
  result.BitCount = bm.bmBitsPixel * bm.bmPlanes;
  if (result.BitCount == 15) result.BitCount = 16;
  if (result.Width <= 0 || result.Height <= 0) raise_not_supported();
  bitmap_info info;
  fill_dib_header(info, result.Width, result.Height, result.BitCount);
  result.Stride = static_cast<size_t>(scan_line_bytes(result.Width, result.BitCount));
  result.Bits.resize(result.Stride * static_cast<size_t>(result.Height));
  unique_window_dc dc(nullptr);
  check_handle(dc.get());
  check_bool(::GetDIBits(dc.get(), ABitmap, 0, static_cast<UINT>(result.Height), result.Bits.data(),
                         reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS) == result.Height);
  result.Palette.assign(info.Colors, info.Colors + palette_entries(result.BitCount));
  return result;
}

// A top-down DIB section; ABits receives its pixel memory.
HBITMAP create_dib(int AWidth, int AHeight, int ABitCount, const RGBQUAD* APalette, size_t APaletteSize,
                   uint8_t** ABits) {
  bitmap_info info;
  fill_dib_header(info, AWidth, AHeight, ABitCount);
  if (APalette) std::copy(APalette, APalette + std::min<size_t>(APaletteSize, 256), info.Colors);
  void* bits = nullptr;
  HBITMAP bitmap = check_handle(::CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&info),
                                                   DIB_RGB_COLORS, &bits, nullptr, 0));
  *ABits = static_cast<uint8_t*>(bits);
  return bitmap;
}

HBITMAP create_mask(int AWidth, int AHeight, uint8_t** ABits) {
  static const RGBQUAD black_white[2] = {{0, 0, 0, 0}, {255, 255, 255, 0}};
  return create_dib(AWidth, AHeight, 1, black_white, 2, ABits);
}

uint32_t ReadPixel(const uint8_t* ARow, int AX, int ABitCount, const std::vector<RGBQUAD>& APalette) {
  auto from_palette = [&APalette](unsigned AIndex) -> uint32_t {
    if (AIndex >= APalette.size()) return 0xFF000000u;
    const RGBQUAD& q = APalette[AIndex];
    return 0xFF000000u | (uint32_t{q.rgbRed} << 16) | (uint32_t{q.rgbGreen} << 8) | q.rgbBlue;
  };
  switch (ABitCount) {
    case 1:
      return from_palette((ARow[AX / 8] >> (7 - AX % 8)) & 1);
    case 4:
      return from_palette((ARow[AX / 2] >> (AX % 2 ? 0 : 4)) & 0x0F);
    case 8:
      return from_palette(ARow[AX]);
    case 15:
    case 16: {
      const unsigned v = ARow[AX * 2] | (ARow[AX * 2 + 1] << 8);
      return 0xFF000000u | (((v >> 10) & 31) * 8) << 16 | (((v >> 5) & 31) * 8) << 8 | (v & 31) * 8;
    }
    case 24: {
      const uint8_t* p = ARow + AX * 3;
      return 0xFF000000u | (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
    }
    case 32: {
      const uint8_t* p = ARow + AX * 4;
      return (uint32_t{p[3]} << 24) | (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
    }
    default:
      raise_not_supported();
  }
}

bool get_bit(const uint8_t* ARow, int AX) { return (ARow[AX / 8] >> (7 - AX % 8)) & 1; }
void set_bit(uint8_t* ARow, int AX, bool AValue) {
  const uint8_t bit = static_cast<uint8_t>(0x80 >> (AX % 8));
  if (AValue)
    ARow[AX / 8] |= bit;
  else
    ARow[AX / 8] &= static_cast<uint8_t>(~bit);
}

HBITMAP BitmapToMonochrome(HBITMAP ABitmap) {
  const dib_pixels source = read_bitmap(ABitmap);
  uint8_t* bits = nullptr;
  unique_bitmap mono(create_mask(source.Width, source.Height, &bits));
  const size_t stride = static_cast<size_t>(scan_line_bytes(source.Width, 1));
  for (int y = 0; y < source.Height; ++y)
    for (int x = 0; x < source.Width; ++x) {
      const uint32_t p = ReadPixel(source.Row(y), x, source.BitCount, source.Palette);
      const double luminance =
          0.2126 * ((p >> 16) & 0xFF) + 0.7152 * ((p >> 8) & 0xFF) + 0.0722 * (p & 0xFF);
      set_bit(bits + stride * y, x, luminance > 127);
    }
  return mono.release();
}

bool BitmapHasAlpha(HBITMAP ABitmap) {
  const dib_pixels pixels = read_bitmap(ABitmap);
  if (pixels.BitCount < 32) return false;
  for (int y = 0; y < pixels.Height; ++y)
    for (int x = 0; x < pixels.Width; ++x)
      if (pixels.Row(y)[x * 4 + 3] != 0) return true;
  return false;
}

// A 32-bit colour bitmap whose alpha comes from the mask: transparent where the mask bit is set.
HBITMAP MaskToAlpha(HBITMAP AColor, HBITMAP AMask) {
  const dib_pixels color = read_bitmap(AColor);
  const dib_pixels mask = read_bitmap(AMask);
  if (mask.BitCount != 1) throw EqorError(L"Monochrome bitmap expected");
  uint8_t* bits = nullptr;
  unique_bitmap result(create_dib(color.Width, color.Height, 32, nullptr, 0, &bits));
  std::memcpy(bits, color.Bits.data(), color.Bits.size());
  for (int y = 0; y < color.Height; ++y) {
    uint8_t* row = bits + color.Stride * y;
    for (int x = 0; x < color.Width; ++x) {
      const bool transparent = y < mask.Height && x < mask.Width && get_bit(mask.Row(y), x);
      if (transparent)
        std::memset(row + x * 4, 0, 4);
      else
        row[x * 4 + 3] = 255;
    }
  }
  return result.release();
}

HICON create_icon(const ICONINFO& AShape, HBITMAP AColor, HBITMAP AMask) {
  ICONINFO info{};
  info.fIcon = AShape.fIcon;
  info.xHotspot = AShape.xHotspot;
  info.yHotspot = AShape.yHotspot;
  info.hbmColor = AColor;
  info.hbmMask = AMask;
  return check_handle(::CreateIconIndirect(&info));
}

// The lower and upper half of a monochrome icon's double-height mask as separate bitmaps.
HBITMAP copy_mask_half(const dib_pixels& AMask, int AFirstRow, int AHeight) {
  uint8_t* bits = nullptr;
  unique_bitmap half(create_mask(AMask.Width, AHeight, &bits));
  for (int y = 0; y < AHeight; ++y) std::memcpy(bits + AMask.Stride * y, AMask.Row(AFirstRow + y), AMask.Stride);
  return half.release();
}

HICON ResizeIconBitmaps(HICON AIcon, int AWidth, int AHeight) {
  icon_bitmaps source(AIcon);
  unique_bitmap color, mask;
  if (source.Info.hbmColor) {
    color.reset(ResizeBitmap(source.Info.hbmColor, AWidth, AHeight));
    mask.reset(ResizeBitmap(source.Info.hbmMask, AWidth, AHeight));
    BITMAP bm{};
    check_bool(::GetObjectW(mask.get(), sizeof(bm), &bm) != 0);
    if (bm.bmBitsPixel != 1) mask.reset(BitmapToMonochrome(mask.get()));
  } else {
    const dib_pixels both = read_bitmap(source.Info.hbmMask);
    if (both.BitCount != 1) throw EqorError(L"Monochrome bitmap expected");
    const int half = both.Height / 2;
    if (half <= 0) raise_not_supported();
    unique_bitmap and_mask(copy_mask_half(both, 0, half));
    unique_bitmap xor_image(copy_mask_half(both, half, half));
    mask.reset(ResizeBitmap(and_mask.get(), AWidth, AHeight));
    color.reset(ResizeBitmap(xor_image.get(), AWidth, AHeight));
  }
  return create_icon(source.Info, color.get(), mask.get());
}

}  // namespace

int BytesPerScanLine(int AWidth, int ABitCount) noexcept {
  return static_cast<int>(scan_line_bytes(AWidth, ABitCount));
}

SIZE GetIconSize(HICON AIcon) {
  icon_bitmaps icon(AIcon);
  if (!icon.Info.hbmMask) raise_out_of_resources();
  BITMAP bm{};
  if (icon.Info.hbmColor) {
    check_bool(::GetObjectW(icon.Info.hbmColor, sizeof(bm), &bm) != 0);
    return SIZE{bm.bmWidth, bm.bmHeight};
  }
  check_bool(::GetObjectW(icon.Info.hbmMask, sizeof(bm), &bm) != 0);
  return SIZE{bm.bmWidth, bm.bmHeight / 2};
}

HBITMAP ResizeBitmap(HBITMAP ABitmap, int AWidth, int AHeight) {
  if (AWidth <= 0 || AHeight <= 0) raise_not_supported();
  const dib_pixels source = read_bitmap(ABitmap);
  uint8_t* bits = nullptr;
  unique_bitmap target(create_dib(AWidth, AHeight, source.BitCount, source.Palette.data(),
                                  source.Palette.size(), &bits));
  const size_t stride = static_cast<size_t>(scan_line_bytes(AWidth, source.BitCount));
  const int pixel_bytes = source.BitCount / 8;
  for (int y = 0; y < AHeight; ++y) {
    const int sy = static_cast<int>(int64_t{y} * source.Height / AHeight);
    const uint8_t* from = source.Row(sy);
    uint8_t* to = bits + stride * y;
    for (int x = 0; x < AWidth; ++x) {
      const int sx = static_cast<int>(int64_t{x} * source.Width / AWidth);
      if (source.BitCount < 8) {
        // Pixels narrower than a byte move bit by bit, most significant first.
        for (int b = 0; b < source.BitCount; ++b) {
          const int64_t src_bit = int64_t{sx} * source.BitCount + b;
          const int64_t dst_bit = int64_t{x} * source.BitCount + b;
          const bool on = (from[src_bit / 8] >> (7 - src_bit % 8)) & 1;
          set_bit(to, static_cast<int>(dst_bit), on);
        }
      } else {
        std::memcpy(to + static_cast<size_t>(x) * pixel_bytes, from + static_cast<size_t>(sx) * pixel_bytes,
                    pixel_bytes);
      }
    }
  }
  return target.release();
}

HICON ResizeIcon(HICON AIcon, int AWidth, int AHeight) {
  const SIZE size = GetIconSize(AIcon);
  if (size.cx == AWidth && size.cy == AHeight) return check_handle(::CopyIcon(AIcon));
  icon_bitmaps icon(AIcon);
  if (!icon.Info.hbmMask) raise_out_of_resources();
  int bit_count = 1;
  if (icon.Info.hbmColor) {
    BITMAP bm{};
    check_bool(::GetObjectW(icon.Info.hbmColor, sizeof(bm), &bm) != 0);
    bit_count = bm.bmBitsPixel * bm.bmPlanes;
  }
  if (bit_count == 32 && !BitmapHasAlpha(icon.Info.hbmColor)) {
    // Without alpha the resampled icon would lose its transparent areas: move the mask into alpha.
    unique_bitmap with_alpha(MaskToAlpha(icon.Info.hbmColor, icon.Info.hbmMask));
    unique_icon temporary(create_icon(icon.Info, with_alpha.get(), icon.Info.hbmMask));
    return ResizeIconBitmaps(temporary.get(), AWidth, AHeight);
  }
  return ResizeIconBitmaps(AIcon, AWidth, AHeight);
}

// ---- Icon reader ---------------------------------------------------------------------------

namespace {

template <class T>
class com_ptr {
 public:
  com_ptr() = default;
  ~com_ptr() { reset(); }
  com_ptr(const com_ptr&) = delete;
  com_ptr& operator=(const com_ptr&) = delete;
  T* get() const noexcept { return FPtr; }
  T* operator->() const noexcept { return FPtr; }
  T** out() noexcept {
    reset();
    return &FPtr;
  }
  void reset() noexcept {
    if (FPtr) FPtr->Release();
    FPtr = nullptr;
  }

 private:
  T* FPtr = nullptr;
};

const uint8_t png_signature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
const CLSID clsid_wic_imaging_factory = {0xCACAF262, 0x9370, 0x4615, {0xA1, 0x3B, 0x9F, 0x55, 0x39, 0xDA, 0x4C, 0x0A}};
const GUID wic_pixel_format_32bpp_bgra = {0x6fddc324, 0x4e03, 0x4bfe, {0xb1, 0x85, 0x3d, 0x77, 0x76, 0x8d, 0xc9, 0x0f}};
const IID iid_class_factory = {0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// No icon image is worth more than this; larger claims are lies or attacks.
constexpr uint64_t max_icon_pixel_bytes = 64ull << 20;
// Files beyond this are not read into memory as icon or PNG files.
constexpr int64_t max_icon_file_size = 64ll << 20;
// Deflate cannot expand more than about 1032:1, and a 1-bit image packs 8 pixels per byte.
constexpr uint64_t max_png_pixels_per_byte = 8 * 1032;

bool starts_with_png(const TMyMemoryStream& AStream) {
  return AStream.Remaining() >= 8 && std::memcmp(AStream.Current(), png_signature, 8) == 0;
}

using wic_convert_bitmap_source = HRESULT(WINAPI*)(REFWICPixelFormatGUID, IWICBitmapSource*, IWICBitmapSource**);
using dll_get_class_object = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);

void CreateWicFactory(com_ptr<IWICImagingFactory>& AFactory) {
  if (!table_proc<wic_convert_bitmap_source>(GCodecs, wic_ConvertBitmapSource)) check_hr(E_NOTIMPL);
  HRESULT hr = ::CoCreateInstance(clsid_wic_imaging_factory, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                  __uuidof(IWICImagingFactory), reinterpret_cast<void**>(AFactory.out()));
  if (hr == CO_E_NOTINITIALIZED) {
    // A background thread of the file manager may have no COM: ask the codec library directly.
    auto get_class_object = table_proc<dll_get_class_object>(GCodecs, wic_DllGetClassObject);
    if (!get_class_object) check_hr(hr);
    com_ptr<IClassFactory> factory;
    check_hr(get_class_object(clsid_wic_imaging_factory, iid_class_factory, reinterpret_cast<void**>(factory.out())));
    hr = factory->CreateInstance(nullptr, __uuidof(IWICImagingFactory), reinterpret_cast<void**>(AFactory.out()));
  }
  check_hr(hr);
}

uint32_t big_endian32(const uint8_t* AData) {
  return (uint32_t{AData[0]} << 24) | (uint32_t{AData[1]} << 16) | (uint32_t{AData[2]} << 8) | AData[3];
}

// An image's claimed size must fit both the hard limit and what its data can hold.
bool png_size_plausible(uint32_t AWidth, uint32_t AHeight, size_t ADataSize) {
  if (AWidth == 0 || AHeight == 0 || AWidth > 0x7FFFFFFF || AHeight > 0x7FFFFFFF) return false;
  const uint64_t pixels = uint64_t{AWidth} * AHeight;
  return pixels * 4 <= max_icon_pixel_bytes && pixels <= max_png_pixels_per_byte * ADataSize + 65536;
}

// A measured image: PNG or DIB, with its size and bit count.
TIconSize measure_image(TMyMemoryStream& AStream, bool& AFactoryChecked, bool& AFactoryOk) {
  if (starts_with_png(AStream)) {
    if (!AFactoryChecked) {
      AFactoryChecked = true;
      try {
        com_ptr<IWICImagingFactory> factory;
        CreateWicFactory(factory);
        AFactoryOk = true;
      } catch (const EqorError&) {
        AFactoryOk = false;
      }
    }
    if (!AFactoryOk) return TIconSize{{0, 0}, 0};
    TqorPngDim dim;
    ReadPngDim(AStream, dim);
    return TIconSize{dim.Size, dim.BitDepth + dim.Alpha};
  }
  BITMAPINFOHEADER header;
  AStream.Read(&header, sizeof(header));
  const int32_t height = header.biHeight == INT32_MIN ? INT32_MAX : std::abs(header.biHeight);
  return TIconSize{{header.biWidth, height / 2}, header.biBitCount == 15 ? 16 : header.biBitCount};
}

HICON load_image(TMyMemoryStream& AStream, int AWidth, int AHeight) {
  return starts_with_png(AStream) ? LoadPngIcon(AStream, AWidth, AHeight) : LoadDibIcon(AStream, AWidth, AHeight);
}

HICON resize_if_needed(unique_icon AIcon, int AImageWidth, int AImageHeight, int AWidth, int AHeight) {
  if (AWidth == 0 || AHeight == 0 || (AImageWidth == AWidth && AImageHeight == AHeight)) return AIcon.release();
  return ResizeIcon(AIcon.get(), AWidth, AHeight);
}

struct TEnumResNameProcRec {
  std::wstring Name0;
  LPCWSTR Name = nullptr;
};

BOOL CALLBACK first_group_name(HMODULE, LPCWSTR, LPWSTR AName, LONG_PTR AParam) {
  auto* rec = reinterpret_cast<TEnumResNameProcRec*>(AParam);
  if (IS_INTRESOURCE(AName)) {
    rec->Name = AName;
  } else {
    rec->Name0 = AName;
    rec->Name = rec->Name0.c_str();
  }
  return FALSE;  // the first group is all we want
}

TMyMemoryStream lock_resource(HMODULE AModule, HRSRC AResource) {
  HGLOBAL data = check_handle(::LoadResource(AModule, AResource));
  const void* memory = check_handle(::LockResource(data));
  return TMyMemoryStream(memory, ::SizeofResource(AModule, AResource));
}

HICON LoadIconFromGroup(HMODULE AModule, LPCWSTR AName, int AWidth, int AHeight, int ABitCount) {
  HRSRC group = ::FindResourceW(AModule, AName, MAKEINTRESOURCEW(14));
  if (!group) return nullptr;
  TMyMemoryStream directory = lock_resource(AModule, group);
  WORD header[3];
  directory.Read(header, sizeof(header));
  const WORD count = header[2];
  if (count == 0) return nullptr;
  std::vector<TMyMemoryStream> images;
  TIconSizes sizes;
  bool factory_checked = false, factory_ok = false;
  for (WORD i = 0; i < count; ++i) {
    uint8_t entry[14];
    directory.Read(entry, sizeof(entry));
    const WORD id = static_cast<WORD>(entry[12] | (entry[13] << 8));
    HRSRC image = ::FindResourceW(AModule, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(3));
    if (!image) RaiseLastOSError();
    images.push_back(lock_resource(AModule, image));
    TMyMemoryStream probe = images.back();
    sizes.push_back(measure_image(probe, factory_checked, factory_ok));
  }
  TMyMemoryStream& chosen = images[SelectIconIndex(AWidth, AHeight, ABitCount, sizes)];
  return load_image(chosen, AWidth, AHeight);
}

bool has_folder_part(const std::wstring& APath) {
  return APath.find_first_of(L"\\/:") != std::wstring::npos;
}

// "-98" and " 7 " are numbers; anything else reads as 0, as does a number beyond 32 bits.
int parse_icon_number(const std::wstring& AText) {
  const size_t first = AText.find_first_not_of(L" \t");
  if (first == std::wstring::npos) return 0;
  const size_t last = AText.find_last_not_of(L" \t");
  const std::wstring text = AText.substr(first, last - first + 1);
  wchar_t* end = nullptr;
  errno = 0;
  const long long value = std::wcstoll(text.c_str(), &end, 10);
  if (errno != 0 || end == text.c_str() || *end != 0 || value <= INT32_MIN || value > INT32_MAX) return 0;
  return static_cast<int>(value < 0 ? -value : value);
}

std::wstring expand_environment(const std::wstring& AText) {
  const DWORD needed = ::ExpandEnvironmentStringsW(AText.c_str(), nullptr, 0);
  if (needed <= 1) return AText;
  std::wstring result(needed, L'\0');
  const DWORD written = ::ExpandEnvironmentStringsW(AText.c_str(), &result[0], needed);
  if (written == 0 || written > needed) return AText;
  result.resize(written - 1);
  return result;
}

}  // namespace

void ReadPngDim(TMyMemoryStream& AStream, TqorPngDim& ADim) {
  ADim = TqorPngDim{};
  AStream.Skip(8);
  for (;;) {
    uint8_t chunk[8];
    AStream.Read(chunk, sizeof(chunk));
    const uint32_t length = big_endian32(chunk);
    if (std::memcmp(chunk + 4, "IHDR", 4) == 0) {
      uint8_t ihdr[10];
      AStream.Read(ihdr, sizeof(ihdr));
      ADim.Size.cx = static_cast<LONG>(big_endian32(ihdr));
      ADim.Size.cy = static_cast<LONG>(big_endian32(ihdr + 4));
      const int depth = ihdr[8];
      switch (ihdr[9]) {
        case 0:
        case 3:
          ADim.BitDepth = depth;
          break;
        case 2:
          ADim.BitDepth = 3 * depth;
          break;
        case 4:
          ADim.BitDepth = depth;
          ADim.Alpha = depth;
          break;
        case 6:
          ADim.BitDepth = 3 * depth;
          ADim.Alpha = depth;
          break;
        default:
          break;
      }
      return;
    }
    if (std::memcmp(chunk + 4, "IEND", 4) == 0) return;
    if (uint64_t{length} + 4 > AStream.Remaining()) raise_truncated();
    AStream.Skip(size_t{length} + 4);
  }
}

size_t SelectIconIndex(int AWidth, int AHeight, int ABitCount, const TIconSizes& ASizes) {
  std::vector<size_t> candidates;
  for (size_t i = 0; i < ASizes.size(); ++i) candidates.push_back(i);
  if (candidates.empty()) throw EqorError(L"Icon group without images", ERROR_INVALID_DATA);
  auto bit_count = [&ASizes](size_t AIndex) { return ASizes[AIndex].BitCount; };
  auto drop_if = [&candidates](auto APredicate) {
    candidates.erase(std::remove_if(candidates.begin(), candidates.end(), APredicate), candidates.end());
  };
  auto max_bc = [&]() {
    int result = INT32_MIN;
    for (size_t i : candidates) result = std::max(result, bit_count(i));
    return result;
  };
  int min_bc = INT32_MAX;
  for (size_t i : candidates) min_bc = std::min(min_bc, bit_count(i));
  const int deepest = max_bc();
  if (deepest < ABitCount) {
    drop_if([&](size_t i) { return bit_count(i) < deepest; });
  } else if (ABitCount < min_bc) {
    drop_if([&](size_t i) { return bit_count(i) > min_bc; });
  } else {
    drop_if([&](size_t i) { return bit_count(i) > ABitCount; });
    const int best = max_bc();
    drop_if([&](size_t i) { return bit_count(i) < best; });
  }
  auto area = [&ASizes](size_t AIndex) {
    return int64_t{ASizes[AIndex].Size.cx} * ASizes[AIndex].Size.cy;
  };
  // Exchange sort: neighbours swap only when the later one is strictly smaller, so ties keep order.
  for (size_t pass = 0; pass < candidates.size(); ++pass)
    for (size_t j = 0; j + 1 < candidates.size(); ++j)
      if (area(candidates[j + 1]) < area(candidates[j])) std::swap(candidates[j], candidates[j + 1]);
  for (size_t i : candidates)
    if (ASizes[i].Size.cx >= AWidth && ASizes[i].Size.cy >= AHeight) return i;
  return candidates.back();
}

HICON LoadDibIcon(TMyMemoryStream& AStream, int AWidth, int AHeight) {
  BITMAPINFOHEADER header;
  AStream.Read(&header, sizeof(header));
  int bit_count = header.biBitCount == 15 ? 16 : header.biBitCount;
  if (bit_count != 1 && bit_count != 4 && bit_count != 8 && bit_count != 16 && bit_count != 24 && bit_count != 32)
    raise_not_supported();
  if (header.biCompression != BI_RGB) raise_not_supported();  // the rows below are read as plain pixels
  RGBQUAD palette[256];
  const int colors = palette_entries(bit_count);
  AStream.Read(palette, sizeof(RGBQUAD) * colors);
  const int width = header.biWidth;
  const int height = header.biHeight == INT32_MIN ? 0 : std::abs(header.biHeight) / 2;
  if (width <= 0 || height <= 0) throw EqorError(L"Invalid icon image size", ERROR_INVALID_DATA);
  const int64_t color_stride = scan_line_bytes(width, bit_count);
  const int64_t mask_stride = scan_line_bytes(width, 1);
  // The claimed size is only believed as far as the data can hold its rows.
  if ((color_stride + mask_stride) * height > static_cast<int64_t>(AStream.Remaining()) ||
      static_cast<uint64_t>(width) * height * 4 > max_icon_pixel_bytes)
    throw EqorError(L"Icon image larger than its data", ERROR_INVALID_DATA);

  const bool top_down = header.biHeight < 0;
  uint8_t* color_bits = nullptr;
  unique_bitmap color(create_dib(width, height, bit_count, palette, colors, &color_bits));
  for (int i = 0; i < height; ++i)
    AStream.Read(color_bits + color_stride * (top_down ? i : height - 1 - i), static_cast<size_t>(color_stride));
  uint8_t* mask_bits = nullptr;
  unique_bitmap mask(create_mask(width, height, &mask_bits));
  for (int i = 0; i < height; ++i)
    AStream.Read(mask_bits + mask_stride * (top_down ? i : height - 1 - i), static_cast<size_t>(mask_stride));

  ICONINFO shape{};
  shape.fIcon = TRUE;
  unique_icon icon(create_icon(shape, color.get(), mask.get()));
  return resize_if_needed(std::move(icon), width, height, AWidth, AHeight);
}

HICON LoadPngIcon(TMyMemoryStream& AStream, int AWidth, int AHeight) {
  if (AStream.Remaining() == 0) return nullptr;
  if (AStream.Remaining() > 0xFFFFFFFFu) throw EqorError(L"Image too large", ERROR_INVALID_DATA);
  // Decoders allocate the claimed size as soon as they open the image: judge the header first.
  TMyMemoryStream header = AStream;
  TqorPngDim dim;
  ReadPngDim(header, dim);
  if (!png_size_plausible(static_cast<uint32_t>(dim.Size.cx), static_cast<uint32_t>(dim.Size.cy), AStream.Remaining()))
    throw EqorError(L"PNG image larger than its data", ERROR_INVALID_DATA);
  com_ptr<IWICImagingFactory> factory;
  CreateWicFactory(factory);
  com_ptr<IWICStream> stream;
  check_hr(factory->CreateStream(stream.out()));
  check_hr(stream->InitializeFromMemory(const_cast<BYTE*>(AStream.Current()), static_cast<DWORD>(AStream.Remaining())));
  com_ptr<IWICBitmapDecoder> decoder;
  check_hr(factory->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnDemand, decoder.out()));
  com_ptr<IWICBitmapFrameDecode> frame;
  check_hr(decoder->GetFrame(0, frame.out()));
  UINT width = 0, height = 0;
  check_hr(frame->GetSize(&width, &height));
  // Decoding caches every pixel: a header that lies about the size must not get that far.
  if (!png_size_plausible(width, height, AStream.Remaining()))
    throw EqorError(L"PNG image larger than its data", ERROR_INVALID_DATA);
  com_ptr<IWICBitmap> bitmap;
  check_hr(factory->CreateBitmapFromSource(frame.get(), WICBitmapCacheOnLoad, bitmap.out()));
  check_hr(bitmap->GetSize(&width, &height));
  if (!png_size_plausible(width, height, AStream.Remaining()))
    throw EqorError(L"PNG image larger than its data", ERROR_INVALID_DATA);
  com_ptr<IWICBitmapSource> converted;
  auto convert = table_proc<wic_convert_bitmap_source>(GCodecs, wic_ConvertBitmapSource);
  if (!convert) check_hr(E_NOTIMPL);
  check_hr(convert(wic_pixel_format_32bpp_bgra, bitmap.get(), converted.out()));

  const int w = static_cast<int>(width), h = static_cast<int>(height);
  uint8_t* color_bits = nullptr;
  unique_bitmap color(create_dib(w, h, 32, nullptr, 0, &color_bits));
  const UINT stride = width * 4;
  check_hr(converted->CopyPixels(nullptr, stride, stride * height, color_bits));
  uint8_t* mask_bits = nullptr;
  unique_bitmap mask(create_mask(w, h, &mask_bits));
  const size_t mask_stride = static_cast<size_t>(scan_line_bytes(w, 1));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      set_bit(mask_bits + mask_stride * y, x, color_bits[(size_t{stride} * y) + x * 4 + 3] <= 127);

  ICONINFO shape{};
  shape.fIcon = TRUE;
  unique_icon icon(create_icon(shape, color.get(), mask.get()));
  return resize_if_needed(std::move(icon), w, h, AWidth, AHeight);
}

HICON LoadIconFromIcoStream(TMyMemoryStream& AStream, int AWidth, int AHeight, int ABitCount) {
  WORD header[3];
  AStream.Read(header, sizeof(header));
  if (header[0] != 0 || (header[1] != 1 && header[1] != 2)) return nullptr;
  const WORD count = header[2];
  if (count == 0) return nullptr;
  std::vector<uint32_t> offsets;
  for (WORD i = 0; i < count; ++i) {
    uint8_t entry[16];
    AStream.Read(entry, sizeof(entry));
    offsets.push_back(uint32_t{entry[12]} | (uint32_t{entry[13]} << 8) | (uint32_t{entry[14]} << 16) |
                      (uint32_t{entry[15]} << 24));
  }
  TIconSizes sizes;
  bool factory_checked = false, factory_ok = false;
  for (uint32_t offset : offsets) {
    AStream.Seek(offset);
    sizes.push_back(measure_image(AStream, factory_checked, factory_ok));
  }
  AStream.Seek(offsets[SelectIconIndex(AWidth, AHeight, ABitCount, sizes)]);
  return load_image(AStream, AWidth, AHeight);
}

HICON LoadIconFromModule(const std::wstring& APath, int AIndex, int AWidth, int AHeight, int ABitCount) {
  unique_module module(::LoadLibraryExW(APath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  if (!module) RaiseLastOSError();
  // Beyond 16 bits a number is no resource identifier: passing it on would read it as a pointer.
  if (AIndex < 0 || AIndex > 0xFFFF) return nullptr;
  TEnumResNameProcRec name;
  if (AIndex == 0) {
    ::EnumResourceNamesW(module.get(), MAKEINTRESOURCEW(14), first_group_name, reinterpret_cast<LONG_PTR>(&name));
    if (!name.Name) return nullptr;
  } else {
    name.Name = MAKEINTRESOURCEW(AIndex);
  }
  return LoadIconFromGroup(module.get(), name.Name, AWidth, AHeight, ABitCount);
}

HICON LoadIconFromFile(const std::wstring& APath, int AIndex, int AWidth, int AHeight, int ABitCount) {
  if (!has_folder_part(APath)) return LoadIconFromModule(APath, AIndex, AWidth, AHeight, ABitCount);
  try {
    unique_handle file(::CreateFileW(APath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) RaiseLastOSError();
    LARGE_INTEGER size{};
    check_bool(::GetFileSizeEx(file.get(), &size));
    uint8_t head[4] = {};
    DWORD read = 0;
    check_bool(::ReadFile(file.get(), head, sizeof(head), &read, nullptr));
    if (read >= 2 && head[0] == 'M' && head[1] == 'Z') {
      file.reset();
      return LoadIconFromModule(APath, AIndex, AWidth, AHeight, ABitCount);
    }
    if (size.QuadPart > max_icon_file_size) throw EqorError(L"Icon file too large", ERROR_INVALID_DATA);
    std::vector<uint8_t> data(static_cast<size_t>(size.QuadPart));
    LARGE_INTEGER start{};
    check_bool(::SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN));
    if (!data.empty()) {
      check_bool(::ReadFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &read, nullptr));
      data.resize(read);
    }
    TMyMemoryStream stream(data.data(), data.size());
    if (data.size() >= 4 && std::memcmp(data.data(), png_signature, 4) == 0)
      return LoadPngIcon(stream, AWidth, AHeight);
    return LoadIconFromIcoStream(stream, AWidth, AHeight, ABitCount);
  } catch (...) {
    return LoadIconFromModule(APath, AIndex, AWidth, AHeight, ABitCount);
  }
}

HICON LoadIconFromLocation(const std::wstring& ALocation, int AWidth, int AHeight, int ABitCount) noexcept {
  if (ALocation.empty()) return nullptr;
  try {
    const std::wstring location = expand_environment(ALocation);
    std::wstring path = location;
    int number = 0;
    const size_t dot = location.rfind(L'.');
    if (dot != std::wstring::npos && location.find_first_of(L"\\:", dot) == std::wstring::npos) {
      std::wstring extension = location.substr(dot);
      const size_t comma = extension.rfind(L',');
      if (comma != std::wstring::npos) {
        number = parse_icon_number(extension.substr(comma + 1));
        extension.erase(comma);
        while (!extension.empty() && extension.back() == L' ') extension.pop_back();
        path = location.substr(0, dot) + extension;
      }
    }
    return LoadIconFromFile(path, number, AWidth, AHeight, ABitCount);
  } catch (...) {
    return nullptr;
  }
}

}  // namespace ShellBaseExtension
}  // namespace qor
