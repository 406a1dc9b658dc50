#include "dialogs/qorFarDlgMessagesW.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "common/qorPluginGuard.h"
#include "dialogs/qorFarDialogControlsW.h"
#include "dialogs/qorFarDialogW.h"
#include "dialogs/qorFarListMessagesW.h"
#include "ui/qorHostWarning.h"

namespace qor {

namespace {

// The longest text DM_SETTEXT takes.
constexpr size_t MaxPluginString = 1u << 20;

// DM_SETTEXT's text: PtrLength characters, which need no NUL (one among them ends the text).
bool read_counted_text(const TFarDialogItemData& AData, std::wstring& AText) {
  AText.assign(AData.PtrData ? AData.PtrLength : 0, L'\0');
  if (!AText.empty() && !CopyPluginMemory(AText.data(), AData.PtrData, AText.size() * sizeof(wchar_t))) return false;
  AText.resize(std::wcslen(AText.c_str()));
  return true;
}

// DM_GETTEXT's buffer rules: no record gives the length; PtrLength 0 asks for the length (and
// the whole text when there is a buffer); otherwise at most PtrLength characters and a NUL.
intptr_t get_text(const std::wstring& AText, void* AParam2) {
  TFarDialogItemData data{};
  if (!ReadPluginRecord(AParam2, data)) return static_cast<intptr_t>(AText.size());
  size_t count = AText.size();
  if (data.PtrLength == 0) {
    if (!WritePluginValue(&static_cast<TFarDialogItemData*>(AParam2)->PtrLength, count)) return 0;
  } else {
    count = std::min(count, data.PtrLength);
  }
  if (data.PtrData) {
    std::vector<wchar_t> out(AText.begin(), AText.begin() + static_cast<ptrdiff_t>(count));
    out.push_back(L'\0');
    if (!CopyPluginMemory(data.PtrData, out.data(), out.size() * sizeof(wchar_t))) return 0;
  }
  return static_cast<intptr_t>(count);
}

// One FarDialogItem followed by everything it points to, laid out for the address it goes to.
class item_image {
 public:
  item_image(const TFarDialogItem& AItem, const std::wstring& AText, TqorFarListItems* AList, char* ABase) {
    TFarDialogItem item = AItem;
    FBytes.resize(sizeof(item));
    item.Data = AddString(AText, ABase);
    item.History = AItem.History ? AddString(AItem.History, ABase) : nullptr;
    item.Mask = AItem.Mask ? AddString(AItem.Mask, ABase) : nullptr;
    if (AList) {
      const auto& entries = AList->Entries();
      Align(8);
      const size_t items_at = FBytes.size();
      FBytes.resize(items_at + entries.size() * sizeof(TFarListItem));
      Align(4);
      const size_t list_at = FBytes.size();
      FBytes.resize(list_at + sizeof(TFarList));
      TFarList list{sizeof(TFarList), entries.size(),
                    entries.empty() ? nullptr : reinterpret_cast<TFarListItem*>(ABase + items_at)};
      std::memcpy(FBytes.data() + list_at, &list, sizeof(list));
      for (size_t i = 0; i < entries.size(); ++i) {
        TFarListItem entry{entries[i].Flags, AddString(entries[i].Text, ABase), entries[i].UserData, 0};
        entry.Flags = (entry.Flags & ~LIF_SELECTED) | (static_cast<intptr_t>(i) == AList->Position() ? LIF_SELECTED : 0);
        std::memcpy(FBytes.data() + items_at + i * sizeof(TFarListItem), &entry, sizeof(entry));
      }
      item.ListItems = reinterpret_cast<TFarList*>(ABase + list_at);
    }
    std::memcpy(FBytes.data(), &item, sizeof(item));
  }
  const std::vector<char>& Bytes() const noexcept { return FBytes; }

