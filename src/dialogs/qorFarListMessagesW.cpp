#include "dialogs/qorFarListMessagesW.h"

#include <algorithm>
#include <cwctype>
#include <string>
#include <vector>

#include "common/qorPluginGuard.h"

namespace qor {

namespace {

// Plugins' data bytes for one entry are capped: a wrong DataSize must not exhaust memory.
constexpr size_t MaxListData = 1u << 24;

bool can_be_current(TFarFlags AFlags) noexcept { return !(AFlags & (LIF_SEPARATOR | LIF_DISABLE | LIF_HIDDEN)); }

// Flags as FAR keeps them: the current entry is the list's position, not a flag; a check-mark
// character sets LIF_CHECKED, and the plain mark (1) is no character.
TFarFlags stored_flags(TFarFlags AFlags) noexcept {
  TFarFlags flags = AFlags & ~LIF_SELECTED;
  if (flags & 0xFFFF) {
    flags |= LIF_CHECKED;
    if ((flags & 0xFFFF) == 1) flags &= ~TFarFlags{0xFFFF};
  }
  return flags;
}

std::wstring without_hotkeys(const std::wstring& AText) {
  std::wstring out;
  for (size_t i = 0; i < AText.size(); ++i) {
    if (AText[i] == L'&' && i + 1 < AText.size()) ++i;
    out += AText[i];
  }
  return out;
}

// One legacy wildcard mask against the whole text, case-insensitive: '*', '?' and '[...]' sets.
bool wildcard_match(const wchar_t* AMask, const wchar_t* AText) {
  for (; *AMask; ++AMask, ++AText) {
    if (*AMask == L'*') {
      while (AMask[1] == L'*') ++AMask;
      for (const wchar_t* rest = AText;; ++rest) {
        if (wildcard_match(AMask + 1, rest)) return true;
        if (!*rest) return false;
      }
    }
    if (!*AText) return false;
    if (*AMask == L'[') {
      const wchar_t c = static_cast<wchar_t>(std::towupper(*AText));
      bool hit = false;
      const wchar_t* p = AMask + 1;
      for (; *p && *p != L']'; ++p) {
        const wchar_t low = static_cast<wchar_t>(std::towupper(*p));
        wchar_t high = low;
        if (p[1] == L'-' && p[2] && p[2] != L']') {
          high = static_cast<wchar_t>(std::towupper(p[2]));
          p += 2;
        }
        hit = hit || (c >= low && c <= high);
      }
      if (!*p || !hit) return false;
      AMask = p;
    } else if (*AMask != L'?' && std::towupper(*AMask) != std::towupper(*AText)) {
      return false;
    }
  }
  return !*AText;
}

// The entry a FarListItem describes, read under the guard.
bool read_item(const TFarListItem& AItem, TqorFarListEntry& AEntry) {
  AEntry.Flags = AItem.Flags;
  AEntry.UserData = AItem.UserData;
  return CopyPluginText(AItem.Text, AEntry.Text);
}

class list_session {
 public:
  list_session(TqorFarDialog& ADialog, int AIndex, TqorFarListItems& AList)
      : FDialog(ADialog), FIndex(AIndex), FList(AList), FEntries(AList.EditEntries()) {}

  intptr_t Run(intptr_t AMsg, void* AParam2);

