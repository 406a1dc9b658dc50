// The private folder a plugin extracts into before an entry is moved to the file manager's target.
// It sits on the target's volume, so that claiming an entry is a rename; it is hidden, uniquely
// named, and goes with everything in it when its owner lets it go.
#pragma once

#include <windows.h>

#include <string>

namespace qor {

class TqorStagingFolder {
 public:
  // Makes the folder inside ANearFolder; where that is impossible (no such folder, no right to
  // make one there, an empty ANearFolder), in the temporary folder, from which entries are then
  // claimed by copying. Raises when neither can be made.
  explicit TqorStagingFolder(const std::wstring& ANearFolder);
  ~TqorStagingFolder();
  TqorStagingFolder(const TqorStagingFolder&) = delete;
  TqorStagingFolder& operator=(const TqorStagingFolder&) = delete;

  // The folder, with its trailing backslash.
  const std::wstring& Path() const noexcept { return FPath; }
  // False when the folder is the temporary folder's: entries are then copied to their targets, so
  // that they take the target folder's permissions, not those of the temporary folder.
  bool Near() const noexcept { return FNear; }
  // A new empty sub-folder for one plugin call, with its trailing backslash.
  std::wstring NewCallFolder();

 private:
  std::wstring FPath;
  bool FNear = true;
  unsigned FCalls = 0;
};

// Moves AStaged to ATarget (copies it, with ACopy or across volumes): a file already there is
// replaced, even a read-only one, and missing folders of the target are made. Times and
// attributes go with the file. Returns 0 or the system error.
DWORD ClaimStagedFile(const std::wstring& AStaged, const std::wstring& ATarget, bool ACopy) noexcept;

// Deletes a file, or a folder with everything below it; read-only attributes do not stop it.
void RemoveStagedPath(const std::wstring& APath) noexcept;

// True when APath (after the system's own path rules) lies inside AFolder (with its backslash).
bool PathInside(const std::wstring& APath, const std::wstring& AFolder);

}  // namespace qor
