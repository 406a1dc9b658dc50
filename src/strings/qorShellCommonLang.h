// Language string store: per-LANGID tables of tag -> text, each table and each store guarded by a
// multi-reader/single-writer lock.
#pragma once

#include <windows.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qor {

// Multi-reader/single-writer lock. Write acquisitions nest, a writer may also read, and a reader
// may ask for the write lock. While such a promotion waits, the caller's read holds are set aside
// so that two promoting readers cannot wait for each other; another writer may therefore get in
// first, which BeginWrite reports by returning false. Callers re-check what they read before.
class TqorShellLockObject {
 public:
  TqorShellLockObject() = default;
  virtual ~TqorShellLockObject() = default;
  TqorShellLockObject(const TqorShellLockObject&) = delete;
  TqorShellLockObject& operator=(const TqorShellLockObject&) = delete;

  void BeginRead() const;
  void EndRead() const;
  bool BeginWrite() const;
  void EndWrite() const;

 private:
  struct reader {
    DWORD ThreadId;
    int Count;
  };
  reader* find_reader(DWORD AThreadId) const noexcept;

  mutable SRWLOCK FState = SRWLOCK_INIT;
  mutable CONDITION_VARIABLE FChanged = CONDITION_VARIABLE_INIT;
  mutable std::vector<reader> FReaders;  // read holds per thread
  mutable int FActiveReads = 0;          // holds that keep a writer out
  mutable int FWaitingWriters = 0;
  mutable DWORD FWriter = 0;
  mutable int FWriteDepth = 0;
  mutable int FParkedReads = 0;  // the writer's own read holds, set aside during its promotion
  mutable unsigned FWriteGrants = 0;
};

// Scoped holds; every Begin is paired with its End, also when an exception passes.
class read_hold {
 public:
  explicit read_hold(const TqorShellLockObject& ALock) : FLock(ALock) { FLock.BeginRead(); }
  ~read_hold() { FLock.EndRead(); }
  read_hold(const read_hold&) = delete;
  read_hold& operator=(const read_hold&) = delete;

 private:
  const TqorShellLockObject& FLock;
};

class write_hold {
 public:
  explicit write_hold(const TqorShellLockObject& ALock) : FLock(ALock) { FUndisturbed = FLock.BeginWrite(); }
  ~write_hold() { FLock.EndWrite(); }
  write_hold(const write_hold&) = delete;
  write_hold& operator=(const write_hold&) = delete;
  bool Undisturbed() const noexcept { return FUndisturbed; }

 private:
  const TqorShellLockObject& FLock;
  bool FUndisturbed = true;
};

struct TqorShellTagValue {
  std::wstring Tag;
  std::wstring Value;
};
using PqorShellTagValue = TqorShellTagValue*;

class TqorShellLanguages;

// One table: tags (compared exactly) to texts, in insertion order, with a 256-bucket hash index.
// Entries are never removed or moved, so a pointer to an entry's text stays valid until its value
// is replaced or the table is destroyed.
class TqorShellLanguage : public TqorShellLockObject {
 public:
  TqorShellLanguage(TqorShellLanguages* AOwner, LANGID ALangID);
  ~TqorShellLanguage() override;

  LANGID LangID() const noexcept { return FLangID; }

  void Add(const std::wstring& ATag, const std::wstring& AValue);
  void Add(int ATag, const std::wstring& AValue);
  // Adds ATag with AValue only when absent; true when added. One atomic check-and-insert.
  bool AddIfAbsent(const std::wstring& ATag, const std::wstring& AValue);
  bool GetValueEx(const std::wstring& ATag, std::wstring& AValue) const;
  std::wstring GetValue(const std::wstring& ATag) const;
  // The entry of a tag, or null; the entry lives as long as the table.
  const TqorShellTagValue* Find(std::wstring_view ATag) const;

  PqorShellTagValue GetTagValue(int AIndex) const;  // no lock
  int Count() const noexcept { return static_cast<int>(FList.size()); }  // no lock

 private:
  static constexpr size_t kBuckets = 256;
  struct slot {
    std::uint32_t Hash;
    std::uint32_t Position;
  };
  static std::uint32_t hash_of(std::wstring_view ATag) noexcept;
  // Call with a lock held; returns the position or -1.
  int locate(std::wstring_view ATag, std::uint32_t AHash) const noexcept;
  void UpdateHash() const;
  // Call with the write lock held.
  void insert_locked(const std::wstring& ATag, const std::wstring& AValue);

  TqorShellLanguages* FOwner;
  LANGID FLangID;
  std::vector<std::unique_ptr<TqorShellTagValue>> FList;
  mutable std::array<std::vector<slot>, kBuckets> FHash;
  mutable std::atomic<bool> FHashValid{false};

  friend class TqorShellLanguages;
};

// A store: one table per LANGID, created on demand and kept until the store is destroyed.
class TqorShellLanguages : public TqorShellLockObject {
 public:
  TqorShellLanguages() = default;
  ~TqorShellLanguages() override;

  // The table of the calling thread's UI language; never null.
  TqorShellLanguage* Lang();
  // The table of a LANGID, created and initialised on first demand.
  TqorShellLanguage* LangByID(LANGID ALangID);
  TqorShellLanguage* GetLang_(int AIndex) const;
  int Count() const;
  bool HasLangList() const noexcept { return FLangs != nullptr; }

 protected:
  // Called on every new table, under the store's write lock.
  virtual void InitLang(TqorShellLanguage* ALang);

 private:
  TqorShellLanguage* find_or_create(LANGID ALangID);

  friend class TqorShellLanguage;
  std::unique_ptr<std::vector<TqorShellLanguage*>> FLangs;  // owns the tables
  // The table found last: tables live as long as the store, so a hit needs no lock.
  std::atomic<TqorShellLanguage*> FLastLang{nullptr};
};

// The calling thread's UI language (Vista and later), else the user's default language.
LANGID GetCurrentLangID() noexcept;

std::wstring IntToTag(int AValue);

}  // namespace qor
