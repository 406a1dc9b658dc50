// The sources of a move, identified by file id and change time when the call begins, and deleted
// only when they are still those files, unchanged, through a handle that follows no link. Calls
// the pack list, the file identity helpers and the staging paths; never a plugin.
#pragma once

#include <vector>

#include "common/qorFileIdentity.h"
#include "hosting/qorFarPackList.h"

namespace qor {

class TqorMovedSources {
 public:
  explicit TqorMovedSources(const TqorPackList& AList) : FList(AList) {}
  // Reads every source's identity; one that cannot be read is never deleted.
  void Note();
  // Deletes the file source at AIndex of the list when it is the file noted, unchanged and no
  // link; true when it went.
  bool RemoveFile(size_t AIndex) const;
  // Deletes the folder source at AIndex when it is the folder noted, no link, and empty.
  bool RemoveFolder(size_t AIndex) const;

 private:
  const TqorPackList& FList;
  std::vector<TqorFileIdentity> FNoted;
  std::vector<bool> FKnown;
};

}  // namespace qor
