// The private folder a plugin extracts into before an entry is moved to the file manager's target.
// It sits on the target's volume, so that claiming an entry is a rename; it is hidden, uniquely
// named after the process that made it, and goes with everything in it when its owner lets it go,
// when the module unloads, or, if a process was killed, when the module next stages beside it.
//
// Every file operation here goes through extended-length paths, so that names with trailing dots
// or spaces and paths past MAX_PATH arrive exactly, and none of them leaves the staging folder or
// the target it is given: paths are checked inside the folder, and no link below it is followed.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>

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

  // The folder as plugins are given it (a plain path), with its trailing backslash.
  const std::wstring& Path() const noexcept { return FPath; }
  // False when the folder is the temporary folder's: entries are then copied to their targets, so
  // that they take the target folder's permissions, not those of the temporary folder.
  bool Near() const noexcept { return FNear; }
  // A new empty sub-folder for one plugin call, with its trailing backslash.
  std::wstring NewCallFolder();

  // Takes stock of what a call into ACallFolder (from NewCallFolder) wrote: every plain file
  // reached without passing a link, in one pass over the folder. Until the next plugin call that
  // writes, HoldsFile answers for those files without a look at the disk.
  void Survey(const std::wstring& ACallFolder) noexcept;
  // True when AFolder (a call folder of this one or a folder in it, with its backslash) holds
  // ARelative as a plain file, reached without passing a link: a file a plugin wrote there.
  bool HoldsFile(const std::wstring& AFolder, const std::wstring& ARelative) const;
  // The one file a call into AFolder wrote, anywhere below it; empty when there is none or more.
  std::wstring OnlyFileIn(const std::wstring& AFolder) const;
  // Moves AStaged (a file HoldsFile vouched for) to ATarget, or copies it when the folder is not
  // near or the target lies on another volume: a file already there is replaced, even a
  // read-only or hidden one, and only once the new one is whole beside it. Missing folders of the
  // target are made. Returns 0 or the system error.
  DWORD Claim(const std::wstring& AStaged, const std::wstring& ATarget) noexcept;
  // Deletes a file or a folder with everything in it, if it lies inside this folder and no link
  // leads to it; a link itself goes, never what it points to.
  void Remove(const std::wstring& APath) noexcept;

 private:
  // What one call wrote, by path below the staging folder, as it stood when no writing call ran.
  struct survey {
    std::uint64_t Epoch = 0;
    std::unordered_set<std::wstring> Files;
    std::unordered_set<std::wstring> Removed;  // folders in it the module has removed since
  };
  void take_survey(const std::wstring& ACallFolder);
  bool surveyed(const std::wstring& ARelative) const noexcept;
  void forget(const std::wstring& ARelative) noexcept;

  std::wstring FPath;      // plain
  std::wstring FExtended;  // the same, extended-length
  bool FNear = true;
  unsigned FCalls = 0;
  std::unordered_map<std::wstring, survey> FSurveys;  // by call folder name
};

// APath as an extended-length path ("\\?\C:\...", "\\?\UNC\server\share\..."), with '/' read as
// '\' and "." and ".." components resolved; the last component keeps its trailing dots and spaces.
std::wstring ExtendedPath(const std::wstring& APath);

// Makes the folder ATarget (a file manager's target) with the folders above it; true when it
// exists as a folder then.
bool MakeTargetFolder(const std::wstring& ATarget);

// Removes every staging folder of this process that still exists. For the module's unloading
// when the process ends, which runs no destructors of open archives; never waits for a lock.
void RemoveLiveStagingFolders() noexcept;

}  // namespace qor
