// Shell and imaging helpers of the UI toolkit, and accelerator letters for captions.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/qorErrors.h"

namespace qor {

// ---- Accelerator letters -------------------------------------------------------------------

struct TqorShellAmpersandInfo {
  wchar_t Letter;
  bool Busy;
};

// Text operations on captions whose "&" marks the accelerator, and an allocator of the
// letters A..Z so that the controls of one form do not share an accelerator.
class TqorShellAmpersands {
 public:
  TqorShellAmpersands();

  static std::wstring DublicateAmpersands(const std::wstring& AText);
  static std::wstring DeleteAmpersands(const std::wstring& AText);
  static wchar_t ExtractAmpersandLetter(const std::wstring& AString);
  static std::wstring AddAmpersandIfAbsent(const std::wstring& AText);

  bool IsAmpersandLetter(wchar_t ALetter) const;
  bool GetBusy(wchar_t ALetter) const;
  void SetBusy(wchar_t ALetter, bool ABusy);
  void SetLetterBusyByString(const std::wstring& AString);
  void FindAndSetLetterBusyByString(std::wstring& AString);

 private:
  std::vector<TqorShellAmpersandInfo> FLetters;
};

// ---- Shell and imaging helpers -------------------------------------------------------------

struct TqorPngDim {
  SIZE Size;
  int32_t BitDepth;  // colour bits per pixel
  int32_t Alpha;     // alpha bits per pixel
  std::wstring Format;
};

// The unit's free functions and helper types live under the unit's name: other toolkit units
// have functions of the same names (GetWindowDpi) with their own function tables.
namespace ShellBaseExtension {

// A failed GDI or icon call: the system's text for the last error, or "OutOfResources".
class EOutOfResources : public EqorError {
 public:
  using EqorError::EqorError;
};

struct TIconSize {
  SIZE Size;
  int32_t BitCount;
};
using TIconSizes = std::vector<TIconSize>;

// Positioned read-only view over memory the reader does not own (a locked resource, a file
// image). Reads beyond the end raise, so a lying header can never make us read past the data.
class TMyMemoryStream {
 public:
  TMyMemoryStream(const void* AData, size_t ASize) noexcept
      : FData(static_cast<const uint8_t*>(AData)), FSize(ASize) {}
  size_t Size() const noexcept { return FSize; }
  size_t Position() const noexcept { return FPosition; }
  size_t Remaining() const noexcept { return FSize - FPosition; }
  const uint8_t* Current() const noexcept { return FData + FPosition; }
  void Seek(size_t APosition);
  void Skip(size_t ACount);
  void Read(void* ABuffer, size_t ACount);
  // Writing over borrowed memory does nothing.
  size_t Write(const void*, size_t) noexcept { return 0; }

 private:
  const uint8_t* FData;
  size_t FSize;
  size_t FPosition = 0;
};

void Startup() noexcept;
void Shutdown() noexcept;

UINT GetWindowDpi(HWND AWnd) noexcept;
bool IsThemingActive() noexcept;
HRESULT GetStockIconInfo(SHSTOCKICONID AStockIconId, UINT AFlags, SHSTOCKICONINFO* AInfo) noexcept;
bool IsWindowsVistaOrLater() noexcept;
SIZE GetIconSize(HICON AIcon);
// Icon from "path[,number]" at the requested size; 0 on any failure, never raises.
HICON LoadIconFromLocation(const std::wstring& ALocation, int AWidth, int AHeight,
                           int ABitCount) noexcept;

// The icon reader's steps, callable on their own.
HICON LoadIconFromFile(const std::wstring& APath, int AIndex, int AWidth, int AHeight,
                       int ABitCount);
HICON LoadIconFromModule(const std::wstring& APath, int AIndex, int AWidth, int AHeight,
                         int ABitCount);
HICON LoadIconFromIcoStream(TMyMemoryStream& AStream, int AWidth, int AHeight, int ABitCount);
HICON LoadDibIcon(TMyMemoryStream& AStream, int AWidth, int AHeight);
HICON LoadPngIcon(TMyMemoryStream& AStream, int AWidth, int AHeight);
size_t SelectIconIndex(int AWidth, int AHeight, int ABitCount, const TIconSizes& ASizes);
void ReadPngDim(TMyMemoryStream& AStream, TqorPngDim& ADim);
HICON ResizeIcon(HICON AIcon, int AWidth, int AHeight);
HBITMAP ResizeBitmap(HBITMAP ABitmap, int AWidth, int AHeight);
int BytesPerScanLine(int AWidth, int ABitCount) noexcept;

}  // namespace ShellBaseExtension
}  // namespace qor
