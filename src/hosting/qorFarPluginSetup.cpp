#include "hosting/qorFarPluginSetup.h"

#include <memory>

#include "common/qorErrors.h"
#include "dialogs/qorFarPluginsForm.h"
#include "hosting/qorFarPlugin.h"
#include "hosting/qorFarPlugins.h"
#include "services/qorFarSettingsStore.h"
#include "ui/qorShellForm.h"

namespace qor {

namespace {

std::wstring folder_of(const std::wstring& AFileName) {
  const size_t cut = AFileName.find_last_of(L"\\/");
  return cut == std::wstring::npos ? std::wstring() : AFileName.substr(0, cut);
}

// A field of one line of the listing: no tab or line break of its own.
std::wstring field(std::wstring AText) {
  for (wchar_t& c : AText)
    if (c == L'\t' || c == L'\r' || c == L'\n') c = L' ';
  return AText;
}

}  // namespace

void ConfigurePlugins(HWND AParent) {
  TqorFarPluginList& registry = PluginRegistry();
  std::vector<TqorFarPluginState> states = registry.States();
  std::vector<TqorFarPluginRow> rows;
  for (size_t i = 0; i < states.size(); ++i) {
    const TqorFarPluginState& state = states[i];
    TqorFarPluginRow row;
    row.Title = state.Title;
    row.Version = state.Version;
    row.Author = state.Author;
    row.Description = state.Description;
    row.Folder = folder_of(state.FileName);
    row.Enabled = state.Enabled;
    row.Key = i;
    if (state.Plugin) {
      try {
        for (const TqorFarPlugin::TConfigEntry& entry : state.Plugin->ConfigEntries())
          row.Configurations.push_back(entry.Text.empty() ? state.Title : entry.Text);
      } catch (...) {
        // A plugin that faults while it lists its entries offers none.
      }
    }
    rows.push_back(std::move(row));
  }
  auto configure = [&](const TqorFarPluginRow& ARow, size_t AEntry) {
    TqorFarPlugin* plugin = states[ARow.Key].Plugin;
    if (!plugin) return;
    try {
      // Read again: the entries are the plugin's, and may have changed since the list was made.
      const std::vector<TqorFarPlugin::TConfigEntry> entries = plugin->ConfigEntries();
      if (AEntry < entries.size()) plugin->Configure(entries[AEntry].Guid);
    } catch (...) {
      // A plugin that faults in its configuration is contained like any other call.
    }
  };
  auto accept = [&](const std::vector<TqorFarPluginRow>& ARows) {
    std::vector<TqorFarPluginState> chosen;
    for (const TqorFarPluginRow& row : ARows) {
      TqorFarPluginState state = states[row.Key];
      state.Enabled = row.Enabled;
      chosen.push_back(std::move(state));
    }
    const DWORD error = registry.Apply(chosen);
    // As the system tells of a file it could not write: the file, then why.
    return error == ERROR_SUCCESS ? std::wstring() : SettingsFileName() + L"\n\n" + SystemErrorMessage(error);
  };
  MakeForm<TqorFarPluginsForm>(AParent, std::move(rows), configure, accept)->Run();
}

std::wstring DescribePlugins() {
  std::wstring text;
  int place = 0;
  for (const TqorFarPluginState& state : PluginRegistry().States()) {
    text += std::to_wstring(++place) + L"\t" + (state.Enabled ? L"1" : L"0") + L"\t" + field(state.Title) + L"\t" +
            field(state.Version) + L"\t" + field(folder_of(state.FileName)) + L"\n";
  }
  return text;
}

}  // namespace qor
