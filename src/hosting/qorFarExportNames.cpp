// Reads PE headers and the export name table through a small window, bounded by the file's size.
#include "hosting/qorFarExportNames.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "common/qorErrors.h"
#include "common/qorHandles.h"
#include "common/qorText.h"

namespace qor {
namespace {

[[noreturn]] void raise_read_error() { throw EqorError(L"Stream read error"); }
[[noreturn]] void raise_bad_format() { RaiseOSError(ERROR_BAD_EXE_FORMAT); }

// Sequential reads with a window buffer; every read is bounded by the file's size.
class file_reader {
 public:
  explicit file_reader(const std::wstring& AFileName)
      : FFile(::CreateFileW(AFileName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {
    if (FFile.get() == INVALID_HANDLE_VALUE) RaiseLastOSError();
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(FFile.get(), &size)) RaiseLastOSError();
    FSize = static_cast<std::uint64_t>(size.QuadPart);
  }

  std::uint64_t size() const noexcept { return FSize; }
  void seek(std::uint64_t APosition) noexcept { FPosition = APosition; }

  void read(void* ADest, size_t ACount) {
    auto* dest = static_cast<unsigned char*>(ADest);
    while (ACount > 0) {
      if (FPosition < FWindowStart || FPosition >= FWindowStart + FWindow.size()) fill();
      const size_t offset = static_cast<size_t>(FPosition - FWindowStart);
      const size_t count = std::min(ACount, FWindow.size() - offset);
      std::memcpy(dest, FWindow.data() + offset, count);
      dest += count;
      ACount -= count;
      FPosition += count;
    }
  }

  template <class T>
  T read_value() {
    T value;
    read(&value, sizeof(value));
    return value;
  }

 private:
  void fill() {
    if (FPosition >= FSize) raise_read_error();
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(FPosition);
    if (!::SetFilePointerEx(FFile.get(), position, nullptr, FILE_BEGIN)) RaiseLastOSError();
    FWindow.resize(static_cast<size_t>(std::min<std::uint64_t>(kWindow, FSize - FPosition)));
    DWORD got = 0;
    if (!::ReadFile(FFile.get(), FWindow.data(), static_cast<DWORD>(FWindow.size()), &got, nullptr))
      RaiseLastOSError();
    if (got == 0) raise_read_error();
    FWindow.resize(got);
    FWindowStart = FPosition;
  }

  // Headers and export tables are small and close together: a small window keeps scanning
  // hundreds of DLLs cheap.
  static constexpr size_t kWindow = 0x1000;
  unique_handle FFile;
  std::uint64_t FSize = 0;
  std::uint64_t FPosition = 0;
  std::uint64_t FWindowStart = 0;
  std::vector<unsigned char> FWindow;
};

struct section_entry {
  DWORD VirtualAddress;
  DWORD SizeOfRawData;
  DWORD PointerToRawData;
};

std::uint64_t RvaToFileOffset(const std::vector<section_entry>& ASections, DWORD ARva) {
  for (const auto& s : ASections) {
    if (s.VirtualAddress <= ARva && ARva - s.VirtualAddress < s.SizeOfRawData)
      return std::uint64_t{ARva} - s.VirtualAddress + s.PointerToRawData;
  }
  throw EqorError(L"RVA not found");
}

}  // namespace

void ReadExportNames(const std::wstring& AFileName, bool& AIs64Bit, std::vector<std::wstring>* AList) {
  file_reader file(AFileName);

  unsigned char dos[64];
  file.read(dos, sizeof(dos));
  WORD magic;
  LONG lfanew;
  std::memcpy(&magic, dos, 2);
  std::memcpy(&lfanew, dos + 60, 4);
  if (magic != 0x5A4D || lfanew < 0) raise_bad_format();

  file.seek(static_cast<std::uint64_t>(lfanew));
  if (file.read_value<WORD>() != 0x4550) raise_bad_format();
  file.read_value<WORD>();

  const auto header = file.read_value<IMAGE_FILE_HEADER>();
  if (!(header.Characteristics & IMAGE_FILE_DLL)) raise_bad_format();

  size_t optional_size = 0;
  size_t export_offset = 0;
  switch (header.Machine) {
    case 0x014C:
      optional_size = 224;
      export_offset = 96;
      AIs64Bit = false;
      break;
    case 0x8664:
      optional_size = 240;
      export_offset = 112;
      AIs64Bit = true;
      break;
    default:
      raise_bad_format();
  }
  if (header.SizeOfOptionalHeader != optional_size) raise_bad_format();
  std::vector<unsigned char> optional(optional_size);
  file.read(optional.data(), optional.size());
  DWORD export_rva, export_size;
  std::memcpy(&export_rva, optional.data() + export_offset, 4);
  std::memcpy(&export_size, optional.data() + export_offset + 4, 4);
  if (export_rva == 0 || export_size == 0) raise_bad_format();
  if (!AList) return;

  std::vector<section_entry> sections(header.NumberOfSections);
  for (auto& s : sections) {
    unsigned char raw[40];
    file.read(raw, sizeof(raw));
    std::memcpy(&s.VirtualAddress, raw + 12, 4);
    std::memcpy(&s.SizeOfRawData, raw + 16, 4);
    std::memcpy(&s.PointerToRawData, raw + 20, 4);
  }

  file.seek(RvaToFileOffset(sections, export_rva));
  unsigned char directory[40];
  file.read(directory, sizeof(directory));
  DWORD number_of_names, address_of_names;
  std::memcpy(&number_of_names, directory + 24, 4);
  std::memcpy(&address_of_names, directory + 32, 4);
  // The name array must lie inside the file: a larger count is a lie, not an allocation.
  const std::uint64_t names_offset = RvaToFileOffset(sections, address_of_names);
  if (names_offset > file.size() || number_of_names > (file.size() - names_offset) / 4) raise_read_error();

  file.seek(names_offset);
  std::vector<DWORD> name_rvas(number_of_names);
  if (number_of_names) file.read(name_rvas.data(), name_rvas.size() * sizeof(DWORD));

  // Distinct names cannot hold more bytes than the file: a table that points many times at one
  // long string would otherwise cost count x length in time and memory.
  std::uint64_t name_bytes = 0;
  std::string name;
  for (DWORD rva : name_rvas) {
    file.seek(RvaToFileOffset(sections, rva));
    name.clear();
    for (char c; (c = file.read_value<char>()) != 0;) {
      if (++name_bytes > file.size()) raise_bad_format();
      name.push_back(c);
    }
    AList->push_back(AnsiToWide(name.c_str()));
  }
}

}  // namespace qor