 private:
  intptr_t count() const noexcept { return static_cast<intptr_t>(FEntries.size()); }
  bool valid(intptr_t AIndex) const noexcept { return AIndex >= 0 && AIndex < count(); }
  intptr_t first_current_from(intptr_t AStart) const noexcept {
    for (intptr_t i = std::max<intptr_t>(AStart, 0); i < count(); ++i)
      if (can_be_current(FEntries[static_cast<size_t>(i)].Flags)) return i;
    return -1;
  }
  // FAR moves the current entry itself; the procedure hears of it once DN_INITDIALOG returned
  // and may keep the previous one (when there was one).
  void move_to(intptr_t APosition, intptr_t APrevious) {
    FList.SetPositionQuiet(APosition);
    if (APosition < 0 || !FDialog.InitDialogDone()) return;
    if (FDialog.Notify(DN_LISTCHANGE, FIndex, reinterpret_cast<void*>(APosition)) == 0 && valid(APrevious))
      FList.SetPositionQuiet(APrevious);
  }
  // One entry into the list at AAt: LIF_SELECTED makes it current at once; into a list without a
  // current entry the first that can be current is moved to.
  void insert(TqorFarListEntry AEntry, intptr_t AAt) {
    const bool selected = (AEntry.Flags & LIF_SELECTED) && can_be_current(AEntry.Flags);
    AEntry.Flags = stored_flags(AEntry.Flags);
    FEntries.insert(FEntries.begin() + AAt, std::move(AEntry));
    intptr_t position = FList.Position();
    if (position >= AAt) FList.SetPositionQuiet(++position);
    if (selected)
      FList.SetPositionQuiet(AAt);
    else if (position < 0)
      move_to(first_current_from(0), -1);
  }
  bool read_list(void* AParam2, std::vector<TqorFarListEntry>& AEntries) {
    TFarList list;
    if (!ReadPluginRecord(AParam2, list)) return false;
    AEntries = ReadFarList(&list);
    return true;
  }
  // The window follows every change; a drop-down list's field shows the current entry.
  void changed(bool AAnyCombo = false) {
    FList.ShowEntries();
    const TFarDialogItem& item = FDialog.Item(FIndex);
    const bool follows = item.Type == DI_COMBOBOX && (AAnyCombo || (item.Flags & DIF_DROPDOWNLIST));
    if (!follows || FList.Position() < 0 || (item.Flags & DIF_READONLY)) return;
    IqorFarControl* control = FDialog.GetFarControl(FIndex);
    control->SetItemText(FEntries[static_cast<size_t>(FList.Position())].Text);
    FDialog.ItemTextChanged(FIndex);
  }

  intptr_t get_item(void* AParam2);
  intptr_t update(void* AParam2);
  intptr_t remove(void* AParam2);
  intptr_t find(void* AParam2);
  intptr_t set_data(void* AParam2);
  intptr_t get_titles(void* AParam2);
  void sort(bool ADescending);

