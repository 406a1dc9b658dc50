#include "services/qorFarSettingsStore.h"

#include <shlobj.h>

#include <atomic>

#include "common/qorLocks.h"
#include "common/qorText.h"

namespace qor {

void ApplySettingsChanges(TqorSettingsDocument& ADocument, const TqorSettingsChanges& AChanges) {
  for (const TqorSettingsChange& change : AChanges) {
    TqorSettingsKey* key = &ADocument.Tree(change.Guid, change.Local);
    const bool creating = change.Kind == TqorSettingsChange::CreateKey || change.Kind == TqorSettingsChange::SetValue;
    // A deleted key takes its name off its parent.
    const size_t depth = change.Kind == TqorSettingsChange::DeleteKey && !change.Path.empty() ? change.Path.size() - 1
                                                                                                : change.Path.size();
    for (size_t i = 0; key && i < depth; ++i) key = creating ? &key->Key(change.Path[i]) : key->FindKey(change.Path[i]);
    if (!key) continue;
    switch (change.Kind) {
      case TqorSettingsChange::CreateKey:
        break;
      case TqorSettingsChange::SetValue:
        key->Value(change.Value.Name) = change.Value;
        break;
      case TqorSettingsChange::DeleteValue:
        key->RemoveValue(change.Value.Name);
        break;
      case TqorSettingsChange::DeleteKey:
        if (change.Path.empty()) {
          key->Keys.clear();
          key->Values.clear();
        } else {
          key->RemoveKey(change.Path.back());
        }
        break;
    }
  }
}

namespace {

// A writer that finds the lock taken waits this long before it keeps its changes for later; a
// reader then reads without it (a replacement is atomic, it sees one whole file or the other).
constexpr DWORD kLockTimeout = 5000;

std::wstring default_folder() {
  wchar_t buffer[MAX_PATH * 2] = {};
  const DWORD length = ::GetEnvironmentVariableW(L"APPDATA", buffer, MAX_PATH * 2);
  std::wstring folder;
  if (length > 0 && length < MAX_PATH * 2) {
    folder.assign(buffer, length);
  } else if (SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer))) {
    folder = buffer;
  }
  if (folder.empty()) return {};
  if (folder.back() != L'\\') folder += L'\\';
  return folder + L"Wexlor\\";
}

struct store_state {
  critical_section Lock;
  std::wstring Folder;  // with its trailing backslash; empty: the default
  std::wstring FileName;
  bool Loaded = false;
  TqorSettingsDocument Document;
  TqorSettingsStamp Stamp;
  // Changes the file does not hold yet: replayed on every new reading of it.
  TqorSettingsChanges Pending;
  // The size of the file as last read or written; read without the lock.
  std::atomic<std::uint64_t> TextSize{0};
};

store_state GStore;

using store_guard = lock_guard<critical_section>;

void ensure_file_name() {
  if (!GStore.FileName.empty()) return;
  const std::wstring folder = GStore.Folder.empty() ? default_folder() : GStore.Folder;
  GStore.FileName = folder + kSettingsFileName;
}

void make_folder() {
  const size_t cut = GStore.FileName.find_last_of(L'\\');
  if (cut != std::wstring::npos) ::CreateDirectoryW(GStore.FileName.substr(0, cut).c_str(), nullptr);
}

// A damaged file is set aside only under the lock: without it, the file may be another process's
// good one by the time it would be renamed. False when the file is there but could be neither read
// nor set aside: it is read again next time, and not written over meanwhile.
bool read_file(bool ALockHeld) {
  TqorSettingsDocument document;
  const TqorSettingsRead read = ReadSettingsFile(GStore.FileName, ALockHeld, document, GStore.Stamp);
  if (read == TqorSettingsRead::Unusable) GStore.Stamp = TqorSettingsStamp{};
  GStore.TextSize = GStore.Stamp.Size;
  ApplySettingsChanges(document, GStore.Pending);
  GStore.Document = std::move(document);
  GStore.Loaded = true;
  return read != TqorSettingsRead::Unusable;
}

