// Names of files and folders the module leaves on disk while it works, tagged with the process
// that made them, so that a later process can tell what a killed one left behind from what a
// running one still uses. Calls the system only.
#pragma once

#include <string>

namespace qor {

// APrefix, then the process id, the low bits of the process's start time and a process-wide
// count, in hexadecimal, '-' between them: unique among running processes.
std::wstring OwnedName(const wchar_t* APrefix);

// True when AName begins with a name OwnedName(APrefix) made and the process that made it has
// ended; false when it may still run, is this process, or the name is none of ours. AEnd, when
// given, receives the position after the tag.
bool OwnerGone(const std::wstring& AName, const wchar_t* APrefix, size_t* AEnd = nullptr) noexcept;

}  // namespace qor
