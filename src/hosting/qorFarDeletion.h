// Deleting entries of an archive through the plugin that opens it (DeleteFiles): each name the
// file manager lists is found in the plugin's own listing ("dir\*.*" stands for a folder with all
// it holds), and the plugin deletes its own items, one folder at a time, silently. Nothing is
// deleted by mask, and nothing that was not listed. Calls the plugin list, the panel and its
// cursor, the entry name rules and progress.
#pragma once

#include <string>

#include "hosting/qorFarProgress.h"

namespace qor {

// 0 or the WCX error; ADeleteList is NUL-separated and ends with an empty name. AAnsi: the names
// come from a file manager that was shown the ANSI form of the listed names (AnsiPath), and are
// found through that form, so that no name reaches an item it was not shown for.
int DeleteFiles(const std::wstring& APackedFile, const wchar_t* ADeleteList, const TqorProcessDataProcs& AProcs,
                bool AAnsi = false);

}  // namespace qor
