#include "services/qorFarPluginRecords.h"

#include <algorithm>

#include "common/qorTarget.h"
#include "api/qorFarPluginW.h"
#include "services/qorFarLang.h"
#include "services/qorFarSettingsStore.h"

namespace qor {

namespace {

constexpr wchar_t kOrderValue[] = L"Order";
constexpr wchar_t kPluginsKey[] = L"Plugins";
constexpr wchar_t kEnabledValue[] = L"Enabled";

bool same_path(const std::wstring& A, const std::wstring& B) noexcept {
  return ::CompareStringOrdinal(A.c_str(), static_cast<int>(A.size()), B.c_str(), static_cast<int>(B.size()), TRUE) ==
         CSTR_EQUAL;
}

std::wstring stored_text(const TqorSettingsKey& AKey, const wchar_t* AName) {
  const TqorSettingsValue* value = AKey.FindValue(AName);
  return value && value->Type == FST_STRING ? value->Text : std::wstring();
}

std::vector<std::wstring> split(const std::wstring& AText, wchar_t ASeparator) {
  std::vector<std::wstring> parts;
  size_t start = 0;
  while (start < AText.size()) {
    const size_t end = std::min(AText.find(ASeparator, start), AText.size());
    if (end > start) parts.push_back(AText.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

std::wstring joined(const std::vector<std::wstring>& AParts, const wchar_t* ASeparator) {
  std::wstring text;
  for (const std::wstring& part : AParts) text += (text.empty() ? L"" : ASeparator) + part;
  return text;
}

TqorSettingsChange change(const std::vector<std::wstring>& APath, const std::wstring& AName, int AType) {
  TqorSettingsChange result;
  result.Kind = TqorSettingsChange::SetValue;
  result.Guid = kWexlorSettingsGuid;
  result.Path = APath;
  result.Value.Name = AName;
  result.Value.Type = AType;
  return result;
}

TqorSettingsChange set_text(const std::vector<std::wstring>& APath, const std::wstring& AName, const std::wstring& AText) {
  TqorSettingsChange result = change(APath, AName, FST_STRING);
  result.Value.Text = AText;
  return result;
}

}  // namespace

const TqorPluginRecord* TqorPluginRecords::Find(const GUID& AGuid) const noexcept {
  for (const TqorPluginRecord& record : Plugins)
    if (IsEqualGUID(record.Guid, AGuid)) return &record;
  return nullptr;
}

const TqorPluginRecord* TqorPluginRecords::FindFile(const std::wstring& ARelative) const noexcept {
  for (const TqorPluginRecord& record : Plugins)
    for (const std::wstring& file : record.Files)
      if (same_path(file, ARelative)) return &record;
  return nullptr;
}

const TqorPluginRecord* TqorPluginRecords::FindDisabledOtherFolder(const std::wstring& AFolder) const noexcept {
  for (const TqorPluginRecord& record : Plugins) {
    if (record.Enabled) continue;
    for (const std::wstring& file : record.OtherFiles) {
      const size_t cut = std::min(file.find(L'\\'), file.size());
      if (::CompareStringOrdinal(file.c_str(), static_cast<int>(cut), AFolder.c_str(), static_cast<int>(AFolder.size()),
                                 TRUE) == CSTR_EQUAL)
        return &record;
    }
  }
  return nullptr;
}

size_t TqorPluginRecords::Rank(const GUID& AGuid) const noexcept {
  for (size_t i = 0; i < Order.size(); ++i)
    if (IsEqualGUID(Order[i], AGuid)) return i;
  return Order.size();
}

TqorPluginRecords ReadPluginRecords() {
  const TqorSettingsKey stored = ReadStoredTree(kWexlorSettingsGuid, false);
  TqorPluginRecords records;
  for (const std::wstring& text : split(stored_text(stored, kOrderValue), L' ')) {
    GUID guid{};
    if (ParseGuidText(text, guid)) records.Order.push_back(guid);
  }
  if (const TqorSettingsKey* plugins = stored.FindKey(kPluginsKey))
    for (const TqorSettingsKey& key : plugins->Keys) {
      TqorPluginRecord record;
      if (!ParseGuidText(key.Name, record.Guid)) continue;
      const TqorSettingsValue* enabled = key.FindValue(kEnabledValue);
      record.Enabled = !enabled || enabled->Type != FST_QWORD || enabled->Number != 0;
      record.Title = stored_text(key, L"Title");
      record.Version = stored_text(key, L"Version");
      record.Author = stored_text(key, L"Author");
      record.Description = stored_text(key, L"Description");
      record.Files = split(stored_text(key, kPluginsFolder), L'|');
      record.OtherFiles = split(stored_text(key, kOtherPluginsFolder), L'|');
      records.Plugins.push_back(std::move(record));
    }
  return records;
}

DWORD SavePluginRecords(const std::vector<TqorPluginRecord>& APlugins) {
  const TqorPluginRecords stored = ReadPluginRecords();
  std::vector<GUID> order;
  auto add = [&](const GUID& AGuid) {
    if (std::none_of(order.begin(), order.end(), [&](const GUID& AListed) { return IsEqualGUID(AListed, AGuid); }))
      order.push_back(AGuid);
  };
  for (const TqorPluginRecord& record : APlugins) add(record.Guid);
  for (const GUID& guid : stored.Order) add(guid);
  std::vector<std::wstring> order_texts;
  for (const GUID& guid : order) order_texts.push_back(GuidToText(guid));
  TqorSettingsChanges changes;
  changes.push_back(set_text({}, kOrderValue, joined(order_texts, L" ")));
  for (const TqorPluginRecord& record : APlugins) {
    const std::vector<std::wstring> path = {kPluginsKey, GuidToText(record.Guid)};
    TqorSettingsChange enabled = change(path, kEnabledValue, FST_QWORD);
    enabled.Value.Number = record.Enabled ? 1 : 0;
    changes.push_back(enabled);
    changes.push_back(set_text(path, L"Title", record.Title));
    changes.push_back(set_text(path, L"Version", record.Version));
    changes.push_back(set_text(path, L"Author", record.Author));
    changes.push_back(set_text(path, L"Description", record.Description));
    changes.push_back(set_text(path, kPluginsFolder, joined(record.Files, L"|")));
  }
  return CommitSettings(changes);
}

void AddPluginFile(const GUID& AGuid, const std::wstring& ARelative) {
  const TqorPluginRecords stored = ReadPluginRecords();
  std::vector<std::wstring> files;
  if (const TqorPluginRecord* record = stored.Find(AGuid)) files = record->Files;
  if (std::any_of(files.begin(), files.end(), [&](const std::wstring& AFile) { return same_path(AFile, ARelative); }))
    return;
  files.push_back(ARelative);
  CommitSettings({set_text({kPluginsKey, GuidToText(AGuid)}, kPluginsFolder, joined(files, L"|"))});
}

}  // namespace qor
