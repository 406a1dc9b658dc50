// The user's own "stop" while a plugin runs: Esc, the close box or a Cancel button in a dialog or
// message the plugin showed. A plugin answers both that and a damaged entry with -1; hosting
// compares the count before and after a call to tell the two apart.
#pragma once

namespace qor {

// Notes one stop on the calling thread.
void NoteUserStop() noexcept;
// The stops noted on the calling thread so far.
unsigned long UserStops() noexcept;

}  // namespace qor
