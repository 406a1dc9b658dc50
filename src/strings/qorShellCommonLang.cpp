#include "strings/qorShellCommonLang.h"

#include <algorithm>

#include "common/qorErrors.h"

namespace qor {

namespace {

// The lock's own state is guarded by an exclusive SRW hold for a few instructions at a time.
class state_guard {
 public:
  explicit state_guard(SRWLOCK& ALock) noexcept : FLock(ALock) { ::AcquireSRWLockExclusive(&FLock); }
  ~state_guard() { ::ReleaseSRWLockExclusive(&FLock); }
  state_guard(const state_guard&) = delete;
  state_guard& operator=(const state_guard&) = delete;

 private:
  SRWLOCK& FLock;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// TqorShellLockObject

TqorShellLockObject::reader* TqorShellLockObject::find_reader(DWORD AThreadId) const noexcept {
  for (reader& r : FReaders)
    if (r.ThreadId == AThreadId) return &r;
  return nullptr;
}

void TqorShellLockObject::BeginRead() const {
  const DWORD me = ::GetCurrentThreadId();
  state_guard guard(FState);
  reader* mine = find_reader(me);
  // A thread that already reads or writes goes on at once: waiting for a queued writer here would
  // wait for ourselves.
  if (FWriter != me && !mine) {
    while (FWriter != 0 || FWaitingWriters > 0) ::SleepConditionVariableSRW(&FChanged, &FState, INFINITE, 0);
  }
  if (!mine) {
    FReaders.push_back({me, 0});
    mine = &FReaders.back();
  }
  ++mine->Count;
  ++FActiveReads;
}

void TqorShellLockObject::EndRead() const {
  const DWORD me = ::GetCurrentThreadId();
  state_guard guard(FState);
  reader* mine = find_reader(me);
  if (!mine || mine->Count == 0) return;
  // A writer that ends a read it had set aside before its promotion gives up a parked hold.
  if (FWriter == me && mine->Count <= FParkedReads)
    --FParkedReads;
  else
    --FActiveReads;
  if (--mine->Count == 0) FReaders.erase(FReaders.begin() + (mine - FReaders.data()));
  if (FActiveReads == 0) ::WakeAllConditionVariable(&FChanged);
}

bool TqorShellLockObject::BeginWrite() const {
  const DWORD me = ::GetCurrentThreadId();
  state_guard guard(FState);
  if (FWriter == me) {
    ++FWriteDepth;
    return true;
  }
  const reader* mine = find_reader(me);
  const int parked = mine ? mine->Count : 0;
  // Set our own read holds aside while waiting: two readers promoting at once would otherwise
  // each wait for the other's read to end.
  FActiveReads -= parked;
  ++FWaitingWriters;
  if (parked) ::WakeAllConditionVariable(&FChanged);
  const unsigned grants = FWriteGrants;
  while (FWriter != 0 || FActiveReads > 0) ::SleepConditionVariableSRW(&FChanged, &FState, INFINITE, 0);
  --FWaitingWriters;
  FWriter = me;
  FWriteDepth = 1;
  FParkedReads = parked;
  return FWriteGrants++ == grants;
}

void TqorShellLockObject::EndWrite() const {
  const DWORD me = ::GetCurrentThreadId();
  state_guard guard(FState);
  if (FWriter != me) return;
  if (--FWriteDepth > 0) return;
  // Hand the parked reads back: the writer goes on as a reader without a gap.
  FWriter = 0;
  FActiveReads += FParkedReads;
  FParkedReads = 0;
  ::WakeAllConditionVariable(&FChanged);
}

// ---------------------------------------------------------------------------------------------
// TqorShellLanguage

TqorShellLanguage::TqorShellLanguage(TqorShellLanguages* AOwner, LANGID ALangID)
    : FOwner(AOwner), FLangID(ALangID) {
  if (FOwner) {
    write_hold hold(*FOwner);
    if (!FOwner->FLangs) FOwner->FLangs = std::make_unique<std::vector<TqorShellLanguage*>>();
    FOwner->FLangs->push_back(this);
  }
}

TqorShellLanguage::~TqorShellLanguage() {
  if (FOwner) {
    TqorShellLanguage* self = this;
    FOwner->FLastLang.compare_exchange_strong(self, nullptr);
    write_hold hold(*FOwner);
    if (FOwner->FLangs) {
      auto& langs = *FOwner->FLangs;
      auto it = std::find(langs.begin(), langs.end(), this);
      if (it != langs.end()) langs.erase(it);
    }
    FOwner = nullptr;
  }
}

std::uint32_t TqorShellLanguage::hash_of(std::wstring_view ATag) noexcept {
  std::uint32_t h = 2166136261u;
  for (wchar_t c : ATag) {
    h ^= static_cast<std::uint16_t>(c);
    h *= 16777619u;
  }
  return h;
}

int TqorShellLanguage::locate(std::wstring_view ATag, std::uint32_t AHash) const noexcept {
  for (const slot& s : FHash[AHash % kBuckets])
    if (s.Hash == AHash && FList[s.Position]->Tag == ATag) return static_cast<int>(s.Position);
  return -1;
}

void TqorShellLanguage::UpdateHash() const {
  if (FHashValid.load(std::memory_order_acquire)) return;
  write_hold hold(*this);
  // A promotion may have let another writer rebuild the index first.
  if (FHashValid.load(std::memory_order_relaxed)) return;
  for (auto& bucket : FHash) bucket.clear();
  for (size_t i = 0; i < FList.size(); ++i) {
    const std::uint32_t h = hash_of(FList[i]->Tag);
    FHash[h % kBuckets].push_back({h, static_cast<std::uint32_t>(i)});
  }
  FHashValid.store(true, std::memory_order_release);
}

void TqorShellLanguage::insert_locked(const std::wstring& ATag, const std::wstring& AValue) {
  UpdateHash();
  const std::uint32_t h = hash_of(ATag);
  const int position = locate(ATag, h);
  if (position >= 0) {
    FList[position]->Value = AValue;
    return;
  }
  FList.push_back(std::make_unique<TqorShellTagValue>(TqorShellTagValue{ATag, AValue}));
  // The new tag goes straight into the valid index: rebuilding it on every insertion would make
  // loading n texts cost n^2.
  try {
    FHash[h % kBuckets].push_back({h, static_cast<std::uint32_t>(FList.size() - 1)});
  } catch (...) {
    FHashValid.store(false, std::memory_order_release);
    throw;
  }
}

void TqorShellLanguage::Add(const std::wstring& ATag, const std::wstring& AValue) {
  write_hold hold(*this);
  insert_locked(ATag, AValue);
}

void TqorShellLanguage::Add(int ATag, const std::wstring& AValue) { Add(IntToTag(ATag), AValue); }

bool TqorShellLanguage::AddIfAbsent(const std::wstring& ATag, const std::wstring& AValue) {
  write_hold hold(*this);
  UpdateHash();
  if (locate(ATag, hash_of(ATag)) >= 0) return false;
  insert_locked(ATag, AValue);
  return true;
}

const TqorShellTagValue* TqorShellLanguage::Find(std::wstring_view ATag) const {
  read_hold hold(*this);
  UpdateHash();
  const int position = locate(ATag, hash_of(ATag));
  return position >= 0 ? FList[position].get() : nullptr;
}

bool TqorShellLanguage::GetValueEx(const std::wstring& ATag, std::wstring& AValue) const {
  AValue.clear();
  read_hold hold(*this);
  UpdateHash();
  const int position = locate(ATag, hash_of(ATag));
  if (position < 0) {
    AValue = ATag;
    return false;
  }
  AValue = FList[position]->Value;
  return true;
}

std::wstring TqorShellLanguage::GetValue(const std::wstring& ATag) const {
  std::wstring value;
  GetValueEx(ATag, value);
  return value;
}

PqorShellTagValue TqorShellLanguage::GetTagValue(int AIndex) const {
  if (AIndex < 0 || AIndex >= Count()) throw EqorError(L"List index out of bounds (" + IntToTag(AIndex) + L")");
  return FList[AIndex].get();
}

// ---------------------------------------------------------------------------------------------
// TqorShellLanguages

TqorShellLanguages::~TqorShellLanguages() {
  FLastLang.store(nullptr);
  if (FLangs) {
    // Each table takes itself out of the list as it goes.
    while (!FLangs->empty()) {
      TqorShellLanguage* last = FLangs->back();
      delete last;
      if (!FLangs->empty() && FLangs->back() == last) FLangs->pop_back();
    }
    FLangs.reset();
  }
}

TqorShellLanguage* TqorShellLanguages::Lang() { return LangByID(GetCurrentLangID()); }

TqorShellLanguage* TqorShellLanguages::LangByID(LANGID ALangID) {
  if (TqorShellLanguage* last = FLastLang.load(std::memory_order_acquire); last && last->FLangID == ALangID)
    return last;
  TqorShellLanguage* found = find_or_create(ALangID);
  FLastLang.store(found, std::memory_order_release);
  return found;
}

TqorShellLanguage* TqorShellLanguages::find_or_create(LANGID ALangID) {
  {
    read_hold hold(*this);
    if (FLangs)
      for (TqorShellLanguage* lang : *FLangs)
        if (lang->FLangID == ALangID) return lang;
  }
  // Find-or-create under the write lock, so that two threads asking for the same new language
  // get one table, filled once.
  write_hold hold(*this);
  if (FLangs)
    for (TqorShellLanguage* lang : *FLangs)
      if (lang->FLangID == ALangID) return lang;
  TqorShellLanguage* lang = new TqorShellLanguage(this, ALangID);
  InitLang(lang);
  return lang;
}

TqorShellLanguage* TqorShellLanguages::GetLang_(int AIndex) const {
  read_hold hold(*this);
  if (!FLangs || AIndex < 0 || AIndex >= static_cast<int>(FLangs->size()))
    throw EqorError(L"List index out of bounds (" + IntToTag(AIndex) + L")");
  return (*FLangs)[AIndex];
}

int TqorShellLanguages::Count() const {
  read_hold hold(*this);
  return FLangs ? static_cast<int>(FLangs->size()) : 0;
}

void TqorShellLanguages::InitLang(TqorShellLanguage*) {}

// ---------------------------------------------------------------------------------------------

namespace {

using get_thread_ui_language = LANGID(WINAPI*)();

// GetThreadUILanguage exists from Vista on; kernel32 is never unloaded, so the lookup is made
// once (the loader lock it takes would otherwise be contended by every message request).
get_thread_ui_language resolve_thread_ui_language() noexcept {
  if (LOBYTE(LOWORD(::GetVersion())) < 6) return nullptr;
  HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  if (!kernel) return nullptr;
  return reinterpret_cast<get_thread_ui_language>(
      reinterpret_cast<void*>(::GetProcAddress(kernel, "GetThreadUILanguage")));
}

}  // namespace

LANGID GetCurrentLangID() noexcept {
  static const get_thread_ui_language get = resolve_thread_ui_language();
  return get ? get() : ::GetUserDefaultLangID();
}

std::wstring IntToTag(int AValue) { return std::to_wstring(AValue); }

}  // namespace qor
