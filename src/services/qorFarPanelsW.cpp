#include "services/qorFarPanelsW.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "common/qorPluginGuard.h"
#include "services/qorFarOperationW.h"
#include "ui/qorHostWarning.h"

namespace qor {

namespace {

std::atomic<IqorProgressReceiver*> GProgressReceiver{nullptr};

template <class T>
bool write_plugin(void* ADest, const T& AValue) noexcept {
  return ADest && CopyPluginMemory(ADest, &AValue, sizeof(T));
}

// "Ask the size, then fill" for a text that is always empty: len+1 is 1, and a buffer that has
// room gets the terminating NUL.
intptr_t empty_text(intptr_t ASize, void* ABuffer) noexcept {
  if (!ABuffer || ASize <= 0) return 1;
  return write_plugin(ABuffer, L'\0') ? 1 : 0;
}

// Same rule for the window names: no buffer asks for the size, a buffer gets the empty text.
bool empty_name(wchar_t* AText, intptr_t& ASize) noexcept {
  if (!AText || ASize <= 0) {
    ASize = 1;
    return true;
  }
  return write_plugin(AText, L'\0');
}

// FAR's classic blue colour scheme as console attributes (background << 4 | foreground), in
// palette-index order.
constexpr BYTE kDefaultPalette[] = {
    // menu: text, selected text, highlight, selected highlight, box, title
    0x3F, 0x0F, 0x3E, 0x0E, 0x3F, 0x3F,
    // top menu: text, selected text, highlight, selected highlight
    0x30, 0x0F, 0x3E, 0x0E,
    // panel: text, selected text, highlighted text, info text, cursor, selected cursor, title,
    // selected title, column title, total info, selected info
    0x1B, 0x1E, 0x1F, 0x1E, 0x30, 0x3E, 0x1B, 0x30, 0x1E, 0x1B, 0x3E,
    // dialog: text, highlighted text, box, box title, highlighted box title, edit, button,
    // selected button, highlighted button, highlighted selected button
    0x70, 0x7E, 0x70, 0x70, 0x7E, 0x30, 0x70, 0x30, 0x7E, 0x3E,
    // dialog list: text, selected text, highlight, selected highlight
    0x70, 0x0F, 0x7E, 0x0E,
    // warning dialog: the dialog's ten roles on red
    0x4F, 0x4E, 0x4F, 0x4F, 0x4E, 0x30, 0x4F, 0x70, 0x4E, 0x7E,
    // key bar: number, text, background; command line; clock
    0x07, 0x30, 0x07, 0x07, 0x30,
    // viewer: text, selected text, status; editor: the same three
    0x1B, 0x30, 0x30, 0x1B, 0x30, 0x30,
    // help: text, highlighted text, topic, selected topic, box, box title
    0x30, 0x3F, 0x3E, 0x0E, 0x30, 0x30,
    // panel drag text, unchanged dialog edit, panel scroll bar, help scroll bar, panel box,
    // screens number, selected dialog edit, selected command line, viewer arrows
    0x30, 0x38, 0x1B, 0x30, 0x1B, 0x1B, 0x1F, 0x30, 0x1E,
    // scroll bars of dialog lists, menus and the viewer; command-line prefix
    0x70, 0x3F, 0x1B, 0x07,
    // disabled: dialog, dialog edit, dialog list, warning dialog, its edit, its list, menu text
    0x78, 0x38, 0x78, 0x48, 0x38, 0x48, 0x38,
    // editor clock, viewer clock, dialog list title, dialog list box
    0x30, 0x30, 0x70, 0x70,
    // warning dialog edit: selected, unchanged
    0x1F, 0x38,
    // dialog combo box: text, selected text, highlight, selected highlight, box, title,
    // disabled, scroll bar
    0x3F, 0x0F, 0x3E, 0x0E, 0x3F, 0x3F, 0x38, 0x3F,
    // warning dialog list: text, selected text, highlight, selected highlight, box, title,
    // scroll bar
    0x4F, 0x0F, 0x4E, 0x0E, 0x4F, 0x4F, 0x4F,
    // warning dialog combo box: as the dialog combo box
    0x3F, 0x0F, 0x3E, 0x0E, 0x3F, 0x3F, 0x38, 0x3F,
};
constexpr size_t kPaletteSize = sizeof(kDefaultPalette);

TFarColor palette_color(size_t AIndex) noexcept {
  const BYTE attribute = kDefaultPalette[AIndex];
  TFarColor color{};
  color.Flags = FCF_FG_INDEX | FCF_BG_INDEX;
  // Index colours carry an opaque alpha, as FAR's own palette does.
  color.ForegroundColor = 0xFF000000u | (attribute & 0x0Fu);
  color.BackgroundColor = 0xFF000000u | (attribute >> 4);
  return color;
}

// Taskbar progress from the plugin. A readable value goes to the archive this thread extracts
// from, if any; the state and the success flash have nothing to drive and are accepted, as the
// display they would feed is only the file manager's. A value FAR cannot read is refused.
intptr_t progress_control(int ACommand, intptr_t, void* AParam2) noexcept {
  if (ACommand != ACTL_SETPROGRESSVALUE) return 1;
  TProgressValue value;
  if (!ReadPluginRecord(AParam2, value)) return 0;
  if (IqorProgressReceiver* receiver = GProgressReceiver.load()) receiver->ProgressValue(value.Completed, value.Total);
  return 1;
}

intptr_t adv_control(int ACommand, intptr_t AParam1, void* AParam2) {
  switch (ACommand) {
    case ACTL_SETPROGRESSSTATE:
    case ACTL_SETPROGRESSVALUE:
    case ACTL_PROGRESSNOTIFY:
      return progress_control(ACommand, AParam1, AParam2);

    case ACTL_GETFARMANAGERVERSION: {
      // Plugins compare this with their MinFarVersion: the build of the layouts we follow.
      const TVersionInfo version{3, 0, 0, FarHeaderBuild, VS_RELEASE};
      if (AParam2 && !write_plugin(AParam2, version)) return 0;
      return 1;
    }
    case ACTL_GETFARRECT: {
      // An 80 x 25 console; plugins size their message texts from it.
      const SMALL_RECT rect{0, 0, 79, 24};
      return write_plugin(AParam2, rect) ? 1 : 0;
    }
    case ACTL_GETWINDOWTYPE: {
      auto* target = static_cast<TWindowType*>(AParam2);
      TWindowType type;
      if (!ReadPluginRecord(target, type)) return 0;
      const int panels = WTYPE_PANELS;
      return write_plugin(&target->Type, panels) ? 1 : 0;
    }
    case ACTL_GETWINDOWCOUNT:
      return 1;
    case ACTL_GETWINDOWINFO: {
      // The one window is the panels window at index 0; it has neither a type name nor a title.
      auto* target = static_cast<TWindowInfo*>(AParam2);
      TWindowInfo info;
      if (!ReadPluginRecord(target, info) || (info.Pos != -1 && info.Pos != 0)) return 0;
      if (!empty_name(info.TypeName, info.TypeNameSize) || !empty_name(info.Name, info.NameSize)) return 0;
      info.Id = 0;
      info.Pos = 0;
      info.Type = WTYPE_PANELS;
      info.Flags = WIF_CURRENT;
      return write_plugin(target, info) ? 1 : 0;
    }
    case ACTL_GETCOLOR: {
      if (AParam1 < 0 || static_cast<size_t>(AParam1) >= kPaletteSize) return 0;
      return write_plugin(AParam2, palette_color(static_cast<size_t>(AParam1))) ? 1 : 0;
    }
    case ACTL_GETARRAYCOLOR: {
      // Always the palette size; the colours are copied only into a buffer with room.
      const size_t count = std::min(static_cast<size_t>(AParam1), kPaletteSize);
      if (AParam2 && count != 0) {
        std::vector<TFarColor> colors(count);
        for (size_t i = 0; i < count; ++i) colors[i] = palette_color(i);
        if (!CopyPluginMemory(AParam2, colors.data(), count * sizeof(TFarColor))) return 0;
      }
      return static_cast<intptr_t>(kPaletteSize);
    }
    case ACTL_REDRAWALL:
    case ACTL_COMMIT:
      return 1;

    default:
      ShowHostWarning(L"FarApiAdvControl");
      return 0;
  }
}

// FAR answers no FCTL_GETPANELDIRECTORY asked while it answers one (from the plugin's own
// GetOpenPanelInfoW, say).
thread_local bool TDescribingPanel = false;

// The panel a handle names in the operation at hand, or nil.
const TqorFarPanelShown* named_panel(HANDLE hPanel, const TqorFarOperation& AOperation) noexcept {
  const auto handle = reinterpret_cast<intptr_t>(hPanel);
  if (handle == 0 || handle == PANEL_ACTIVE) return &AOperation.Active();
  if (handle == PANEL_PASSIVE) return &AOperation.Passive();
  for (const TqorFarPanelShown* panel : {&AOperation.Active(), &AOperation.Passive()})
    if (panel->Plugin && panel->Plugin->PanelHandle() == hPanel) return panel;
  return nullptr;
}

// The record and its strings in one block for the plugin's buffer at ABase: Name, File, Param
// follow the record in this order, each with its NUL.
std::vector<char> panel_directory_image(const GUID& APluginId, const std::wstring (&AStrings)[3], char* ABase) {
  std::vector<char> bytes(sizeof(TFarPanelDirectory));
  const wchar_t* at[3];
  for (size_t i = 0; i < 3; ++i) {
    const size_t offset = bytes.size();
    bytes.resize(offset + (AStrings[i].size() + 1) * sizeof(wchar_t));
    std::memcpy(bytes.data() + offset, AStrings[i].c_str(), (AStrings[i].size() + 1) * sizeof(wchar_t));
    at[i] = reinterpret_cast<const wchar_t*>(ABase + offset);
  }
  TFarPanelDirectory record{sizeof(TFarPanelDirectory), at[0], at[2], APluginId, at[1]};
  std::memcpy(bytes.data(), &record, sizeof(record));
  return bytes;
}

// Always the size the whole answer needs; written only into a buffer that holds it and starts
// with a valid record. Param1 is a byte count that FAR takes as a 32-bit int.
intptr_t panel_directory(HANDLE hPanel, intptr_t AParam1, void* AParam2) {
  const TqorFarOperation* operation = CurrentFarOperation();
  const TqorFarPanelShown* panel = operation ? named_panel(hPanel, *operation) : nullptr;
  if (!panel || TDescribingPanel) return 0;
  std::wstring strings[3] = {panel->Folder, std::wstring(), std::wstring()};
  GUID plugin_id{};
  if (panel->Plugin) {
    struct describing {
      describing() noexcept { TDescribingPanel = true; }
      ~describing() { TDescribingPanel = false; }
    } guard;
    panel->Plugin->PanelDirectory(strings[0], strings[1], strings[2]);
    plugin_id = panel->Plugin->PluginId();
  }
  char* base = static_cast<char*>(AParam2);
  const std::vector<char> image = panel_directory_image(plugin_id, strings, base);
  const auto needed = static_cast<intptr_t>(image.size());
  size_t struct_size = 0;
  if (!base || static_cast<int>(AParam1) < needed || !CopyPluginMemory(&struct_size, base, sizeof(struct_size)) ||
      struct_size < sizeof(TFarPanelDirectory) || struct_size > kLargestPluginRecord)
    return needed;
  return CopyPluginMemory(base, image.data(), image.size()) ? needed : 0;
}

intptr_t panel_control(HANDLE hPanel, int ACommand, intptr_t AParam1, void* AParam2) {
  switch (ACommand) {
    // There is no panel to describe, active, passive or the plugin's own: FAR's answer for a
    // handle that names no shown panel, and the record stays as the plugin left it.
    case FCTL_GETPANELINFO:
    case FCTL_GETPANELITEM:
    case FCTL_GETSELECTEDPANELITEM:
    case FCTL_GETCURRENTPANELITEM:
    case FCTL_GETCOLUMNTYPES:
    case FCTL_GETCOLUMNWIDTHS:
    case FCTL_CHECKPANELSEXIST:
    case FCTL_GETCMDLINEPOS:
    case FCTL_GETCMDLINESELECTION:
      return 0;

    // The panels as they would stand in the operation at hand; none outside one.
    case FCTL_GETPANELDIRECTORY:
      return panel_directory(hPanel, AParam1, AParam2);

    case FCTL_GETCMDLINE:
    case FCTL_GETPANELFORMAT:
    case FCTL_GETPANELHOSTFILE:
    case FCTL_GETPANELPREFIX:
      return empty_text(AParam1, AParam2);

    case FCTL_ISACTIVEPANEL: {
      const auto handle = reinterpret_cast<intptr_t>(hPanel);
      return handle == 0 || handle == PANEL_ACTIVE ? 1 : 0;
    }

    // Nothing is on screen to refresh or to swap with the user screen.
    case FCTL_UPDATEPANEL:
    case FCTL_REDRAWPANEL:
    case FCTL_GETUSERSCREEN:
    case FCTL_SETUSERSCREEN:
      return 1;

    default:  // closing or changing a panel, the command line, and every unknown command
      ShowHostWarning(L"FarApiPanelControl");
      return 0;
  }
}

}  // namespace

void SetProgressReceiver(IqorProgressReceiver* AReceiver) noexcept { GProgressReceiver = AReceiver; }

bool HostCancelling() noexcept {
  IqorProgressReceiver* receiver = GProgressReceiver;
  return receiver && receiver->Cancelling();
}

intptr_t WINAPI FarApiAdvControl(const GUID*, int ACommand, intptr_t AParam1, void* AParam2) {
  try {
    return adv_control(ACommand, AParam1, AParam2);
  } catch (...) {
    return 0;
  }
}

intptr_t WINAPI FarApiPanelControl(HANDLE hPanel, int ACommand, intptr_t AParam1, void* AParam2) {
  try {
    return panel_control(hPanel, ACommand, AParam1, AParam2);
  } catch (...) {
    return 0;
  }
}

}  // namespace qor
