// Builds small PE images byte by byte, so tests can break one field at a time.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

namespace wxt {

struct PeOptions {
  bool amd64 = false;
  bool dll = true;
  WORD optional_size = 0;  // 0: the machine's standard size (224 or 240)
  bool export_dir = true;   // data directory 0 filled in
  bool code = false;        // the section is marked executable code, as in a compiled DLL (a
                            // 64-bit loader may map a 32-bit image without code as data)
  std::vector<std::string> names;
  DWORD functions = 0;      // exported functions; at least the number of names
};

// Where the interesting fields ended up, as file offsets.
struct PeLayout {
  size_t lfanew = 60;
  size_t signature = 0;
  size_t file_header = 0;
  size_t optional_header = 0;
  size_t export_entry = 0;  // VirtualAddress of data directory 0; Size follows
  size_t section_table = 0;
  size_t export_directory = 0;
  size_t names_array = 0;
  size_t name_strings = 0;
  size_t section_raw_end = 0;  // end of the one section's raw data
  DWORD section_rva = 0;
  DWORD section_raw_size = 0;
  DWORD section_virtual_size = 0;
};

struct PeImage {
  std::string bytes;
  PeLayout at;

  void put16(size_t AOffset, WORD AValue);
  void put32(size_t AOffset, DWORD AValue);
  DWORD get32(size_t AOffset) const;
  // File offset of an RVA inside the image's one section.
  size_t offset_of(DWORD ARva) const { return ARva - at.section_rva + at.section_raw_end - at.section_raw_size; }
};

// One section holding the export directory, its arrays and the names; the section's virtual size
// runs 0x1000 bytes past its raw data (an uninitialized tail).
PeImage BuildPe(const PeOptions& AOptions);

}  // namespace wxt
