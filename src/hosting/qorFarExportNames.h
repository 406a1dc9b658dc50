// Export names of a PE file, read from the file itself: a DLL is judged without loading it (its
// DllMain never runs). Calls only the common floor.
#pragma once

#include <string>
#include <vector>

namespace qor {

// Validates a 32- or 64-bit PE DLL with an export table; appends its export names to AList when
// given. Raises for every file it cannot accept.
void ReadExportNames(const std::wstring& AFileName, bool& AIs64Bit, std::vector<std::wstring>* AList);

}  // namespace qor
