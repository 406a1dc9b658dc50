// File identity and handle-based calls, through a kernel table filled once.
#include "common/qorFileIdentity.h"

#include <vector>

namespace qor {
namespace {

using final_path_fn = DWORD(WINAPI*)(HANDLE, wchar_t*, DWORD, DWORD);
using get_info_fn = BOOL(WINAPI*)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, void*, DWORD);
using set_info_fn = BOOL(WINAPI*)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, void*, DWORD);

DWORD WINAPI no_final_path(HANDLE, wchar_t*, DWORD, DWORD) {
  ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return 0;
}
BOOL WINAPI no_info(HANDLE, FILE_INFO_BY_HANDLE_CLASS, void*, DWORD) {
  ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return FALSE;
}

template <class T>
T lookup(HMODULE AModule, const char* AName, T AFallback) noexcept {
  FARPROC p = AModule ? ::GetProcAddress(AModule, AName) : nullptr;
  return p ? reinterpret_cast<T>(reinterpret_cast<void*>(p)) : AFallback;
}

struct kernel_functions {
  final_path_fn GetFinalPathNameByHandleW = no_final_path;
  get_info_fn GetFileInformationByHandleEx = no_info;
  set_info_fn SetFileInformationByHandle = no_info;

  kernel_functions() {
    const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    GetFinalPathNameByHandleW = lookup(kernel, "GetFinalPathNameByHandleW", GetFinalPathNameByHandleW);
    GetFileInformationByHandleEx = lookup(kernel, "GetFileInformationByHandleEx", GetFileInformationByHandleEx);
    SetFileInformationByHandle = lookup(kernel, "SetFileInformationByHandle", SetFileInformationByHandle);
  }
};

// Filled once, on first use (the initialisation of a local static is serialised).
const kernel_functions& Kernel() {
  static kernel_functions functions;
  return functions;
}

}  // namespace

HANDLE OpenNoFollow(const std::wstring& APath, DWORD AAccess) noexcept {
  return ::CreateFileW(APath.c_str(), AAccess, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

bool ReadFileIdentity(HANDLE AFile, TqorFileIdentity& AIdentity) noexcept {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(AFile, &info)) return false;
  AIdentity.Volume = info.dwVolumeSerialNumber;
  AIdentity.Index = (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  AIdentity.WriteTime = info.ftLastWriteTime;
  AIdentity.Size = (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  AIdentity.Attributes = info.dwFileAttributes;
  AIdentity.Links = info.nNumberOfLinks;
  FILE_BASIC_INFO basic{};
  AIdentity.ChangeTime =
      Kernel().GetFileInformationByHandleEx(AFile, FileBasicInfo, &basic, sizeof(basic)) ? basic.ChangeTime.QuadPart : 0;
  return true;
}

std::wstring FinalPathOf(HANDLE AFile) {
  std::vector<wchar_t> path(MAX_PATH + 1);
  for (int attempt = 0; attempt < 2; ++attempt) {
    const DWORD length =
        Kernel().GetFinalPathNameByHandleW(AFile, path.data(), static_cast<DWORD>(path.size()), FILE_NAME_NORMALIZED);
    if (length == 0) return {};
    if (length < path.size()) return std::wstring(path.data(), length);
    path.resize(length + 1);
  }
  return {};
}

bool DeleteOnClose(HANDLE AFile) noexcept {
  FILE_DISPOSITION_INFO info{};
  info.DeleteFile = TRUE;
  return Kernel().SetFileInformationByHandle(AFile, FileDispositionInfo, &info, sizeof(info)) != FALSE;
}

bool DeleteOnCloseIgnoringReadOnly(HANDLE AFile) noexcept {
  // FILE_DISPOSITION_INFO_EX, which older headers lack.
  struct disposition_ex {
    DWORD Flags;
  };
  constexpr DWORD kDelete = 0x1, kIgnoreReadOnly = 0x10;
  constexpr auto kDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
  disposition_ex info{kDelete | kIgnoreReadOnly};
  return Kernel().SetFileInformationByHandle(AFile, kDispositionInfoEx, &info, sizeof(info)) != FALSE;
}

bool SetAttributesOf(HANDLE AFile, DWORD AAttributes) noexcept {
  FILE_BASIC_INFO info{};  // zero times stay as they are
  info.FileAttributes = AAttributes ? AAttributes : FILE_ATTRIBUTE_NORMAL;
  return Kernel().SetFileInformationByHandle(AFile, FileBasicInfo, &info, sizeof(info)) != FALSE;
}

}  // namespace qor
