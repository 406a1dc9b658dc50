// Entry paths as a plugin lists them, judged before anything is written under them: whether a
// plugin may be asked to write one at all, whether it is a plain name the module can find again
// after a call for several entries, and the name the file manager is shown for it.
#pragma once

#include <string>
#include <string_view>

namespace qor {

// False for a path that would lead out of the folder it is written into, or to no file at all:
// an empty, "." or ".." component (or one of dots and spaces only), a rooted, drive, UNC or
// device-namespace path, and a reserved device name (CON, NUL, COM1, ...) as any component.
bool EntryPathContained(std::wstring_view APath) noexcept;

// True for a single name that a plugin writes as itself, exactly, right inside its destination:
// contained, without separators or characters that Windows file names cannot hold.
bool PlainEntryName(std::wstring_view AName) noexcept;

// The path the file manager is shown: every character that a Windows file name cannot hold
// (< > : " | ? * and control characters) becomes '_', a reserved device name gets '_' in front, a
// component of dots and spaces only ("..") has each of them as '_', and empty components (a
// leading backslash, two in a row) are left out: no file manager is led outside its target by the
// name alone.
std::wstring ListedEntryPath(std::wstring_view APath);

}  // namespace qor