  TqorFarDialog& FDialog;
  int FIndex;
  TqorFarListItems& FList;
  std::vector<TqorFarListEntry>& FEntries;
};

intptr_t list_session::get_item(void* AParam2) {
  TFarListGetItem request;
  if (!ReadPluginRecord(AParam2, request) || !valid(request.ItemIndex)) return FALSE;
  const TqorFarListEntry& entry = FEntries[static_cast<size_t>(request.ItemIndex)];
  const TFarListItem item{entry.Flags | (request.ItemIndex == FList.Position() ? LIF_SELECTED : 0), entry.Text.c_str(),
                          entry.UserData, 0};
  return WritePluginValue(&static_cast<TFarListGetItem*>(AParam2)->Item, item) ? TRUE : FALSE;
}

intptr_t list_session::update(void* AParam2) {
  TFarListUpdate request;
  TqorFarListEntry entry;
  if (!ReadPluginRecord(AParam2, request) || !valid(request.Index) || !read_item(request.Item, entry)) return FALSE;
  TqorFarListEntry& target = FEntries[static_cast<size_t>(request.Index)];
  const bool selected = (entry.Flags & LIF_SELECTED) && can_be_current(entry.Flags);
  if (entry.Flags & LIF_DELETEUSERDATA) target.Data.clear();
  target.Text = std::move(entry.Text);
  target.Flags = stored_flags(entry.Flags);
  target.UserData = entry.UserData;
  if (selected)
    FList.SetPositionQuiet(request.Index);
  else if (FList.Position() == request.Index || FList.Position() < 0)
    move_to(first_current_from(0), FList.Position());
  return TRUE;
}

// Entries from StartIndex on go; when the current one goes, the first that can be current at or
// after the gap takes over, else the nearest before it.
intptr_t list_session::remove(void* AParam2) {
  TFarListDelete request{};
  if (AParam2 && !ReadPluginRecord(AParam2, request)) return FALSE;
  if (!AParam2 || request.Count <= 0) {
    FEntries.clear();
    FList.SetPositionQuiet(-1);
    return TRUE;
  }
  if (!valid(request.StartIndex)) return TRUE;
  const intptr_t start = request.StartIndex;
  const intptr_t gone = std::min(request.Count, count() - start);
  FEntries.erase(FEntries.begin() + start, FEntries.begin() + start + gone);
  const intptr_t position = FList.Position();
  if (position >= start + gone) {
    FList.SetPositionQuiet(position - gone);
  } else if (position >= start) {
    intptr_t next = first_current_from(start);
    for (intptr_t i = start - 1; next < 0 && i >= 0; --i)
      if (can_be_current(FEntries[static_cast<size_t>(i)].Flags)) next = i;
    move_to(next, -1);
  }
  return TRUE;
}

intptr_t list_session::find(void* AParam2) {
  TFarListFind request;
  std::wstring pattern;
  if (!ReadPluginRecord(AParam2, request) || !valid(request.StartIndex) || !CopyPluginText(request.Pattern, pattern))
    return -1;
  for (intptr_t i = request.StartIndex; i < count(); ++i) {
    const std::wstring text = without_hotkeys(FEntries[static_cast<size_t>(i)].Text);
    if ((request.Flags & LIFIND_EXACTMATCH) ? text == pattern : wildcard_match(pattern.c_str(), text.c_str())) return i;
  }
  return -1;
}

intptr_t list_session::set_data(void* AParam2) {
  TFarListItemData request;
  if (!ReadPluginRecord(AParam2, request) || !valid(request.Index)) return FALSE;
  std::vector<unsigned char> bytes;
  if (request.DataSize == 0) {
    std::wstring text;
    if (!CopyPluginText(static_cast<const wchar_t*>(request.Data), text)) return FALSE;
    const auto* first = reinterpret_cast<const unsigned char*>(text.c_str());
    bytes.assign(first, first + (text.size() + 1) * sizeof(wchar_t));
  } else {
    if (request.DataSize > MaxListData) return FALSE;
    bytes.resize(request.DataSize);
    if (!CopyPluginMemory(bytes.data(), request.Data, bytes.size())) return FALSE;
  }
  FEntries[static_cast<size_t>(request.Index)].Data = std::move(bytes);
  return TRUE;
}

intptr_t list_session::get_titles(void* AParam2) {
  TFarListTitles request;
  if (!ReadPluginRecord(AParam2, request) || (FList.Title.empty() && FList.Bottom.empty())) return FALSE;
  auto* target = static_cast<TFarListTitles*>(AParam2);
  auto give = [](const std::wstring& ATitle, const wchar_t* AText, size_t ASize, size_t* ASizeField) {
    if (!AText || ASize == 0) return WritePluginValue(ASizeField, ATitle.size() + 1);
    const std::wstring cut = ATitle.substr(0, ASize - 1);
    return CopyPluginMemory(const_cast<wchar_t*>(AText), cut.c_str(), (cut.size() + 1) * sizeof(wchar_t));
  };
  return give(FList.Title, request.Title, request.TitleSize, &target->TitleSize) &&
                 give(FList.Bottom, request.Bottom, request.BottomSize, &target->BottomSize)
             ? TRUE
             : FALSE;
}

// By text without hotkey marks, ignoring case; the current position keeps its index.
void list_session::sort(bool ADescending) {
  std::stable_sort(FEntries.begin(), FEntries.end(), [&](const TqorFarListEntry& A, const TqorFarListEntry& B) {
    const std::wstring a = without_hotkeys(A.Text), b = without_hotkeys(B.Text);
    const int order = ::CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.c_str(), static_cast<int>(a.size()),
                                       b.c_str(), static_cast<int>(b.size()));
    return ADescending ? order == CSTR_GREATER_THAN : order == CSTR_LESS_THAN;
  });
  const intptr_t position = FList.Position();
  if (valid(position) && !can_be_current(FEntries[static_cast<size_t>(position)].Flags))
    FList.SetPositionQuiet(first_current_from(0));
}

intptr_t list_session::Run(intptr_t AMsg, void* AParam2) {
  const intptr_t p2 = reinterpret_cast<intptr_t>(AParam2);
  switch (AMsg) {
    case DM_LISTGETITEM: return get_item(AParam2);
    case DM_LISTGETCURPOS: {
      TFarListPos pos;
      if (ReadPluginRecord(AParam2, pos)) {
        pos.SelectPos = FList.Position();
        pos.TopPos = 0;
        WritePluginValue(AParam2, pos);
      }
      return FList.Position();
    }
    case DM_LISTSETCURPOS: {
      TFarListPos pos;
      if (!ReadPluginRecord(AParam2, pos) || FEntries.empty()) return -1;
      const intptr_t result = FList.SetPositionNotified(pos.SelectPos);
      changed(true);
      return result;
    }
    case DM_LISTINFO: {
      TFarListInfo info;
      if (!ReadPluginRecord(AParam2, info)) return FALSE;
      info.Flags = 0;
      info.ItemsNumber = FEntries.size();
      info.SelectPos = FList.Position();
      info.TopPos = 0;
      info.MaxHeight = 0;
      info.MaxLength = 0;
      for (const TqorFarListEntry& entry : FEntries)
        info.MaxLength = std::max<intptr_t>(info.MaxLength, static_cast<intptr_t>(entry.Text.size()));
      return WritePluginValue(AParam2, info) ? TRUE : FALSE;
    }
    case DM_LISTFINDSTRING: return find(AParam2);
    case DM_LISTGETDATA:
      return valid(p2) && !FEntries[static_cast<size_t>(p2)].Data.empty()
                 ? reinterpret_cast<intptr_t>(FEntries[static_cast<size_t>(p2)].Data.data())
                 : 0;
    case DM_LISTGETDATASIZE: return valid(p2) ? static_cast<intptr_t>(FEntries[static_cast<size_t>(p2)].Data.size()) : 0;
    case DM_LISTSETDATA: return set_data(AParam2);
    case DM_LISTGETTITLES: return get_titles(AParam2);
    default: break;
  }
  // The commands that change the list.
  intptr_t result = 0;
  switch (AMsg) {
    case DM_LISTSORT:
      sort(AParam2 != nullptr);
      result = TRUE;
      break;
    case DM_LISTADD:
    case DM_LISTSET: {
      std::vector<TqorFarListEntry> entries;
      if (!read_list(AParam2, entries)) return FALSE;
      if (AMsg == DM_LISTSET) {
        FEntries.clear();
        FList.SetPositionQuiet(-1);
      }
      for (TqorFarListEntry& entry : entries) insert(std::move(entry), count());
      result = count();
      break;
    }
    case DM_LISTADDSTR: {
      TqorFarListEntry entry;
      if (!AParam2) {
        entry.Flags = LIF_SEPARATOR;
      } else if (!CopyPluginText(static_cast<const wchar_t*>(AParam2), entry.Text)) {
        return -1;
      } else if (!entry.Text.empty() && entry.Text[0] == L'\x01') {
        entry.Flags = LIF_SEPARATOR;
        entry.Text.erase(0, 1);
      }
      insert(std::move(entry), count());
      result = count() - 1;
      break;
    }
    case DM_LISTINSERT: {
      TFarListInsert request;
      TqorFarListEntry entry;
      if (!ReadPluginRecord(AParam2, request) || !read_item(request.Item, entry)) return -1;
      insert(std::move(entry), std::clamp<intptr_t>(request.Index, 0, count()));
      result = count();
      break;
    }
    case DM_LISTUPDATE:
      if ((result = update(AParam2)) == FALSE) return FALSE;
      break;
    case DM_LISTDELETE:
      if ((result = remove(AParam2)) == FALSE) return FALSE;
      break;
    case DM_LISTSETTITLES: {
      TFarListTitles request;
      if (!ReadPluginRecord(AParam2, request) || !CopyPluginText(request.Title, FList.Title) ||
          !CopyPluginText(request.Bottom, FList.Bottom))
        return FALSE;
      result = TRUE;
      break;
    }
    default: return 0;
  }
  changed();
  return result;
}

}  // namespace

bool IsListMessage(intptr_t AMsg) noexcept {
  return (AMsg >= DM_LISTSORT && AMsg <= DM_LISTGETTITLES) || AMsg == DM_LISTSET || AMsg == DM_LISTGETDATASIZE;
}

intptr_t ListMessage(TqorFarDialog& ADialog, int AIndex, TqorFarListItems& AList, intptr_t AMsg, void* AParam2) {
  return list_session(ADialog, AIndex, AList).Run(AMsg, AParam2);
}

}  // namespace qor
