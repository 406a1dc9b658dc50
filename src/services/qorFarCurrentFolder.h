// FAR's current folder: the folder FSF.GetCurrentDirectory reports and ConvertPath resolves
// against. FAR keeps one of its own apart from the process's; here each thread has one, because
// the file manager may pack on one thread while it extracts on another. The process's current
// folder is never changed: it belongs to the file manager.
#pragma once

#include <string>

namespace qor {

// Sets this thread's FAR folder for the scope's life; the one before comes back afterwards.
class TqorFarFolderScope {
 public:
  explicit TqorFarFolderScope(const std::wstring& AFolder);
  ~TqorFarFolderScope();
  TqorFarFolderScope(const TqorFarFolderScope&) = delete;
  TqorFarFolderScope& operator=(const TqorFarFolderScope&) = delete;

 private:
  std::wstring FFolder;
  const std::wstring* FPrevious;
};

// This thread's FAR folder; outside every scope the process's current folder, as FAR starts with it.
std::wstring FarCurrentFolder();

// FAR's full form of a path (ConvertPath's CPM_FULL), worked out from the text alone against this
// thread's FAR folder: prefixed paths ("\\?\", "\\.\", "\??\") stay as they are, relative ones
// get the folder, "\a" its root, "D:a" the folder of drive D; then "." and ".." are folded.
// '/' counts as a separator and stays.
std::wstring FarFullPath(const std::wstring& APath);

// A full folder path in FAR's form: backslashes, and a trailing one only at a root ("C:\",
// "\\server\share\").
std::wstring FarFolderForm(std::wstring AFolder);

}  // namespace qor
