// Changes to an archive on disk, each a whole rewrite: adding files and folders from disk,
// deleting entries, making a folder, creating a new archive. Each reads the archive afresh, so it
// acts on what the file holds now, and keeps no handle on it once it returns.
#pragma once

#include <string>
#include <vector>

#include "TarWriter.h"

namespace tar {

// Items as FAR hands them to PutFilesW: bare names in a folder on disk.
struct Sources {
  std::wstring folder;
  std::vector<std::wstring> names;
};

// Adds the items, folders with all they hold, below AFolder (the archive's spelling, empty for the
// root); each replaces an entry of the same path. Returns what was packed.
std::vector<NewEntry> add_files(const std::wstring& AFile, const std::string& AFolder, const Sources& ASources,
                                ProgressReport AReport);
// Writes a new archive of the items; never over an existing file.
std::vector<NewEntry> create_archive(const std::wstring& AFile, const Sources& ASources, ProgressReport AReport);
// Deletes the entries of these paths, folders with all below them.
void delete_entries(const std::wstring& AFile, const std::vector<std::string>& APaths, ProgressReport AReport);
// Adds a folder entry; false, and no rewrite, when the folder is there already.
bool make_folder(const std::wstring& AFile, const std::string& APath, ProgressReport AReport);
// Removes packed sources: the files, then each folder that is empty then. The first that stays, or "".
std::wstring delete_sources(const std::vector<NewEntry>& APacked);

// A name one path component of the archive may take: what Windows allows in a file name.
bool valid_name(const std::wstring& AName);

}  // namespace tar
