#include "services/qorFarStartupInfoW.h"

#include <cstring>
#include <type_traits>

#include "dialogs/qorFarDialogW.h"
#include "services/qorFarLang.h"
#include "services/qorFarPanelsW.h"
#include "services/qorFarSettingsW.h"

namespace qor {

PluginStartupInfo HostStartupInfo;
FarStandardFunctions HostStandardFunctions;

void ShowHostWarning(const wchar_t* AService) noexcept {
  ::MessageBoxW(nullptr, AService, L"Callback", MB_ICONWARNING);
}

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
QOR_TEXT(kInputBox, L"FarApiInputBox");
QOR_TEXT(kColorDialog, L"FarApiColorDialog");
QOR_TEXT(kSendDlgMessage, L"FarApiSendDlgMessage");
QOR_TEXT(kDefDlgProc, L"FarApiDefDlgProc");
QOR_TEXT(kViewerControl, L"FarApiViewerControl");
QOR_TEXT(kPluginsControl, L"FarApiPluginsControl");
QOR_TEXT(kFileFilterControl, L"FarApiFilterControl");
QOR_TEXT(kRegExpControl, L"FarApiRegexpControl");
QOR_TEXT(kMacroControl, L"FarApiMacroControl");
QOR_TEXT(kFreeScreen, L"FarApiFreeScreen");
QOR_TEXT(kAtoi, L"FarStdAtoi");
QOR_TEXT(kAtoi64, L"FarStdAtoi64");
QOR_TEXT(kItoa, L"FarStdItoa");
QOR_TEXT(kItoa64, L"FarStdItoa64");
QOR_TEXT(kSprintf, L"FarStdSPrinfF");
QOR_TEXT(kSscanf, L"FarStdSScanF");
QOR_TEXT(kQsort, L"FarStdQSort");
QOR_TEXT(kBsearch, L"FarStdBSearch");
QOR_TEXT(kSnprintf, L"FarStdSNPrinfF");
QOR_TEXT(kLIsLower, L"FarStdLocalIsLower");
QOR_TEXT(kLIsUpper, L"FarStdLocalIsUpper");
QOR_TEXT(kLIsAlpha, L"FarStdLocalIsAlpha");
QOR_TEXT(kLIsAlphanum, L"FarStdLocalIsAlphaNum");
QOR_TEXT(kLUpper, L"FarStdLocalUpper");
QOR_TEXT(kLLower, L"FarStdLocalLower");
QOR_TEXT(kLUpperBuf, L"FarStdLocalUpperBuf");
QOR_TEXT(kLLowerBuf, L"FarStdLocalLowerBuf");
QOR_TEXT(kLStrupr, L"FarStdLocalStrUpr");
QOR_TEXT(kLStrlwr, L"FarStdLocalStrLwr");
QOR_TEXT(kLStricmp, L"FarStdLocalStrICmp");
QOR_TEXT(kLStrnicmp, L"FarStdLocalStrNICmp");
QOR_TEXT(kUnquote, L"FarStdUnquote");
QOR_TEXT(kLTrim, L"FarStdLTrim");
QOR_TEXT(kRTrim, L"FarStdRTrim");
QOR_TEXT(kTrim, L"FarStdTrim");
QOR_TEXT(kTruncStr, L"FarStdTruncStr");
QOR_TEXT(kTruncPathStr, L"FarStdTruncPathStr");
QOR_TEXT(kQuoteSpaceOnly, L"FarStdQuoteSpaceOnly");
QOR_TEXT(kPointToName, L"FarStdPointToName");
QOR_TEXT(kGetPathRoot, L"FarStdGetPathRoot");
QOR_TEXT(kAddEndSlash, L"FarStdAddEndSlash");
QOR_TEXT(kCopyToClipboard, L"FarStdCopyToClipBoard");
QOR_TEXT(kPasteFromClipboard, L"FarStdPasteFromClipboard");
QOR_TEXT(kInputRecordToName, L"FarStdInputRecordToKeyName");
QOR_TEXT(kNameToInputRecord, L"FarStdKeyNameToInputRecord");
QOR_TEXT(kXLat, L"FarStdXLat");
QOR_TEXT(kGetFileOwner, L"FarStdGetFileOwner");
QOR_TEXT(kGetNumberOfLinks, L"FarStdGetNumberOfLinks");
QOR_TEXT(kRecursiveSearch, L"FarStdRecursiveSearch");
QOR_TEXT(kMkTemp, L"FarStdMkTemp");
QOR_TEXT(kProcessName, L"FarStdProcessName");
QOR_TEXT(kMkLink, L"FarStdMkLink");
QOR_TEXT(kConvertPath, L"FarConvertPath");
QOR_TEXT(kGetReparsePointInfo, L"FarGetReparsePointInfo");
QOR_TEXT(kGetCurrentDirectory, L"FarGetCurrentDirectory");
QOR_TEXT(kFormatFileSize, L"FarFormatFileSize");
QOR_TEXT(kFarClock, L"FarClock");
QOR_TEXT(kCompareStrings, L"FarCompareStrings");
QOR_TEXT(kDetectCodePage, L"FarDetectCodePage");
#undef QOR_TEXT

// The three formatted-text slots are cdecl with a variable argument list: the caller pops.
int __cdecl StdSprintf(wchar_t*, const wchar_t*, ...) {
  ShowHostWarning(L"FarStdSPrinfF");
  return 0;
}
int __cdecl StdSscanf(const wchar_t*, const wchar_t*, ...) {
  ShowHostWarning(L"FarStdSScanF");
  return 0;
}
int __cdecl StdSnprintf(wchar_t*, size_t, const wchar_t*, ...) {
  ShowHostWarning(L"FarStdSNPrinfF");
  return 0;
}

intptr_t WINAPI ApiMessage(const GUID*, const GUID*, TFarFlags AFlags, const wchar_t*,
                           const wchar_t* const*, size_t, intptr_t AButtonsNumber) {
  // Bits 16-31 carry the standard button sets; plain status texts pass silently.
  if (AButtonsNumber != 0 || (AFlags & 0xFFFF0000u) != 0) ShowHostWarning(L"FarApiMessage");
  return -1;
}

HANDLE WINAPI ApiSaveScreen(intptr_t, intptr_t, intptr_t, intptr_t) {
  return reinterpret_cast<HANDLE>(1);
}

void WINAPI ApiRestoreScreen(HANDLE) {}

void fill_standard_functions(FarStandardFunctions& F) noexcept {
  std::memset(&F, 0, sizeof(F));
  F.StructSize = FarStandardFunctionsAnnouncedSize;
  warn<kAtoi>(F.atoi);
  warn<kAtoi64>(F.atoi64);
  warn<kItoa>(F.itoa);
  warn<kItoa64>(F.itoa64);
  F.sprintf = StdSprintf;
  F.sscanf = StdSscanf;
  warn<kQsort>(F.qsort);
  warn<kBsearch>(F.bsearch);
  F.snprintf = StdSnprintf;
  warn<kLIsLower>(F.LIsLower);
  warn<kLIsUpper>(F.LIsUpper);
  warn<kLIsAlpha>(F.LIsAlpha);
  warn<kLIsAlphanum>(F.LIsAlphanum);
  warn<kLUpper>(F.LUpper);
  warn<kLLower>(F.LLower);
  warn<kLUpperBuf>(F.LUpperBuf);
  warn<kLLowerBuf>(F.LLowerBuf);
  warn<kLStrupr>(F.LStrupr);
  warn<kLStrlwr>(F.LStrlwr);
  warn<kLStricmp>(F.LStricmp);
  warn<kLStrnicmp>(F.LStrnicmp);
  warn<kUnquote>(F.Unquote);
  warn<kLTrim>(F.LTrim);
  warn<kRTrim>(F.RTrim);
  warn<kTrim>(F.Trim);
  warn<kTruncStr>(F.TruncStr);
  warn<kTruncPathStr>(F.TruncPathStr);
  warn<kQuoteSpaceOnly>(F.QuoteSpaceOnly);
  warn<kPointToName>(F.PointToName);
  warn<kGetPathRoot>(F.GetPathRoot);
  warn<kAddEndSlash>(F.AddEndSlash);
  warn<kCopyToClipboard>(F.CopyToClipboard);
  warn<kPasteFromClipboard>(F.PasteFromClipboard);
  warn<kInputRecordToName>(F.FarInputRecordToName);
  warn<kNameToInputRecord>(F.FarNameToInputRecord);
  warn<kXLat>(F.XLat);
  warn<kGetFileOwner>(F.GetFileOwner);
  warn<kGetNumberOfLinks>(F.GetNumberOfLinks);
  warn<kRecursiveSearch>(F.FarRecursiveSearch);
  warn<kMkTemp>(F.MkTemp);
  warn<kProcessName>(F.ProcessName);
  warn<kMkLink>(F.MkLink);
  warn<kConvertPath>(F.ConvertPath);
  warn<kGetReparsePointInfo>(F.GetReparsePointInfo);
  warn<kGetCurrentDirectory>(F.GetCurrentDirectory);
  warn<kFormatFileSize>(F.FormatFileSize);
  warn<kFarClock>(F.FarClock);
  warn<kCompareStrings>(F.CompareStrings);
  warn<kDetectCodePage>(F.DetectCodePage);
}

void fill_startup_info(PluginStartupInfo& I) noexcept {
  std::memset(&I, 0, sizeof(I));
  I.StructSize = PluginStartupInfoAnnouncedSize;
  warn<kMenu>(I.Menu);
  I.Message = ApiMessage;
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
  warn<kInputBox>(I.InputBox);
  warn<kColorDialog>(I.ColorDialog);
  I.DialogInit = FarApiDialogInit;
  I.DialogRun = FarApiDialogRun;
  I.DialogFree = FarApiDialogFree;
  warn<kSendDlgMessage>(I.SendDlgMessage);
  warn<kDefDlgProc>(I.DefDlgProc);
  warn<kViewerControl>(I.ViewerControl);
  warn<kPluginsControl>(I.PluginsControl);
  warn<kFileFilterControl>(I.FileFilterControl);
  warn<kRegExpControl>(I.RegExpControl);
  warn<kMacroControl>(I.MacroControl);
  I.SettingsControl = FarApiSettingsControl;
  warn<kFreeScreen>(I.FreeScreen);
}

}  // namespace

void InitStartupInfo() noexcept {
  fill_standard_functions(HostStandardFunctions);
  fill_startup_info(HostStartupInfo);
  HostStartupInfo.FSF = &HostStandardFunctions;
}

}  // namespace qor
