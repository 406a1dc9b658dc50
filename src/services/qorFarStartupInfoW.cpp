#include "services/qorFarStartupInfoW.h"

#include <cstring>
#include <type_traits>

#include "dialogs/qorFarDialogW.h"
#include "dialogs/qorFarDlgMessagesW.h"
#include "services/qorFarLang.h"
#include "services/qorFarMessageW.h"
#include "services/qorFarPanelsW.h"
#include "services/qorFarPluginIdsW.h"
#include "services/qorFarSettingsW.h"
#include "services/qorFarStandardW.h"
#include "ui/qorHostWarning.h"

namespace qor {

PluginStartupInfo HostStartupInfo;
FarStandardFunctions HostStandardFunctions;

namespace {

// A warning entry with exactly the slot's signature (so stdcall pops the right byte count):
// it ignores its arguments, shows the box and returns the neutral value.
template <const wchar_t* Text, class Slot>
struct Warning;

template <const wchar_t* Text, class R, class... A>
struct Warning<Text, R(WINAPI*)(A...)> {
  static R WINAPI Entry(A...) {
    ShowHostWarning(Text);
    if constexpr (!std::is_void_v<R>) return R{};
  }
};

template <const wchar_t* Text, class Slot>
void warn(Slot& ASlot) {
  ASlot = &Warning<Text, Slot>::Entry;
}

#define QOR_TEXT(name, text) constexpr wchar_t name[] = text
QOR_TEXT(kMenu, L"FarApiMenu");
QOR_TEXT(kGetDirList, L"FarApiGetDirList");
QOR_TEXT(kGetPluginDirList, L"FarApiGetPluginDirList");
QOR_TEXT(kFreeDirList, L"FarApiFreeDirList");
QOR_TEXT(kFreePluginDirList, L"FarApiFreePluginDirList");
QOR_TEXT(kViewer, L"FarApiViewer");
QOR_TEXT(kEditor, L"FarApiEditor");
QOR_TEXT(kText, L"FarApiText");
QOR_TEXT(kEditorControl, L"FarApiEditorControl");
QOR_TEXT(kShowHelp, L"FarApiShowHelp");
QOR_TEXT(kColorDialog, L"FarApiColorDialog");
QOR_TEXT(kViewerControl, L"FarApiViewerControl");
QOR_TEXT(kPluginsControl, L"FarApiPluginsControl");
QOR_TEXT(kFileFilterControl, L"FarApiFilterControl");
QOR_TEXT(kRegExpControl, L"FarApiRegexpControl");
QOR_TEXT(kMacroControl, L"FarApiMacroControl");
QOR_TEXT(kFreeScreen, L"FarApiFreeScreen");
QOR_TEXT(kInputRecordToName, L"FarStdInputRecordToKeyName");
QOR_TEXT(kNameToInputRecord, L"FarStdKeyNameToInputRecord");
#undef QOR_TEXT

HANDLE WINAPI ApiSaveScreen(intptr_t, intptr_t, intptr_t, intptr_t) {
  return reinterpret_cast<HANDLE>(1);
}

void WINAPI ApiRestoreScreen(HANDLE) {}

void fill_standard_functions(FarStandardFunctions& F) noexcept {
  std::memset(&F, 0, sizeof(F));
  F.StructSize = sizeof(F);
  F.atoi = FarStdAtoi;
  F.atoi64 = FarStdAtoi64;
  F.itoa = FarStdItoa;
  F.itoa64 = FarStdItoa64;
  F.sprintf = FarStdSprintf;
  F.sscanf = FarStdSscanf;
  F.qsort = FarStdQsort;
  F.bsearch = FarStdBsearch;
  F.snprintf = FarStdSnprintf;
  F.LIsLower = FarStdIsLower;
  F.LIsUpper = FarStdIsUpper;
  F.LIsAlpha = FarStdIsAlpha;
  F.LIsAlphanum = FarStdIsAlphaNum;
  F.LUpper = FarStdUpper;
  F.LLower = FarStdLower;
  F.LUpperBuf = FarStdUpperBuf;
  F.LLowerBuf = FarStdLowerBuf;
  F.LStrupr = FarStdStrUpr;
  F.LStrlwr = FarStdStrLwr;
  F.LStricmp = FarStdStrICmp;
  F.LStrnicmp = FarStdStrNICmp;
  F.Unquote = FarStdUnquote;
  F.LTrim = FarStdLTrim;
  F.RTrim = FarStdRTrim;
  F.Trim = FarStdTrim;
  F.TruncStr = FarStdTruncStr;
  F.TruncPathStr = FarStdTruncPathStr;
  F.QuoteSpaceOnly = FarStdQuoteSpaceOnly;
  F.PointToName = FarStdPointToName;
  F.GetPathRoot = FarStdGetPathRoot;
  F.AddEndSlash = FarStdAddEndSlash;
  F.CopyToClipboard = FarStdCopyToClipboard;
  F.PasteFromClipboard = FarStdPasteFromClipboard;
  // FAR's key names belong to its console input: not offered.
  warn<kInputRecordToName>(F.FarInputRecordToName);
  warn<kNameToInputRecord>(F.FarNameToInputRecord);
  F.XLat = FarStdXLat;
  F.GetFileOwner = FarStdGetFileOwner;
  F.GetNumberOfLinks = FarStdGetNumberOfLinks;
  F.FarRecursiveSearch = FarStdRecursiveSearch;
  F.MkTemp = FarStdMkTemp;
  F.ProcessName = FarStdProcessName;
  F.MkLink = FarStdMkLink;
  F.ConvertPath = FarStdConvertPath;
  F.GetReparsePointInfo = FarStdGetReparsePointInfo;
  F.GetCurrentDirectory = FarStdGetCurrentDirectory;
  F.FormatFileSize = FarStdFormatFileSize;
  F.FarClock = FarStdClock;
  F.CompareStrings = FarStdCompareStrings;
  F.DetectCodePage = FarStdDetectCodePage;
}

void fill_startup_info(PluginStartupInfo& I) noexcept {
  std::memset(&I, 0, sizeof(I));
  I.StructSize = sizeof(I);
  warn<kMenu>(I.Menu);
  I.Message = FarApiMessage;
  I.GetMsg = FarApiGetMsg;
  I.PanelControl = FarApiPanelControl;
  I.SaveScreen = ApiSaveScreen;
  I.RestoreScreen = ApiRestoreScreen;
  warn<kGetDirList>(I.GetDirList);
  warn<kGetPluginDirList>(I.GetPluginDirList);
  warn<kFreeDirList>(I.FreeDirList);
  warn<kFreePluginDirList>(I.FreePluginDirList);
  warn<kViewer>(I.Viewer);
  warn<kEditor>(I.Editor);
  warn<kText>(I.Text);
  warn<kEditorControl>(I.EditorControl);
  warn<kShowHelp>(I.ShowHelp);
  I.AdvControl = FarApiAdvControl;
  I.InputBox = FarApiInputBox;
  warn<kColorDialog>(I.ColorDialog);
  I.DialogInit = FarApiDialogInit;
  I.DialogRun = FarApiDialogRun;
  I.DialogFree = FarApiDialogFree;
  I.SendDlgMessage = FarApiSendDlgMessage;
  I.DefDlgProc = FarApiDefDlgProc;
  warn<kViewerControl>(I.ViewerControl);
  warn<kPluginsControl>(I.PluginsControl);
  warn<kFileFilterControl>(I.FileFilterControl);
  warn<kRegExpControl>(I.RegExpControl);
  warn<kMacroControl>(I.MacroControl);
  I.SettingsControl = FarApiSettingsControlForPlugins;
  warn<kFreeScreen>(I.FreeScreen);
}

}  // namespace

void InitStartupInfo() noexcept {
  fill_standard_functions(HostStandardFunctions);
  fill_startup_info(HostStartupInfo);
  HostStartupInfo.FSF = &HostStandardFunctions;
}

}  // namespace qor
