// The archives being changed, process-wide.
#include "hosting/qorFarArchiveLocks.h"

#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <set>

#include "common/qorText.h"
#include "services/qorFarCurrentFolder.h"

namespace qor {
namespace {

std::mutex GLock;
std::condition_variable GReleased;
std::set<std::wstring> GChanging;

std::wstring key_of(const std::wstring& AArchive) { return FoldedName(FarFullPath(AArchive)); }

}  // namespace

TqorArchiveChangeLock::TqorArchiveChangeLock(const std::wstring& AArchive) : FKey(key_of(AArchive)) {
  std::unique_lock<std::mutex> guard(GLock);
  GReleased.wait(guard, [&] { return GChanging.count(FKey) == 0; });
  GChanging.insert(FKey);
}

TqorArchiveChangeLock::~TqorArchiveChangeLock() {
  {
    std::lock_guard<std::mutex> guard(GLock);
    GChanging.erase(FKey);
  }
  GReleased.notify_all();
}

}  // namespace qor
