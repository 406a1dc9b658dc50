// Entry names as a plugin lists them, judged before anything is written under them: whether a
// plugin may be asked to write one at all, whether it is a plain name the module can find again
// after a call for several entries, and the name the file manager is shown for it.
//
// A panel item's FileName is one name in the plugin's current folder, as FAR's panel takes it: FAR
// reads names as file-system paths only on panels that set OPIF_REALNAMES (a temporary panel of
// real files), which an archive panel is not. So '\' and '/' inside an item's name are characters
// Windows names cannot hold, like the others, and become '_' in the name the file manager is shown.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qor {

// False for a path that would lead out of the folder it is written into, or to no file at all:
// an empty, "." or ".." component (or one of dots and spaces only), a rooted, drive, UNC or
// device-namespace path, and a reserved device name (CON, NUL, COM1, ...) as any component.
bool EntryPathContained(std::wstring_view APath) noexcept;

// True for a path with a "." or ".." component: it leads elsewhere than the names it spells.
bool PathHasDotComponent(std::wstring_view APath) noexcept;

// True for a single name that a plugin writes as itself, exactly, right inside its destination:
// contained, without separators or characters that Windows file names cannot hold.
bool PlainEntryName(std::wstring_view AName) noexcept;

// True for an item's name that a plugin may be asked to write into its destination, whichever way
// it joins the two: no component (between '\' or '/') of dots and spaces only or naming a device,
// no drive, and no UNC or device-namespace start (two separators). A single separator first, or
// two in a row inside, keep a joined path inside the destination.
bool ItemNameContained(std::wstring_view AName) noexcept;

// What the listing needs to know of one name, read in one pass: whether ItemNameContained holds
// for it, and whether it is shown as it is (no character to change, no device name, not of dots
// and spaces only, not empty).
struct TqorItemNameTraits {
  bool Contained = false;
  bool ShownAsListed = false;
};
TqorItemNameTraits JudgeItemName(std::wstring_view AName) noexcept;

// The names the file manager is shown for the items of one listing, in their order: every
// character a Windows file name cannot hold ('\' and '/' among them) becomes '_', a reserved device
// name gets '_' in front, a name of dots and spaces only has each of them as '_', an empty name is
// "_". A name made so that would be the same as another item's gets "~2", "~3", ... before its
// extension, so that no two entries of a folder share a name; names that needed no change keep
// theirs. False, with AListed empty, when every name is shown as it is (the common case, which
// costs one look at each name).
bool ListedItemNames(const std::vector<std::wstring_view>& ANames, std::vector<std::wstring>& AListed);

}  // namespace qor
