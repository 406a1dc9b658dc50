// One change of an existing archive made safe to fail: before the plugin writes, the original
// stays reachable through a hard link beside it (plugins write a new file and replace the archive,
// so the link keeps the old one without a copy); a change that fails its check is rolled back by
// renaming the link over the archive, and what the plugin's calls left behind goes. Also removes
// the working files of killed processes. Calls the system, the owner tags and the staging paths.
#pragma once

#include <set>
#include <string>

namespace qor {

// The prefix of every working file the module makes beside an archive or in the temporary folder.
extern const wchar_t kWorkingFilePrefix[];

// A name for a working file in AFolder: the prefix, the owner tag, '-' and ATail.
std::wstring WorkingFileName(const std::wstring& AFolder, const std::wstring& ATail);

// Removes the working files in AFolder whose process has ended; never one of a running process.
void RemoveStaleWorkingFiles(const std::wstring& AFolder) noexcept;

// The temporary files plugins write beside an archive while they change it: "*.tmp" (the widely
// used archive plugin's "{GUID}.tmp", the sample's "~tar*.tmp") that appear in the folder during
// a call. Only the new ones go, and only when nobody has them open.
class TqorTemporaryFiles {
 public:
  explicit TqorTemporaryFiles(std::wstring AFolder);
  void RemoveNew() const noexcept;

 private:
  std::set<std::wstring> list() const;
  std::wstring FFolder;
  std::set<std::wstring> FBefore;
};

class TqorArchiveChange {
 public:
  // AArchive is the full path of an archive that exists. Sweeps what killed processes left in its
  // folder and makes the link; where no link can be made (a file system without them), the change
  // still runs, without a way back.
  explicit TqorArchiveChange(const std::wstring& AArchive);
  // A change never committed is rolled back.
  ~TqorArchiveChange();
  TqorArchiveChange(const TqorArchiveChange&) = delete;
  TqorArchiveChange& operator=(const TqorArchiveChange&) = delete;

  bool CanRollBack() const noexcept { return !FLink.empty(); }
  // The change holds: the link goes, and the original with it when the plugin replaced it.
  void Commit() noexcept;
  // The archive as it was, when the plugin replaced it (one that wrote in place cannot be put
  // back), and the temporary files of the change gone.
  void RollBack() noexcept;

 private:
  void drop_link() noexcept;

  std::wstring FArchive;  // extended-length
  std::wstring FLink;     // extended-length; empty without one
  TqorTemporaryFiles FTemporary;
  bool FDone = false;
};

}  // namespace qor
