#include "pe_builder.h"

#include <cstring>

namespace wxt {

void PeImage::put16(size_t AOffset, WORD AValue) { std::memcpy(&bytes[AOffset], &AValue, 2); }
void PeImage::put32(size_t AOffset, DWORD AValue) { std::memcpy(&bytes[AOffset], &AValue, 4); }
DWORD PeImage::get32(size_t AOffset) const {
  DWORD value;
  std::memcpy(&value, &bytes[AOffset], 4);
  return value;
}

PeImage BuildPe(const PeOptions& AOptions) {
  constexpr DWORD kSectionRva = 0x1000;
  constexpr DWORD kFileAlign = 0x200;
  PeImage image;
  PeLayout& at = image.at;
  const WORD standard_size = AOptions.amd64 ? 240 : 224;
  const WORD optional_size = AOptions.optional_size ? AOptions.optional_size : standard_size;
  const size_t lfanew = 0x80;
  at.signature = lfanew;
  at.file_header = lfanew + 4;
  at.optional_header = at.file_header + 20;
  at.export_entry = at.optional_header + (AOptions.amd64 ? 112 : 96);
  at.section_table = at.optional_header + optional_size;
  const size_t headers_end = at.section_table + 40;
  const size_t raw_start = (headers_end + kFileAlign - 1) / kFileAlign * kFileAlign;

  // Export data: directory, functions, names, ordinals, strings.
  const DWORD count = static_cast<DWORD>(AOptions.names.size());
  const DWORD functions = std::max<DWORD>(AOptions.functions, count);
  std::string edata(40, '\0');
  auto rva_here = [&] { return kSectionRva + static_cast<DWORD>(edata.size()); };
  auto append32 = [&](DWORD AValue) { edata.append(reinterpret_cast<const char*>(&AValue), 4); };
  const DWORD functions_rva = rva_here();
  for (DWORD i = 0; i < functions; ++i) append32(0x2000 + i);
  const DWORD names_rva = rva_here();
  edata.append(count * 4, '\0');
  const DWORD ordinals_rva = rva_here();
  for (DWORD i = 0; i < count; ++i) edata.append(reinterpret_cast<const char*>(&i), 2);
  const DWORD strings_rva = rva_here();
  std::vector<DWORD> name_rvas;
  for (const auto& name : AOptions.names) {
    name_rvas.push_back(rva_here());
    edata += name;
    edata += '\0';
  }
  const DWORD dll_name_rva = rva_here();
  edata += "built.dll";
  edata += '\0';
  const DWORD export_size = static_cast<DWORD>(edata.size());
  std::memcpy(&edata[12], &dll_name_rva, 4);
  const DWORD base = 1;
  std::memcpy(&edata[16], &base, 4);
  std::memcpy(&edata[20], &functions, 4);
  std::memcpy(&edata[24], &count, 4);
  std::memcpy(&edata[28], &functions_rva, 4);
  std::memcpy(&edata[32], &names_rva, 4);
  std::memcpy(&edata[36], &ordinals_rva, 4);
  for (DWORD i = 0; i < count; ++i) std::memcpy(&edata[names_rva - kSectionRva + i * 4], &name_rvas[i], 4);
  const DWORD raw_size = static_cast<DWORD>((edata.size() + kFileAlign - 1) / kFileAlign * kFileAlign);
  edata.resize(raw_size, '\0');

  image.bytes.assign(raw_start, '\0');
  image.bytes += edata;
  at.export_directory = raw_start;
  at.names_array = raw_start + (names_rva - kSectionRva);
  at.name_strings = raw_start + (strings_rva - kSectionRva);
  at.section_raw_end = raw_start + raw_size;
  at.section_rva = kSectionRva;
  at.section_raw_size = raw_size;
  at.section_virtual_size = raw_size + 0x1000;

  // DOS header.
  image.put16(0, 0x5A4D);
  image.put32(60, static_cast<DWORD>(lfanew));
  image.put32(at.signature, 0x00004550);
  // File header.
  image.put16(at.file_header + 0, AOptions.amd64 ? 0x8664 : 0x014C);
  image.put16(at.file_header + 2, 1);
  image.put16(at.file_header + 16, optional_size);
  WORD characteristics = IMAGE_FILE_EXECUTABLE_IMAGE | (AOptions.amd64 ? IMAGE_FILE_LARGE_ADDRESS_AWARE
                                                                        : IMAGE_FILE_32BIT_MACHINE);
  if (AOptions.dll) characteristics |= IMAGE_FILE_DLL;
  image.put16(at.file_header + 18, characteristics);
  // Optional header: enough for a loader to look at it and refuse it for the right reason.
  const size_t o = at.optional_header;
  image.put16(o + 0, AOptions.amd64 ? 0x20B : 0x10B);
  image.put32(o + 16, 0);  // no entry point
  if (AOptions.amd64) {
    image.put32(o + 24, 0x10000000);  // ImageBase (low part)
  } else {
    image.put32(o + 28, 0x10000000);
  }
  image.put32(o + 32, 0x1000);       // SectionAlignment
  image.put32(o + 36, kFileAlign);   // FileAlignment
  image.put16(o + 40, 4);            // OS version
  image.put16(o + 48, 4);            // subsystem version
  image.put32(o + 56, kSectionRva + at.section_virtual_size);  // SizeOfImage (rounded below)
  image.put32(o + 56, (kSectionRva + at.section_virtual_size + 0xFFF) & ~0xFFFu);
  image.put32(o + 60, static_cast<DWORD>(raw_start));          // SizeOfHeaders
  image.put16(o + 68, IMAGE_SUBSYSTEM_WINDOWS_GUI);
  image.put32(o + (AOptions.amd64 ? 108 : 92), 16);  // NumberOfRvaAndSizes
  if (AOptions.export_dir) {
    image.put32(at.export_entry, kSectionRva);
    image.put32(at.export_entry + 4, export_size);
  }
  // Section table: one initialized, readable data section (or code section).
  const size_t s = at.section_table;
  std::memcpy(&image.bytes[s], ".edata", 6);
  image.put32(s + 8, at.section_virtual_size);
  image.put32(s + 12, kSectionRva);
  image.put32(s + 16, raw_size);
  image.put32(s + 20, static_cast<DWORD>(raw_start));
  image.put32(s + 36, IMAGE_SCN_CNT_INITIALIZED_DATA | IMAGE_SCN_MEM_READ |
                         (AOptions.code ? IMAGE_SCN_CNT_CODE | IMAGE_SCN_MEM_EXECUTE : 0));
  return image;
}

}  // namespace wxt