// Under the lock file: what the file holds now, with the waiting changes replayed on it, takes its
// place. When that would be more than a reader takes, the changes from AAccepted on (the latest
// commit's) are dropped, and if that is not enough every waiting change: the file keeps what it has.
DWORD write_locked(size_t AAccepted) {
  TqorSettingsDocument base;
  TqorSettingsStamp stamp;
  DWORD error = ERROR_SUCCESS;
  if (ReadSettingsFile(GStore.FileName, true, base, stamp, &error) == TqorSettingsRead::Unusable) {
    // Not written over; this process goes on seeing the waiting changes.
    GStore.Stamp = TqorSettingsStamp{};
    GStore.TextSize = 0;
    ApplySettingsChanges(base, GStore.Pending);
    GStore.Document = std::move(base);
    GStore.Loaded = true;
    return error;
  }
  bool refused = false;
  std::string text;
  for (;;) {
    GStore.Document = base;
    ApplySettingsChanges(GStore.Document, GStore.Pending);
    if (GStore.Pending.empty()) break;
    text = FormatSettings(GStore.Document);
    if (text.size() <= kMaxSettingsFileSize) break;
    refused = true;
    GStore.Pending.resize(GStore.Pending.size() > AAccepted ? AAccepted : 0);
  }
  GStore.Stamp = stamp;
  GStore.TextSize = stamp.Size;
  GStore.Loaded = true;
  if (GStore.Pending.empty()) return refused ? ERROR_FILE_TOO_LARGE : ERROR_SUCCESS;
  error = WriteSettingsFile(GStore.FileName, text, GStore.Stamp);
  if (error != ERROR_SUCCESS) return error;
  GStore.Pending.clear();
  GStore.TextSize = text.size();
  return refused ? ERROR_FILE_TOO_LARGE : ERROR_SUCCESS;
}

// The waiting changes go to the file when its lock can be had; else the file is read again (when
// another process replaced it) with them replayed on it.
DWORD write_pending() {
  make_folder();
  TqorSettingsLock lock(GStore.FileName, kLockTimeout);
  if (lock.Held()) return write_locked(GStore.Pending.size());
  if (!GStore.Loaded || SettingsFileStamp(GStore.FileName) != GStore.Stamp) read_file(false);
  return lock.Error();
}

void refresh() {
  ensure_file_name();
  if (!GStore.Pending.empty()) {
    write_pending();
    return;
  }
  if (GStore.Loaded && SettingsFileStamp(GStore.FileName) == GStore.Stamp) return;
  TqorSettingsLock lock(GStore.FileName, kLockTimeout);
  read_file(lock.Held());
}

}  // namespace

void SetSettingsFolder(const std::wstring& ADefaultIniName) {
  std::wstring folder;
  const size_t cut = ADefaultIniName.find_last_of(L"\\/");
  if (cut != std::wstring::npos) {
    wchar_t buffer[MAX_PATH * 2] = {};
    const std::wstring given = ADefaultIniName.substr(0, cut + 1);
    const DWORD length = ::GetFullPathNameW(given.c_str(), MAX_PATH * 2, buffer, nullptr);
    folder = length > 0 && length < MAX_PATH * 2 ? std::wstring(buffer, length) : given;
    if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
  }
  store_guard guard(GStore.Lock);
  if (folder == GStore.Folder && !GStore.FileName.empty()) return;
  GStore.Folder = folder;
  GStore.FileName.clear();
  // Another file: read at the next request, with the changes not written yet.
  GStore.Loaded = false;
}

std::wstring SettingsFileName() {
  store_guard guard(GStore.Lock);
  ensure_file_name();
  return GStore.FileName;
}

TqorSettingsKey ReadStoredTree(const GUID& AGuid, bool ALocal) {
  store_guard guard(GStore.Lock);
  refresh();
  const TqorSettingsKey* tree = GStore.Document.Find(AGuid, ALocal);
  return tree ? *tree : TqorSettingsKey{};
}

DWORD CommitSettings(const TqorSettingsChanges& AChanges) {
  store_guard guard(GStore.Lock);
  ensure_file_name();
  const size_t accepted = GStore.Pending.size();
  GStore.Pending.insert(GStore.Pending.end(), AChanges.begin(), AChanges.end());
  make_folder();
  TqorSettingsLock lock(GStore.FileName, kLockTimeout);
  // What another process wrote since we last looked is the base the changes go on.
  if (lock.Held()) return write_locked(accepted);
  if (!GStore.Loaded)
    read_file(false);
  else
    ApplySettingsChanges(GStore.Document, AChanges);
  return lock.Error();
}

void WritePendingSettings() noexcept {
  try {
    try_lock_guard<critical_section> guard(GStore.Lock);
    if (!guard.Owns() || GStore.Pending.empty()) return;
    ensure_file_name();
    write_pending();
  } catch (...) {
    // Nothing more can be done for them at unload.
  }
}

std::uint64_t SettingsFileRoom() noexcept {
  const std::uint64_t size = GStore.TextSize;
  return size < kMaxSettingsFileSize ? kMaxSettingsFileSize - size : 0;
}

}  // namespace qor
