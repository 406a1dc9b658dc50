// The plugin's messages: line numbers of the language files, counted from 0.
#pragma once

#include <cstdint>

namespace tar {

enum MessageId : intptr_t {
  MTitle = 0,
  MDescription,
  MCreateTitle,
  MCreatePrompt,
  MMakeFolderTitle,
  MMakeFolderPrompt,
  MDeleteTitle,
  MDeleteQuestion,
  MDeleteButton,
  MCancelButton,
  MErrorTitle,
  MErrExists,
  MErrRead,
  MErrWrite,
  MErrDamaged,
  MErrBadName,
  MErrNameTooLong,
  MErrFolderInPlace,
  MErrNotFound,
  MErrDeleteSource,
  MErrMemory,
};

}  // namespace tar
