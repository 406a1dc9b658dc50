// Identity noted first, checked again on the handle that deletes.
#include "hosting/qorFarMovedSources.h"

#include "common/qorHandles.h"
#include "hosting/qorFarStaging.h"

namespace qor {

void TqorMovedSources::Note() {
  const auto& sources = FList.Sources();
  FNoted.assign(sources.size(), TqorFileIdentity{});
  FKnown.assign(sources.size(), false);
  for (size_t i = 0; i < sources.size(); ++i) {
    unique_handle file(OpenNoFollow(ExtendedPath(FList.PathOf(sources[i])), FILE_READ_ATTRIBUTES));
    FKnown[i] = file.get() != INVALID_HANDLE_VALUE && ReadFileIdentity(file.get(), FNoted[i]) &&
                !(FNoted[i].Attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  }
}

bool TqorMovedSources::RemoveFile(size_t AIndex) const {
  if (AIndex >= FKnown.size() || !FKnown[AIndex]) return false;
  unique_handle file(OpenNoFollow(ExtendedPath(FList.PathOf(FList.Sources()[AIndex])),
                                  DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES));
  TqorFileIdentity now;
  if (file.get() == INVALID_HANDLE_VALUE || !ReadFileIdentity(file.get(), now)) return false;
  if ((now.Attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) || !now.Unchanged(FNoted[AIndex]))
    return false;
  const bool read_only = (now.Attributes & FILE_ATTRIBUTE_READONLY) != 0;
  if (read_only && !SetAttributesOf(file.get(), now.Attributes & ~FILE_ATTRIBUTE_READONLY)) return false;
  const bool deleted = DeleteOnClose(file.get());
  // The mark belongs to the file: its other names, or the file itself when it stays, keep it.
  if (read_only && (!deleted || now.Links > 1)) SetAttributesOf(file.get(), now.Attributes);
  return deleted;
}

bool TqorMovedSources::RemoveFolder(size_t AIndex) const {
  if (AIndex >= FKnown.size() || !FKnown[AIndex]) return false;
  unique_handle folder(OpenNoFollow(ExtendedPath(FList.PathOf(FList.Sources()[AIndex])), DELETE | FILE_READ_ATTRIBUTES));
  TqorFileIdentity now;
  if (folder.get() == INVALID_HANDLE_VALUE || !ReadFileIdentity(folder.get(), now)) return false;
  if (!(now.Attributes & FILE_ATTRIBUTE_DIRECTORY) || (now.Attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
      !now.SameFile(FNoted[AIndex]))
    return false;
  // The system refuses a folder that still holds anything.
  return DeleteOnClose(folder.get());
}

}  // namespace qor