 private:
  void Align(size_t AAlignment) { FBytes.resize((FBytes.size() + AAlignment - 1) / AAlignment * AAlignment); }
  const wchar_t* AddString(const std::wstring& AText, char* ABase) {
    Align(2);
    const size_t at = FBytes.size();
    FBytes.resize(at + (AText.size() + 1) * sizeof(wchar_t));
    std::memcpy(FBytes.data() + at, AText.c_str(), (AText.size() + 1) * sizeof(wchar_t));
    return reinterpret_cast<const wchar_t*>(ABase + at);
  }
  std::vector<char> FBytes;
};

bool is_check_item(int AType) { return AType == DI_CHECKBOX || AType == DI_RADIOBUTTON; }

// The commands of the FAR API this service does not carry out.
bool known_command(intptr_t AMsg) { return AMsg > 0 && AMsg <= DM_GETDIALOGTITLE && AMsg != 8 && AMsg != 21; }

}  // namespace

intptr_t TqorFarDialog::SendDlgMessage(intptr_t AMsg, intptr_t AParam1, void* AParam2) {
  const intptr_t p2 = reinterpret_cast<intptr_t>(AParam2);
  // Commands about the dialog as a whole.
  switch (AMsg) {
    case DM_CLOSE: return TryClose(AParam1 == -1 ? Focus() : AParam1) ? TRUE : FALSE;
    case DM_GETDLGDATA: return DlgData();
    case DM_SETDLGDATA: {
      const intptr_t previous = DlgData();
      SetDlgData(p2);
      return previous;
    }
    case DM_GETFOCUS: return Focus();
    case DM_REDRAW:
      if (HWND wnd = HandleIfExists()) ::RedrawWindow(wnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_ERASE);
      return 0;
    case DM_ENABLEREDRAW: return EnableRedraw(AParam1);
    default: break;
  }
  if (IsListMessage(AMsg)) {
    // FAR builds the lists when the run starts; before that, and on other items, every list
    // command answers 0.
    TqorFarListItems* list = ValidIndex(AParam1) && ListsBuilt() ? GetFarControl(static_cast<int>(AParam1))->GetList() : nullptr;
    return list ? ListMessage(*this, static_cast<int>(AParam1), *list, AMsg, AParam2) : 0;
  }
  const bool item_command = AMsg == DM_ENABLE || AMsg == DM_GETDLGITEM || AMsg == DM_GETTEXT || AMsg == DM_SETFOCUS ||
                            AMsg == DM_SETTEXT || AMsg == DM_SETMAXTEXTLENGTH || AMsg == DM_SETTEXTPTR ||
                            AMsg == DM_SHOWITEM || AMsg == DM_GETCHECK || AMsg == DM_SETCHECK ||
                            AMsg == DM_GETITEMDATA || AMsg == DM_SETITEMDATA || AMsg == DM_GETCONSTTEXTPTR ||
                            AMsg == DM_GETDLGITEMSHORT;
  if (!item_command) {
    if (known_command(AMsg)) {
      ShowHostWarning(L"FarApiSendDlgMessage");
      return 0;
    }
    // Private messages and values FAR does not know go to the procedure, as FAR passes them on.
    return Notify(AMsg, AParam1, AParam2);
  }
  if (!ValidIndex(AParam1)) return 0;
  const int index = static_cast<int>(AParam1);
  IqorFarControl* control = GetFarControl(index);
  TFarDialogItem& item = Item(index);
  switch (AMsg) {
    case DM_GETTEXT: return get_text(control->GetItemText(), AParam2);
    case DM_SETTEXT: {
      TFarDialogItemData data{};
      std::wstring text;
      if (!ReadPluginRecord(AParam2, data) || data.PtrLength > MaxPluginString || !read_counted_text(data, text)) return 0;
      control->SetItemText(text);
      ItemLabelChanged(index);
      return static_cast<intptr_t>(control->GetItemText().size());
    }
    case DM_SETTEXTPTR: {
      std::wstring text;
      if (!CopyPluginText(static_cast<const wchar_t*>(AParam2), text)) return 0;
      control->SetItemText(text);
      ItemLabelChanged(index);
      return static_cast<intptr_t>(control->GetItemText().size());
    }
    case DM_GETCONSTTEXTPTR: return reinterpret_cast<intptr_t>(ConstText(index));
    case DM_GETCHECK: return is_check_item(item.Type) ? control->GetCheck() : 0;
    case DM_SETCHECK:
      if (item.Type == DI_RADIOBUTTON)
        return static_cast<TqorFarRadioButton*>(control)->CheckInGroup(p2 == BSTATE_3STATE);
      if (item.Type != DI_CHECKBOX) return 0;
      if (p2 == BSTATE_TOGGLE) {
        const intptr_t state = control->GetCheck();
        return control->SetCheck((item.Flags & DIF_3STATE) ? (state + 1) % 3 : (state == 0 ? 1 : 0));
      }
      if (p2 < 0 || p2 > BSTATE_TOGGLE) return control->GetCheck();
      return control->SetCheck(p2);
    case DM_ENABLE: {
      const intptr_t previous = (item.Flags & DIF_DISABLE) ? 0 : 1;
      if (p2 != -1) SetItemEnabled(index, p2 != 0);
      return previous;
    }
    case DM_SHOWITEM: {
      const intptr_t previous = (item.Flags & DIF_HIDDEN) ? 0 : 1;
      if (p2 != -1) SetItemVisible(index, p2 != 0);
      return previous;
    }
    case DM_SETFOCUS: return FocusItem(index) ? TRUE : FALSE;
    case DM_SETMAXTEXTLENGTH: {
      const bool editable = item.Type == DI_EDIT || item.Type == DI_PSWEDIT ||
                            (item.Type == DI_COMBOBOX && !(item.Flags & DIF_DROPDOWNLIST));
      if (!editable) return 0;
      const intptr_t previous = control->GetMaxLength();
      control->SetMaxLength(p2);
      return previous;
    }
    case DM_GETITEMDATA: return item.UserData;
    case DM_SETITEMDATA: {
      const intptr_t previous = item.UserData;
      item.UserData = p2;
      return previous;
    }
    case DM_GETDLGITEMSHORT: {
      if (!AParam2) return FALSE;
      TFarDialogItem copy = item;
      copy.Data = copy.History = copy.Mask = nullptr;
      if (is_check_item(item.Type)) copy.Selected = control->GetCheck();
      return WritePluginValue(AParam2, copy) ? TRUE : FALSE;
    }
    case DM_GETDLGITEM: {
      TFarGetDialogItem request{};
      if (!ReadPluginRecord(AParam2, request)) return 0;
      TFarDialogItem current = item;
      if (is_check_item(item.Type)) current.Selected = control->GetCheck();
      const item_image image(current, control->GetItemText(), control->GetList(), reinterpret_cast<char*>(request.Item));
      const size_t needed = image.Bytes().size();
      if (request.Item && request.Size >= needed && !CopyPluginMemory(request.Item, image.Bytes().data(), needed)) return 0;
      return static_cast<intptr_t>(needed);
    }
    default: return 0;
  }
}

// ---- host entries ----

intptr_t WINAPI FarApiSendDlgMessage(HANDLE hDlg, intptr_t Msg, intptr_t Param1, void* Param2) {
  TqorFarDialog* dialog = AcquireDialog(hDlg);
  if (!dialog) return Msg == DM_GETFOCUS || Msg == DM_LISTADDSTR ? -1 : 0;
  intptr_t result = 0;
  try {
    result = dialog->SendDlgMessage(Msg, Param1, Param2);
  } catch (...) {
    result = 0;
  }
  ReleaseDialog(dialog);
  return result;
}

intptr_t WINAPI FarApiDefDlgProc(HANDLE hDlg, intptr_t Msg, intptr_t Param1, void* Param2) {
  TqorFarDialog* dialog = RunningDialog(hDlg);
  if (!dialog) return 0;
  try {
    return dialog->DefaultAnswer(Msg, Param1, Param2);
  } catch (...) {
    return 0;
  }
}

}  // namespace qor
