#include "common/qorUserStop.h"

namespace qor {
namespace {

thread_local unsigned long GUserStops = 0;

}  // namespace

void NoteUserStop() noexcept { ++GUserStops; }

unsigned long UserStops() noexcept { return GUserStops; }

}  // namespace qor
