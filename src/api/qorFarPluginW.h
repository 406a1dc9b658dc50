// FAR Manager 3 plugin API records, one declaration for both targets: pointer-sized members
// follow the target, and every size and offset the host relies on is checked for i686 and x86-64.
// Shared by the module and the fixture plugins, so host and test plugins cannot disagree.
#pragma once

#include <windows.h>
#include <cstddef>
#include <cstdint>

#include "api/qorApiTarget.h"


using TFarFlags = std::uint64_t;  // every FAR flag set is 64-bit and 8-byte aligned in records

// Operation modes, open sources, settings commands and advanced-control commands used by the host.
constexpr TFarFlags OPM_NONE = 0x0;
constexpr TFarFlags OPM_SILENT = 0x1;
constexpr TFarFlags OPM_FIND = 0x2;
constexpr TFarFlags OPM_VIEW = 0x4;
constexpr TFarFlags OPM_EDIT = 0x8;
constexpr TFarFlags OPM_TOPLEVEL = 0x10;
constexpr TFarFlags OPM_DESCR = 0x20;
constexpr TFarFlags OPM_QUICKVIEW = 0x40;
constexpr TFarFlags OPM_PGDN = 0x80;
constexpr TFarFlags OPM_COMMANDS = 0x100;
constexpr int OPEN_ANALYSE = 9;
constexpr intptr_t PANEL_STOP = -1;

enum : int {
  SCTL_CREATE = 0, SCTL_FREE = 1, SCTL_SET = 2, SCTL_GET = 3, SCTL_ENUM = 4, SCTL_DELETE = 5,
  SCTL_CREATESUBKEY = 6, SCTL_OPENSUBKEY = 7,
};

enum : int { ACTL_SETPROGRESSSTATE = 21, ACTL_SETPROGRESSVALUE = 22, ACTL_PROGRESSNOTIFY = 27 };

// Param2 of ACTL_SETPROGRESSVALUE. The 64-bit counters are 8-byte aligned: 4 padding bytes follow
// StructSize on 32-bit.
struct TProgressValue {
  size_t StructSize;
  std::uint64_t Completed;
  std::uint64_t Total;
};
static_assert(sizeof(TProgressValue) == 24);
static_assert(offsetof(TProgressValue, Completed) == 8);
static_assert(offsetof(TProgressValue, Total) == 16);

// Panel and window services (AdvControl, PanelControl): commands, values and the records they fill.
enum : int {
  ACTL_GETFARMANAGERVERSION = 0, ACTL_WAITKEY = 2, ACTL_GETCOLOR = 3, ACTL_GETARRAYCOLOR = 4,
  ACTL_GETWINDOWINFO = 6, ACTL_GETWINDOWCOUNT = 7, ACTL_SETCURRENTWINDOW = 8, ACTL_COMMIT = 9,
  ACTL_GETFARHWND = 10, ACTL_SETARRAYCOLOR = 16, ACTL_REDRAWALL = 19, ACTL_SYNCHRO = 20,
  ACTL_QUIT = 23, ACTL_GETFARRECT = 24, ACTL_GETCURSORPOS = 25, ACTL_SETCURSORPOS = 26,
  ACTL_GETWINDOWTYPE = 28,
};

enum : int {
  FCTL_CLOSEPANEL = 0, FCTL_GETPANELINFO = 1, FCTL_UPDATEPANEL = 2, FCTL_REDRAWPANEL = 3,
  FCTL_GETCMDLINE = 4, FCTL_SETCMDLINE = 5, FCTL_SETSELECTION = 6, FCTL_SETVIEWMODE = 7,
  FCTL_INSERTCMDLINE = 8, FCTL_SETUSERSCREEN = 9, FCTL_SETPANELDIRECTORY = 10,
  FCTL_SETCMDLINEPOS = 11, FCTL_GETCMDLINEPOS = 12, FCTL_SETSORTMODE = 13, FCTL_SETSORTORDER = 14,
  FCTL_SETCMDLINESELECTION = 15, FCTL_GETCMDLINESELECTION = 16, FCTL_CHECKPANELSEXIST = 17,
  FCTL_GETUSERSCREEN = 19, FCTL_ISACTIVEPANEL = 20, FCTL_GETPANELITEM = 21,
  FCTL_GETSELECTEDPANELITEM = 22, FCTL_GETCURRENTPANELITEM = 23, FCTL_GETPANELDIRECTORY = 24,
  FCTL_GETCOLUMNTYPES = 25, FCTL_GETCOLUMNWIDTHS = 26, FCTL_BEGINSELECTION = 27,
  FCTL_ENDSELECTION = 28, FCTL_CLEARSELECTION = 29, FCTL_SETDIRECTORIESFIRST = 30,
  FCTL_GETPANELFORMAT = 31, FCTL_GETPANELHOSTFILE = 32, FCTL_GETPANELPREFIX = 34,
  FCTL_SETACTIVEPANEL = 35,
};

constexpr intptr_t PANEL_ACTIVE = -1;
constexpr intptr_t PANEL_PASSIVE = -2;

enum : int {
  WTYPE_DESKTOP = 0, WTYPE_PANELS = 1, WTYPE_VIEWER = 2, WTYPE_EDITOR = 3, WTYPE_DIALOG = 4,
  WTYPE_VMENU = 5, WTYPE_HELP = 6, WTYPE_COMBOBOX = 7, WTYPE_GRABBER = 8, WTYPE_HMENU = 9,
};
constexpr TFarFlags WIF_MODIFIED = 0x1;
constexpr TFarFlags WIF_CURRENT = 0x2;
constexpr TFarFlags WIF_MODAL = 0x4;

enum : int { VS_RELEASE = 0 };
// The FAR3 header build whose record layouts this file follows (3.0.0.6682).
constexpr DWORD FarHeaderBuild = 6682;

// FarColor: the colour fields hold console palette indices when these flags are set.
constexpr TFarFlags FCF_FG_INDEX = 0x1;
constexpr TFarFlags FCF_BG_INDEX = 0x2;

// ACTL_GETFARRECT writes a console SMALL_RECT, not a RECT.
static_assert(sizeof(SMALL_RECT) == 8);

struct TWindowType {
  size_t StructSize;
  int Type;
};
static_assert(sizeof(TWindowType) == per_target(8, 16));
static_assert(offsetof(TWindowType, Type) == per_target(4, 8));

struct TWindowInfo {
  size_t StructSize;
  intptr_t Id;
  wchar_t* TypeName;
  wchar_t* Name;
  intptr_t TypeNameSize;
  intptr_t NameSize;
  intptr_t Pos;
  int Type;
  TFarFlags Flags;
};
static_assert(sizeof(TWindowInfo) == per_target(40, 72));
static_assert(offsetof(TWindowInfo, TypeName) == per_target(8, 16));
static_assert(offsetof(TWindowInfo, TypeNameSize) == per_target(16, 32));
static_assert(offsetof(TWindowInfo, Pos) == per_target(24, 48));
static_assert(offsetof(TWindowInfo, Type) == per_target(28, 56));
static_assert(offsetof(TWindowInfo, Flags) == per_target(32, 64));

struct TFarColor {
  TFarFlags Flags;
  COLORREF ForegroundColor;
  COLORREF BackgroundColor;
  COLORREF UnderlineColor;
  DWORD Reserved;
};
static_assert(sizeof(TFarColor) == per_target(24, 24));
static_assert(offsetof(TFarColor, ForegroundColor) == per_target(8, 8));
static_assert(offsetof(TFarColor, UnderlineColor) == per_target(16, 16));
static_assert(offsetof(TFarColor, Reserved) == per_target(20, 20));

struct TPanelInfo {
  size_t StructSize;
  HANDLE PluginHandle;
  GUID OwnerGuid;
  TFarFlags Flags;
  size_t ItemsNumber;
  size_t SelectedItemsNumber;
  RECT PanelRect;
  size_t CurrentItem;
  size_t TopPanelItem;
  intptr_t ViewMode;
  int PanelType;
  int SortMode;
};
static_assert(sizeof(TPanelInfo) == per_target(80, 104));
static_assert(offsetof(TPanelInfo, OwnerGuid) == per_target(8, 16));
static_assert(offsetof(TPanelInfo, Flags) == per_target(24, 32));
static_assert(offsetof(TPanelInfo, ItemsNumber) == per_target(32, 40));
static_assert(offsetof(TPanelInfo, PanelRect) == per_target(40, 56));
static_assert(offsetof(TPanelInfo, CurrentItem) == per_target(56, 72));
static_assert(offsetof(TPanelInfo, ViewMode) == per_target(64, 88));
static_assert(offsetof(TPanelInfo, PanelType) == per_target(68, 96));
static_assert(offsetof(TPanelInfo, SortMode) == per_target(72, 100));

struct TFarPanelDirectory {
  size_t StructSize;
  const wchar_t* Name;
  const wchar_t* Param;
  GUID PluginId;
  const wchar_t* File;
};
static_assert(sizeof(TFarPanelDirectory) == per_target(32, 48));
static_assert(offsetof(TFarPanelDirectory, PluginId) == per_target(12, 24));
static_assert(offsetof(TFarPanelDirectory, Name) == per_target(4, 8));
static_assert(offsetof(TFarPanelDirectory, Param) == per_target(8, 16));
static_assert(offsetof(TFarPanelDirectory, File) == per_target(28, 40));

// Message flags. FMSG_MB_* is a 4-bit field (one value at a time), not independent bits.
constexpr TFarFlags FMSG_WARNING = 0x1;
constexpr TFarFlags FMSG_ERRORTYPE = 0x2;
constexpr TFarFlags FMSG_KEEPBACKGROUND = 0x4;
constexpr TFarFlags FMSG_LEFTALIGN = 0x8;
constexpr TFarFlags FMSG_ALLINONE = 0x10;
constexpr TFarFlags FMSG_MB_MASK = 0xF0000;
constexpr TFarFlags FMSG_MB_OK = 0x10000;
constexpr TFarFlags FMSG_MB_OKCANCEL = 0x20000;
constexpr TFarFlags FMSG_MB_ABORTRETRYIGNORE = 0x30000;
constexpr TFarFlags FMSG_MB_YESNO = 0x40000;
constexpr TFarFlags FMSG_MB_YESNOCANCEL = 0x50000;
constexpr TFarFlags FMSG_MB_RETRYCANCEL = 0x60000;

// InputBox flags.
constexpr TFarFlags FIB_ENABLEEMPTY = 0x1;
constexpr TFarFlags FIB_PASSWORD = 0x2;
constexpr TFarFlags FIB_EXPANDENV = 0x4;
constexpr TFarFlags FIB_NOUSELASTHISTORY = 0x8;
constexpr TFarFlags FIB_BUTTONS = 0x10;
constexpr TFarFlags FIB_NOAMPERSAND = 0x20;
constexpr TFarFlags FIB_EDITPATH = 0x40;
constexpr TFarFlags FIB_EDITPATHEXEC = 0x80;

enum : int {
  DI_TEXT = 0, DI_VTEXT = 1, DI_SINGLEBOX = 2, DI_DOUBLEBOX = 3, DI_EDIT = 4, DI_PSWEDIT = 5,
  DI_FIXEDIT = 6, DI_BUTTON = 7, DI_CHECKBOX = 8, DI_RADIOBUTTON = 9, DI_COMBOBOX = 10,
  DI_LISTBOX = 11, DI_USERCONTROL = 255,
};

struct TVersionInfo {
  DWORD Major, Minor, Revision, Build;
  int Stage;
};
static_assert(sizeof(TVersionInfo) == 20);

struct TGlobalInfo {
  size_t StructSize;
  TVersionInfo MinFarVersion;
  TVersionInfo Version;
  GUID Guid;
  const wchar_t* Title;
  const wchar_t* Description;
  const wchar_t* Author;
  void* Instance;
};
static_assert(sizeof(TGlobalInfo) == per_target(76, 96));
static_assert(offsetof(TGlobalInfo, Guid) == per_target(44, 48));
static_assert(offsetof(TGlobalInfo, Instance) == per_target(72, 88));

struct TAnalyseInfo {
  size_t StructSize;
  const wchar_t* FileName;
  void* Buffer;
  size_t BufferSize;
  TFarFlags OpMode;
  void* Instance;
};
static_assert(sizeof(TAnalyseInfo) == per_target(32, 48));
static_assert(offsetof(TAnalyseInfo, OpMode) == per_target(16, 32));
static_assert(offsetof(TAnalyseInfo, Instance) == per_target(24, 40));

struct TOpenAnalyseInfo {
  size_t StructSize;
  TAnalyseInfo* Info;
  HANDLE Handle;
};
static_assert(sizeof(TOpenAnalyseInfo) == per_target(12, 24));

struct TOpenInfo {
  size_t StructSize;
  int OpenFrom;
  const GUID* Guid;
  intptr_t Data;
  void* Instance;
};
static_assert(sizeof(TOpenInfo) == per_target(20, 40));
static_assert(offsetof(TOpenInfo, Data) == per_target(12, 24));
static_assert(offsetof(TOpenInfo, Guid) == per_target(8, 16));

struct TCloseAnalyseInfo {
  size_t StructSize;
  HANDLE Handle;
  void* Instance;
};
static_assert(sizeof(TCloseAnalyseInfo) == per_target(12, 24));

struct TFarPanelItemFreeInfo {
  size_t StructSize;
  HANDLE hPlugin;
};
static_assert(sizeof(TFarPanelItemFreeInfo) == per_target(8, 16));

using TFarPanelItemFreeCallback = void(WINAPI*)(void* UserData, const TFarPanelItemFreeInfo* Info);

struct TUserDataItem {
  void* Data;
  TFarPanelItemFreeCallback FreeData;
};
static_assert(sizeof(TUserDataItem) == per_target(8, 16));

struct TPluginPanelItem {
  FILETIME CreationTime;
  FILETIME LastAccessTime;
  FILETIME LastWriteTime;
  FILETIME ChangeTime;
  std::uint64_t FileSize;
  std::uint64_t AllocationSize;
  const wchar_t* FileName;
  const wchar_t* AlternateFileName;
  const wchar_t* Description;
  const wchar_t* Owner;
  const wchar_t* const* CustomColumnData;
  size_t CustomColumnNumber;
  TFarFlags Flags;
  TUserDataItem UserData;
  uintptr_t FileAttributes;
  uintptr_t NumberOfLinks;
  uintptr_t CRC32;
  intptr_t Reserved[2];
};
static_assert(sizeof(TPluginPanelItem) == per_target(112, 160));
static_assert(offsetof(TPluginPanelItem, FileSize) == per_target(32, 32));
static_assert(offsetof(TPluginPanelItem, AllocationSize) == per_target(40, 40));
static_assert(offsetof(TPluginPanelItem, FileName) == per_target(48, 48));
static_assert(offsetof(TPluginPanelItem, Flags) == per_target(72, 96));
static_assert(offsetof(TPluginPanelItem, UserData) == per_target(80, 104));
static_assert(offsetof(TPluginPanelItem, FileAttributes) == per_target(88, 120));
static_assert(offsetof(TPluginPanelItem, Reserved) == per_target(100, 144));

struct TGetFindDataInfo {
  size_t StructSize;
  HANDLE hPanel;
  TPluginPanelItem* PanelItem;
  size_t ItemsNumber;
  TFarFlags OpMode;
  void* Instance;
};
static_assert(sizeof(TGetFindDataInfo) == per_target(32, 48));
static_assert(offsetof(TGetFindDataInfo, OpMode) == per_target(16, 32));
static_assert(offsetof(TGetFindDataInfo, ItemsNumber) == per_target(12, 24));

struct TFreeFindDataInfo {
  size_t StructSize;
  HANDLE hPanel;
  TPluginPanelItem* PanelItem;
  size_t ItemsNumber;
  void* Instance;
};
static_assert(sizeof(TFreeFindDataInfo) == per_target(20, 40));

// Today's header is 40 bytes (64 on x86-64); the host announces the older 32-byte size (56) in
// StructSize but hands over the full record, so a plugin built against today's header reads only
// zero-filled memory.
struct TSetDirectoryInfo {
  size_t StructSize;
  HANDLE hPanel;
  const wchar_t* Dir;
  intptr_t Reserved;
  TFarFlags OpMode;
  TUserDataItem UserData;
  void* Instance;
};
static_assert(sizeof(TSetDirectoryInfo) == per_target(40, 64));
static_assert(offsetof(TSetDirectoryInfo, OpMode) == per_target(16, 32));
static_assert(offsetof(TSetDirectoryInfo, UserData) == per_target(24, 40));
static_assert(offsetof(TSetDirectoryInfo, Instance) == per_target(32, 56));
constexpr size_t SetDirectoryInfoAnnouncedSize = per_target(32, 56);

struct TGetFilesInfo {
  size_t StructSize;
  HANDLE hPanel;
  TPluginPanelItem* PanelItem;
  size_t ItemsNumber;
  BOOL Move;
  const wchar_t* DestPath;
  TFarFlags OpMode;
  void* Instance;
};
static_assert(sizeof(TGetFilesInfo) == per_target(40, 64));
static_assert(offsetof(TGetFilesInfo, Move) == per_target(16, 32));
static_assert(offsetof(TGetFilesInfo, DestPath) == per_target(20, 40));
static_assert(offsetof(TGetFilesInfo, OpMode) == per_target(24, 48));
static_assert(offsetof(TGetFilesInfo, Instance) == per_target(32, 56));

// Packing. PPIF_* flags mark the items of a PutFilesInfo; SrcPath is FAR's current folder.
constexpr TFarFlags PPIF_NONE = 0x0;
constexpr TFarFlags PPIF_SELECTED = 0x40000000;
constexpr TFarFlags PPIF_PROCESSDESCR = 0x80000000;

struct TPutFilesInfo {
  size_t StructSize;
  HANDLE hPanel;
  TPluginPanelItem* PanelItem;
  size_t ItemsNumber;
  BOOL Move;
  const wchar_t* SrcPath;
  TFarFlags OpMode;
  void* Instance;
};
static_assert(sizeof(TPutFilesInfo) == per_target(40, 64));
static_assert(offsetof(TPutFilesInfo, Move) == per_target(16, 32));
static_assert(offsetof(TPutFilesInfo, SrcPath) == per_target(20, 40));
static_assert(offsetof(TPutFilesInfo, OpMode) == per_target(24, 48));
static_assert(offsetof(TPutFilesInfo, Instance) == per_target(32, 56));

struct TDeleteFilesInfo {
  size_t StructSize;
  HANDLE hPanel;
  TPluginPanelItem* PanelItem;
  size_t ItemsNumber;
  TFarFlags OpMode;
  void* Instance;
};
static_assert(sizeof(TDeleteFilesInfo) == per_target(32, 48));
static_assert(offsetof(TDeleteFilesInfo, OpMode) == per_target(16, 32));
static_assert(offsetof(TDeleteFilesInfo, Instance) == per_target(24, 40));

// Passed writable: FAR reads Name back after the call.
struct TMakeDirectoryInfo {
  size_t StructSize;
  HANDLE hPanel;
  const wchar_t* Name;
  TFarFlags OpMode;
  void* Instance;
};
static_assert(sizeof(TMakeDirectoryInfo) == per_target(32, 40));
static_assert(offsetof(TMakeDirectoryInfo, Name) == per_target(8, 16));
static_assert(offsetof(TMakeDirectoryInfo, OpMode) == per_target(16, 24));
static_assert(offsetof(TMakeDirectoryInfo, Instance) == per_target(24, 32));

enum : int {
  FMVT_UNKNOWN = 0, FMVT_INTEGER = 1, FMVT_STRING = 2, FMVT_DOUBLE = 3, FMVT_BOOLEAN = 4, FMVT_BINARY = 5,
  FMVT_POINTER = 6, FMVT_NIL = 7, FMVT_ARRAY = 8, FMVT_PANEL = 9, FMVT_ERROR = 10, FMVT_MBSTRING = 11,
};

struct TFarMacroValue {
  int Type;
  union {
    std::int64_t Integer;
    std::int64_t Boolean;
    double Double;
    const wchar_t* String;
    const char* MBString;
    void* Pointer;
    struct {
      void* Data;
      size_t Size;
    } Binary;
    struct {
      TFarMacroValue* Values;
      size_t Count;
    } Array;
  };
};
static_assert(sizeof(TFarMacroValue) == per_target(16, 24));
static_assert(offsetof(TFarMacroValue, String) == per_target(8, 8));
static_assert(offsetof(TFarMacroValue, Binary.Size) == per_target(12, 16));

// OpenInfo.Data when OpenFrom is OPEN_FROMMACRO.
constexpr int OPEN_FROMMACRO = 11;
struct TOpenMacroInfo {
  size_t StructSize;
  size_t Count;
  TFarMacroValue* Values;
};
static_assert(sizeof(TOpenMacroInfo) == per_target(12, 24));
static_assert(offsetof(TOpenMacroInfo, Values) == per_target(8, 16));

// Filled by the plugin in GetOpenPanelInfoW; the host reads the folder, host file and shortcut data.
struct TOpenPanelInfo {
  size_t StructSize;
  HANDLE hPanel;
  TFarFlags Flags;
  const wchar_t* HostFile;
  const wchar_t* CurDir;
  const wchar_t* Format;
  const wchar_t* PanelTitle;
  const void* InfoLines;
  size_t InfoLinesNumber;
  const wchar_t* const* DescrFiles;
  size_t DescrFilesNumber;
  const void* PanelModesArray;
  size_t PanelModesNumber;
  intptr_t StartPanelMode;
  int StartSortMode;
  intptr_t StartSortOrder;
  const void* KeyBar;
  const wchar_t* ShortcutData;
  std::uint64_t FreeSize;
  TUserDataItem UserData;
  void* Instance;
};
static_assert(sizeof(TOpenPanelInfo) == per_target(104, 176));
static_assert(offsetof(TOpenPanelInfo, HostFile) == per_target(16, 24));
static_assert(offsetof(TOpenPanelInfo, CurDir) == per_target(20, 32));
static_assert(offsetof(TOpenPanelInfo, ShortcutData) == per_target(72, 136));
static_assert(offsetof(TOpenPanelInfo, FreeSize) == per_target(80, 144));
static_assert(offsetof(TOpenPanelInfo, Instance) == per_target(96, 168));

struct TClosePanelInfo {
  size_t StructSize;
  HANDLE hPanel;
  void* Instance;
};
static_assert(sizeof(TClosePanelInfo) == per_target(12, 24));

struct TExitInfo {
  size_t StructSize;
  void* Instance;
};
static_assert(sizeof(TExitInfo) == per_target(8, 16));

struct TPluginMenuItem {
  const GUID* Guids;
  const wchar_t* const* Strings;
  size_t Count;
};
static_assert(sizeof(TPluginMenuItem) == per_target(12, 24));

struct TPluginInfo {
  size_t StructSize;
  TFarFlags Flags;
  TPluginMenuItem DiskMenu;
  TPluginMenuItem PluginMenu;
  TPluginMenuItem PluginConfig;
  const wchar_t* CommandPrefix;
  void* Instance;
};
static_assert(sizeof(TPluginInfo) == per_target(64, 104));
static_assert(offsetof(TPluginInfo, Flags) == per_target(8, 8));
static_assert(offsetof(TPluginInfo, PluginConfig) == per_target(40, 64));
static_assert(offsetof(TPluginInfo, Instance) == per_target(56, 96));

struct TConfigureInfo {
  size_t StructSize;
  const GUID* Guid;
  void* Instance;
};
static_assert(sizeof(TConfigureInfo) == per_target(12, 24));

struct TFarListItem {
  TFarFlags Flags;
  const wchar_t* Text;
  intptr_t UserData;
  intptr_t Reserved;
};
static_assert(sizeof(TFarListItem) == per_target(24, 32));

struct TFarList {
  size_t StructSize;
  size_t ItemsNumber;
  TFarListItem* Items;
};
static_assert(sizeof(TFarList) == per_target(12, 24));
static_assert(offsetof(TFarList, Items) == per_target(8, 16));
static_assert(offsetof(TFarListItem, Text) == per_target(8, 8));
static_assert(offsetof(TFarListItem, UserData) == per_target(12, 16));

struct TFarDialogItem {
  int Type;
  intptr_t X1, Y1, X2, Y2;
  union {
    intptr_t Selected;
    TFarList* ListItems;
    void* VBuf;
    intptr_t Reserved0;
  };
  const wchar_t* History;
  const wchar_t* Mask;
  TFarFlags Flags;
  const wchar_t* Data;
  size_t MaxLength;
  intptr_t UserData;
  intptr_t Reserved[2];
};
static_assert(sizeof(TFarDialogItem) == per_target(64, 112));
static_assert(offsetof(TFarDialogItem, X1) == per_target(4, 8));
static_assert(offsetof(TFarDialogItem, Selected) == per_target(20, 40));
static_assert(offsetof(TFarDialogItem, Flags) == per_target(32, 64));
static_assert(offsetof(TFarDialogItem, Data) == per_target(40, 72));
static_assert(offsetof(TFarDialogItem, MaxLength) == per_target(44, 80));
static_assert(offsetof(TFarDialogItem, Reserved) == per_target(52, 96));

// Settings value types, the roots of FAR's own settings and the locations of plugin settings.
enum : int { FST_UNKNOWN = 0, FST_SUBKEY = 1, FST_QWORD = 2, FST_STRING = 3, FST_DATA = 4 };
enum : size_t {
  FSSF_ROOT = 0, FSSF_HISTORY_CMD = 1, FSSF_HISTORY_FOLDER = 2, FSSF_HISTORY_VIEW = 3, FSSF_HISTORY_EDIT = 4,
  FSSF_HISTORY_EXTERNAL = 5, FSSF_FOLDERSHORTCUT_0 = 6, FSSF_FOLDERSHORTCUT_9 = 15, FSSF_CONFIRMATIONS = 16,
  FSSF_SYSTEM = 17, FSSF_PANEL = 18, FSSF_EDITOR = 19, FSSF_SCREEN = 20, FSSF_DIALOG = 21, FSSF_INTERFACE = 22,
  FSSF_PANELLAYOUT = 23,
};
enum : intptr_t { PSL_ROAMING = 0, PSL_LOCAL = 1 };

// Dialog item flags, DM_* commands, DN_* notifications and check states the dialogs answer.
constexpr TFarFlags DIF_GROUP = 0x400;
constexpr TFarFlags DIF_BTNNOCLOSE = 0x40000;
constexpr TFarFlags DIF_LISTNOCLOSE = 0x4000000;
constexpr TFarFlags DIF_DROPDOWNLIST = 0x100000;
constexpr TFarFlags DIF_3STATE = 0x800000;
constexpr TFarFlags DIF_HIDDEN = 0x10000000;
constexpr TFarFlags DIF_READONLY = 0x20000000;
constexpr TFarFlags DIF_NOFOCUS = 0x40000000;
constexpr TFarFlags DIF_DISABLE = 0x80000000;
constexpr TFarFlags DIF_DEFAULTBUTTON = 0x100000000ULL;
constexpr TFarFlags DIF_FOCUS = 0x200000000ULL;
constexpr TFarFlags LIF_SELECTED = 0x10000;
constexpr TFarFlags LIF_CHECKED = 0x20000;
constexpr TFarFlags LIF_SEPARATOR = 0x40000;
constexpr TFarFlags LIF_DISABLE = 0x80000;
constexpr TFarFlags LIF_GRAYED = 0x100000;
constexpr TFarFlags LIF_HIDDEN = 0x200000;
constexpr TFarFlags LIF_DELETEUSERDATA = 0x80000000;
constexpr TFarFlags LIFIND_EXACTMATCH = 0x1;

enum : intptr_t {
  DM_CLOSE = 1, DM_ENABLE = 2, DM_ENABLEREDRAW = 3, DM_GETDLGDATA = 4, DM_GETDLGITEM = 5, DM_GETTEXT = 7,
  DM_SETDLGDATA = 11, DM_SETFOCUS = 13, DM_REDRAW = 14, DM_SETTEXT = 15, DM_SETMAXTEXTLENGTH = 16,
  DM_GETFOCUS = 18, DM_SETTEXTPTR = 22, DM_SHOWITEM = 23, DM_GETCHECK = 25, DM_SETCHECK = 26,
  DM_LISTSORT = 28, DM_LISTGETITEM = 29, DM_LISTGETCURPOS = 30, DM_LISTSETCURPOS = 31, DM_LISTDELETE = 32,
  DM_LISTADD = 33, DM_LISTADDSTR = 34, DM_LISTUPDATE = 35, DM_LISTINSERT = 36, DM_LISTFINDSTRING = 37,
  DM_LISTINFO = 38, DM_LISTGETDATA = 39, DM_LISTSETDATA = 40, DM_LISTSETTITLES = 41, DM_LISTGETTITLES = 42,
  DM_GETITEMDATA = 51, DM_SETITEMDATA = 52, DM_LISTSET = 53, DM_LISTGETDATASIZE = 56, DM_GETSELECTION = 57, DM_SETSELECTION = 58, DM_GETCONSTTEXTPTR = 63,
  DM_GETDLGITEMSHORT = 64, DM_GETDIALOGTITLE = 67, DM_USER = 0x4000,
};

enum : intptr_t {
  DN_FIRST = 4096, DN_BTNCLICK = 4097, DN_CTLCOLORDIALOG = 4098, DN_CTLCOLORDLGITEM = 4099,
  DN_CTLCOLORDLGLIST = 4100, DN_DRAWDIALOG = 4101, DN_DRAWDLGITEM = 4102, DN_EDITCHANGE = 4103,
  DN_GOTFOCUS = 4105, DN_HELP = 4106, DN_HOTKEY = 4107, DN_INITDIALOG = 4108, DN_KILLFOCUS = 4109,
  DN_LISTCHANGE = 4110, DN_DRAGGED = 4111, DN_DRAWDIALOGDONE = 4113, DN_INPUT = 4115, DN_CONTROLINPUT = 4116,
  DN_CLOSE = 4117, DN_DRAWDLGITEMDONE = 4120,
};

enum : intptr_t { BSTATE_UNCHECKED = 0, BSTATE_CHECKED = 1, BSTATE_3STATE = 2, BSTATE_TOGGLE = 3 };

struct TFarDialogItemData {
  size_t StructSize;
  size_t PtrLength;
  wchar_t* PtrData;
};
static_assert(sizeof(TFarDialogItemData) == per_target(12, 24));
static_assert(offsetof(TFarDialogItemData, PtrData) == per_target(8, 16));

struct TFarGetDialogItem {
  size_t StructSize;
  size_t Size;
  TFarDialogItem* Item;
};
static_assert(sizeof(TFarGetDialogItem) == per_target(12, 24));
static_assert(offsetof(TFarGetDialogItem, Item) == per_target(8, 16));

struct TFarListPos {
  size_t StructSize;
  intptr_t SelectPos;
  intptr_t TopPos;
};
static_assert(sizeof(TFarListPos) == per_target(12, 24));
static_assert(offsetof(TFarListPos, TopPos) == per_target(8, 16));

struct TFarListInfo {
  size_t StructSize;
  TFarFlags Flags;
  size_t ItemsNumber;
  intptr_t SelectPos;
  intptr_t TopPos;
  intptr_t MaxHeight;
  intptr_t MaxLength;
};
static_assert(sizeof(TFarListInfo) == per_target(40, 56));
static_assert(offsetof(TFarListInfo, Flags) == per_target(8, 8));
static_assert(offsetof(TFarListInfo, ItemsNumber) == per_target(16, 16));
static_assert(offsetof(TFarListInfo, MaxLength) == per_target(32, 48));

// DM_LISTGETITEM, DM_LISTUPDATE and DM_LISTINSERT embed a whole FarListItem after the index.
struct TFarListGetItem {
  size_t StructSize;
  intptr_t ItemIndex;
  TFarListItem Item;
};
static_assert(sizeof(TFarListGetItem) == per_target(32, 48));
static_assert(offsetof(TFarListGetItem, Item) == per_target(8, 16));

struct TFarListUpdate {
  size_t StructSize;
  intptr_t Index;
  TFarListItem Item;
};
static_assert(sizeof(TFarListUpdate) == per_target(32, 48));
static_assert(offsetof(TFarListUpdate, Item) == per_target(8, 16));

struct TFarListInsert {
  size_t StructSize;
  intptr_t Index;
  TFarListItem Item;
};
static_assert(sizeof(TFarListInsert) == per_target(32, 48));
static_assert(offsetof(TFarListInsert, Item) == per_target(8, 16));

struct TFarListDelete {
  size_t StructSize;
  intptr_t StartIndex;
  intptr_t Count;
};
static_assert(sizeof(TFarListDelete) == per_target(12, 24));
static_assert(offsetof(TFarListDelete, Count) == per_target(8, 16));

struct TFarListTitles {
  size_t StructSize;
  size_t TitleSize;
  const wchar_t* Title;
  size_t BottomSize;
  const wchar_t* Bottom;
};
static_assert(sizeof(TFarListTitles) == per_target(20, 40));
static_assert(offsetof(TFarListTitles, Bottom) == per_target(16, 32));

struct TFarListFind {
  size_t StructSize;
  intptr_t StartIndex;
  const wchar_t* Pattern;
  TFarFlags Flags;
};
static_assert(sizeof(TFarListFind) == per_target(24, 32));
static_assert(offsetof(TFarListFind, Flags) == per_target(16, 24));

struct TFarListItemData {
  size_t StructSize;
  intptr_t Index;
  size_t DataSize;
  void* Data;
};
static_assert(sizeof(TFarListItemData) == per_target(16, 32));
static_assert(offsetof(TFarListItemData, Data) == per_target(12, 24));

struct TFarSettingsCreate {
  size_t StructSize;
  GUID Guid;
  HANDLE Handle;
};
static_assert(sizeof(TFarSettingsCreate) == per_target(24, 32));
static_assert(offsetof(TFarSettingsCreate, Guid) == per_target(4, 8));
static_assert(offsetof(TFarSettingsCreate, Handle) == per_target(20, 24));

struct TFarSettingsItem {
  size_t StructSize;
  size_t Root;
  const wchar_t* Name;
  int Type;
  union {
    std::uint64_t Number;
    const wchar_t* String;
    struct {
      size_t Size;
      const void* Data;
    } Data;
  };
};
static_assert(sizeof(TFarSettingsItem) == per_target(24, 48));
static_assert(offsetof(TFarSettingsItem, Root) == per_target(4, 8));
static_assert(offsetof(TFarSettingsItem, Name) == per_target(8, 16));
static_assert(offsetof(TFarSettingsItem, Type) == per_target(12, 24));
static_assert(offsetof(TFarSettingsItem, Number) == per_target(16, 32));
static_assert(offsetof(TFarSettingsItem, String) == per_target(16, 32));
static_assert(offsetof(TFarSettingsItem, Data.Size) == per_target(16, 32));
static_assert(offsetof(TFarSettingsItem, Data.Data) == per_target(20, 40));

struct TFarSettingsName {
  const wchar_t* Name;
  int Type;
};
static_assert(sizeof(TFarSettingsName) == per_target(8, 16));
static_assert(offsetof(TFarSettingsName, Type) == per_target(4, 8));

struct TFarSettingsHistory {
  const wchar_t* Name;
  const wchar_t* Param;
  GUID PluginId;
  const wchar_t* File;
  FILETIME Time;
  BOOL Lock;
};
static_assert(sizeof(TFarSettingsHistory) == per_target(40, 56));
static_assert(offsetof(TFarSettingsHistory, PluginId) == per_target(8, 16));
static_assert(offsetof(TFarSettingsHistory, File) == per_target(24, 32));
static_assert(offsetof(TFarSettingsHistory, Time) == per_target(28, 40));
static_assert(offsetof(TFarSettingsHistory, Lock) == per_target(36, 48));

struct TFarSettingsEnum {
  size_t StructSize;
  size_t Root;
  size_t Count;
  union {
    const TFarSettingsName* Items;
    const TFarSettingsHistory* Histories;
  };
};
static_assert(sizeof(TFarSettingsEnum) == per_target(16, 32));
static_assert(offsetof(TFarSettingsEnum, Root) == per_target(4, 8));
static_assert(offsetof(TFarSettingsEnum, Count) == per_target(8, 16));
static_assert(offsetof(TFarSettingsEnum, Items) == per_target(12, 24));

struct TFarSettingsValue {
  size_t StructSize;
  size_t Root;
  const wchar_t* Value;
};
static_assert(sizeof(TFarSettingsValue) == per_target(12, 24));
static_assert(offsetof(TFarSettingsValue, Root) == per_target(4, 8));
static_assert(offsetof(TFarSettingsValue, Value) == per_target(8, 16));

// Standard-function modes and flags (64-bit where the API passes a flag set).
constexpr TFarFlags PN_CMPNAME = 0x0, PN_CMPNAMELIST = 0x10000, PN_GENERATENAME = 0x20000,
                    PN_CHECKMASK = 0x30000, PN_SKIPPATH = 0x1000000, PN_SHOWERRORMESSAGE = 0x2000000;
constexpr TFarFlags FFFS_COMMAS = 0x0100000000000000ULL, FFFS_FLOATSIZE = 0x0200000000000000ULL,
                    FFFS_SHOWBYTESINDEX = 0x0400000000000000ULL, FFFS_ECONOMIC = 0x0800000000000000ULL,
                    FFFS_THOUSAND = 0x1000000000000000ULL, FFFS_MINSIZEINDEX = 0x2000000000000000ULL,
                    FFFS_MINSIZEINDEX_MASK = 0x7;
constexpr TFarFlags FRS_RETUPDIR = 0x1, FRS_RECUR = 0x2, FRS_SCANSYMLINK = 0x4;
constexpr TFarFlags MLF_SHOWERRMSG = 0x10000, MLF_DONOTUPDATEPANEL = 0x20000, MLF_HOLDTARGET = 0x40000;
constexpr TFarFlags XLAT_SWITCHKEYBLAYOUT = 0x1, XLAT_SWITCHKEYBBEEP = 0x2, XLAT_USEKEYBLAYOUTNAME = 0x4,
                    XLAT_CONVERTALLCMDLINE = 0x10000;
enum : int { CPM_FULL = 0, CPM_REAL = 1, CPM_NATIVE = 2 };
enum : int {
  LINK_HARDLINK = 1, LINK_JUNCTION = 2, LINK_VOLMOUNT = 3, LINK_SYMLINKFILE = 4, LINK_SYMLINKDIR = 5,
  LINK_SYMLINK = 6,
};
enum : int { FCT_ANY = 0, FCT_STREAM = 1, FCT_COLUMN = 2 };

struct TDetectCodePageInfo {
  size_t StructSize;
  const wchar_t* FileName;
};
static_assert(sizeof(TDetectCodePageInfo) == per_target(8, 16));

// Host callbacks. Every flag argument is 64-bit: a 32-bit declaration would pop too few bytes on
// i686 and drop the upper flag bits on x86-64.
using TFarApiDialogProc = intptr_t(WINAPI*)(HANDLE hDlg, intptr_t Msg, intptr_t Param1, void* Param2);
using TFarStdCompare = int(WINAPI*)(const void*, const void*, void*);
using TFarRecursiveSearchFunc = int(WINAPI*)(const TPluginPanelItem*, const wchar_t*, void*);

struct FarStandardFunctions {
  size_t StructSize;
  int(WINAPI* atoi)(const wchar_t* s);
  std::int64_t(WINAPI* atoi64)(const wchar_t* s);
  wchar_t*(WINAPI* itoa)(int value, wchar_t* Str, int radix);
  wchar_t*(WINAPI* itoa64)(std::int64_t value, wchar_t* Str, int radix);
  int(__cdecl* sprintf)(wchar_t* Buffer, const wchar_t* Format, ...);
  int(__cdecl* sscanf)(const wchar_t* Buffer, const wchar_t* Format, ...);
  void(WINAPI* qsort)(void* base, size_t nelem, size_t width, TFarStdCompare fcmp, void* user);
  void*(WINAPI* bsearch)(const void* key, const void* base, size_t nelem, size_t width,
                         TFarStdCompare fcmp, void* user);
  int(__cdecl* snprintf)(wchar_t* Buffer, size_t Sizebuf, const wchar_t* Format, ...);
  int(WINAPI* LIsLower)(wchar_t Ch);
  int(WINAPI* LIsUpper)(wchar_t Ch);
  int(WINAPI* LIsAlpha)(wchar_t Ch);
  int(WINAPI* LIsAlphanum)(wchar_t Ch);
  wchar_t(WINAPI* LUpper)(wchar_t LowerChar);
  wchar_t(WINAPI* LLower)(wchar_t UpperChar);
  void(WINAPI* LUpperBuf)(wchar_t* Buf, intptr_t Length);
  void(WINAPI* LLowerBuf)(wchar_t* Buf, intptr_t Length);
  void(WINAPI* LStrupr)(wchar_t* s1);
  void(WINAPI* LStrlwr)(wchar_t* s1);
  int(WINAPI* LStricmp)(const wchar_t* s1, const wchar_t* s2);
  int(WINAPI* LStrnicmp)(const wchar_t* s1, const wchar_t* s2, intptr_t n);
  void(WINAPI* Unquote)(wchar_t* Str);
  wchar_t*(WINAPI* LTrim)(wchar_t* Str);
  wchar_t*(WINAPI* RTrim)(wchar_t* Str);
  wchar_t*(WINAPI* Trim)(wchar_t* Str);
  wchar_t*(WINAPI* TruncStr)(wchar_t* Str, intptr_t MaxLength);
  wchar_t*(WINAPI* TruncPathStr)(wchar_t* Str, intptr_t MaxLength);
  wchar_t*(WINAPI* QuoteSpaceOnly)(wchar_t* Str);
  const wchar_t*(WINAPI* PointToName)(const wchar_t* Path);
  size_t(WINAPI* GetPathRoot)(const wchar_t* Path, wchar_t* Root, size_t DestSize);
  BOOL(WINAPI* AddEndSlash)(wchar_t* Path);
  BOOL(WINAPI* CopyToClipboard)(int Type, const wchar_t* Data);
  size_t(WINAPI* PasteFromClipboard)(int Type, wchar_t* Data, size_t Size);
  size_t(WINAPI* FarInputRecordToName)(const INPUT_RECORD* Key, wchar_t* KeyText, size_t Size);
  BOOL(WINAPI* FarNameToInputRecord)(const wchar_t* Name, INPUT_RECORD* Key);
  wchar_t*(WINAPI* XLat)(wchar_t* Line, intptr_t StartPos, intptr_t EndPos, TFarFlags Flags);
  size_t(WINAPI* GetFileOwner)(const wchar_t* Computer, const wchar_t* Name, wchar_t* Owner,
                               size_t Size);
  size_t(WINAPI* GetNumberOfLinks)(const wchar_t* Name);
  void(WINAPI* FarRecursiveSearch)(const wchar_t* InitDir, const wchar_t* Mask,
                                   TFarRecursiveSearchFunc Func, TFarFlags Flags, void* Param);
  size_t(WINAPI* MkTemp)(wchar_t* Dest, size_t DestSize, const wchar_t* Prefix);
  size_t(WINAPI* ProcessName)(const wchar_t* param1, wchar_t* param2, size_t size, TFarFlags flags);
  BOOL(WINAPI* MkLink)(const wchar_t* Src, const wchar_t* Dest, int Type, TFarFlags Flags);
  size_t(WINAPI* ConvertPath)(int Mode, const wchar_t* Src, wchar_t* Dest, size_t DestSize);
  size_t(WINAPI* GetReparsePointInfo)(const wchar_t* Src, wchar_t* Dest, size_t DestSize);
  size_t(WINAPI* GetCurrentDirectory)(size_t Size, wchar_t* Buffer);
  size_t(WINAPI* FormatFileSize)(std::uint64_t Size, intptr_t Width, TFarFlags Flags, wchar_t* Dest,
                                 size_t DestSize);
  // Appended by later FAR3 headers.
  std::uint64_t(WINAPI* FarClock)();
  int(WINAPI* CompareStrings)(const wchar_t* Str1, size_t Size1, const wchar_t* Str2, size_t Size2);
  uintptr_t(WINAPI* DetectCodePage)(TDetectCodePageInfo* Info);
};
static_assert(sizeof(FarStandardFunctions) == per_target(200, 400));
static_assert(offsetof(FarStandardFunctions, sprintf) == per_target(20, 40));
static_assert(offsetof(FarStandardFunctions, snprintf) == per_target(36, 72));
static_assert(offsetof(FarStandardFunctions, FormatFileSize) == per_target(184, 368));
static_assert(offsetof(FarStandardFunctions, DetectCodePage) == per_target(196, 392));

struct PluginStartupInfo {
  size_t StructSize;
  const wchar_t* ModuleName;
  intptr_t(WINAPI* Menu)(const GUID* PluginId, const GUID* Id, intptr_t X, intptr_t Y,
                         intptr_t MaxHeight, TFarFlags Flags, const wchar_t* Title,
                         const wchar_t* Bottom, const wchar_t* HelpTopic, const void* BreakKeys,
                         intptr_t* BreakCode, const void* Item, size_t ItemsNumber);
  intptr_t(WINAPI* Message)(const GUID* PluginId, const GUID* Id, TFarFlags Flags,
                            const wchar_t* HelpTopic, const wchar_t* const* Items,
                            size_t ItemsNumber, intptr_t ButtonsNumber);
  const wchar_t*(WINAPI* GetMsg)(const GUID* PluginId, intptr_t MsgId);
  intptr_t(WINAPI* PanelControl)(HANDLE hPanel, int Command, intptr_t Param1, void* Param2);
  HANDLE(WINAPI* SaveScreen)(intptr_t X1, intptr_t Y1, intptr_t X2, intptr_t Y2);
  void(WINAPI* RestoreScreen)(HANDLE hScreen);
  intptr_t(WINAPI* GetDirList)(const wchar_t* Dir, TPluginPanelItem** pPanelItem,
                               size_t* pItemsNumber);
  intptr_t(WINAPI* GetPluginDirList)(const GUID* PluginId, HANDLE hPanel, const wchar_t* Dir,
                                     TPluginPanelItem** pPanelItem, size_t* pItemsNumber);
  void(WINAPI* FreeDirList)(TPluginPanelItem* PanelItem, size_t nItemsNumber);
  void(WINAPI* FreePluginDirList)(HANDLE hPanel, TPluginPanelItem* PanelItem, size_t nItemsNumber);
  intptr_t(WINAPI* Viewer)(const wchar_t* FileName, const wchar_t* Title, intptr_t X1, intptr_t Y1,
                           intptr_t X2, intptr_t Y2, TFarFlags Flags, uintptr_t CodePage);
  intptr_t(WINAPI* Editor)(const wchar_t* FileName, const wchar_t* Title, intptr_t X1, intptr_t Y1,
                           intptr_t X2, intptr_t Y2, TFarFlags Flags, intptr_t StartLine,
                           intptr_t StartChar, uintptr_t CodePage);
  void(WINAPI* Text)(intptr_t X, intptr_t Y, const void* Color, const wchar_t* Str);
  intptr_t(WINAPI* EditorControl)(intptr_t EditorID, int Command, intptr_t Param1, void* Param2);
  FarStandardFunctions* FSF;
  BOOL(WINAPI* ShowHelp)(const wchar_t* ModuleName, const wchar_t* Topic, TFarFlags Flags);
  intptr_t(WINAPI* AdvControl)(const GUID* PluginId, int Command, intptr_t Param1, void* Param2);
  intptr_t(WINAPI* InputBox)(const GUID* PluginId, const GUID* Id, const wchar_t* Title,
                             const wchar_t* SubTitle, const wchar_t* HistoryName,
                             const wchar_t* SrcText, wchar_t* DestText, size_t DestSize,
                             const wchar_t* HelpTopic, TFarFlags Flags);
  BOOL(WINAPI* ColorDialog)(const GUID* PluginId, TFarFlags Flags, void* Color);
  HANDLE(WINAPI* DialogInit)(const GUID* PluginId, const GUID* Id, intptr_t X1, intptr_t Y1,
                             intptr_t X2, intptr_t Y2, const wchar_t* HelpTopic,
                             const TFarDialogItem* Item, size_t ItemsNumber, intptr_t Reserved,
                             TFarFlags Flags, TFarApiDialogProc DlgProc, void* Param);
  intptr_t(WINAPI* DialogRun)(HANDLE hDlg);
  void(WINAPI* DialogFree)(HANDLE hDlg);
  intptr_t(WINAPI* SendDlgMessage)(HANDLE hDlg, intptr_t Msg, intptr_t Param1, void* Param2);
  intptr_t(WINAPI* DefDlgProc)(HANDLE hDlg, intptr_t Msg, intptr_t Param1, void* Param2);
  intptr_t(WINAPI* ViewerControl)(intptr_t ViewerID, int Command, intptr_t Param1, void* Param2);
  intptr_t(WINAPI* PluginsControl)(HANDLE hHandle, int Command, intptr_t Param1, void* Param2);
  intptr_t(WINAPI* FileFilterControl)(HANDLE hHandle, int Command, intptr_t Param1, void* Param2);
  intptr_t(WINAPI* RegExpControl)(HANDLE hHandle, int Command, intptr_t Param1, void* Param2);
  intptr_t(WINAPI* MacroControl)(const GUID* PluginId, int Command, intptr_t Param1, void* Param2);
  intptr_t(WINAPI* SettingsControl)(HANDLE hHandle, int Command, intptr_t Param1, void* Param2);
  const void* Private;
  void* Instance;
  // Appended by later FAR3 headers.
  void(WINAPI* FreeScreen)(HANDLE hScreen);
};
static_assert(sizeof(PluginStartupInfo) == per_target(140, 280));
static_assert(offsetof(PluginStartupInfo, Message) == per_target(12, 24));
static_assert(offsetof(PluginStartupInfo, GetMsg) == per_target(16, 32));
static_assert(offsetof(PluginStartupInfo, FSF) == per_target(64, 128));
static_assert(offsetof(PluginStartupInfo, AdvControl) == per_target(72, 144));
static_assert(offsetof(PluginStartupInfo, DialogInit) == per_target(84, 168));
static_assert(offsetof(PluginStartupInfo, InputBox) == per_target(76, 152));
static_assert(offsetof(PluginStartupInfo, SettingsControl) == per_target(124, 248));
static_assert(offsetof(PluginStartupInfo, Instance) == per_target(132, 264));
static_assert(offsetof(PluginStartupInfo, FreeScreen) == per_target(136, 272));

// Plugin entry points: stdcall, one record pointer each.
using TGetGlobalInfoW = void(WINAPI*)(TGlobalInfo* AInfo);
using TSetStartupInfoW = void(WINAPI*)(const PluginStartupInfo* AInfo);
using TAnalyseW = HANDLE(WINAPI*)(const TAnalyseInfo* AInfo);
using TCloseAnalyseW = void(WINAPI*)(const TCloseAnalyseInfo* AInfo);
using TOpenW = HANDLE(WINAPI*)(const TOpenInfo* AInfo);
using TGetFindDataW = intptr_t(WINAPI*)(TGetFindDataInfo* AInfo);
using TFreeFindDataW = void(WINAPI*)(const TFreeFindDataInfo* AInfo);
using TSetDirectoryW = intptr_t(WINAPI*)(const TSetDirectoryInfo* AInfo);
using TGetFilesW = intptr_t(WINAPI*)(TGetFilesInfo* AInfo);
using TClosePanelW = void(WINAPI*)(const TClosePanelInfo* AInfo);
using TExitFARW = void(WINAPI*)(const TExitInfo* AInfo);
using TGetPluginInfoW = void(WINAPI*)(TPluginInfo* AInfo);
using TConfigureW = intptr_t(WINAPI*)(const TConfigureInfo* AInfo);
using TGetOpenPanelInfoW = void(WINAPI*)(TOpenPanelInfo* AInfo);
using TPutFilesW = intptr_t(WINAPI*)(const TPutFilesInfo* AInfo);
using TDeleteFilesW = intptr_t(WINAPI*)(const TDeleteFilesInfo* AInfo);
using TMakeDirectoryW = intptr_t(WINAPI*)(TMakeDirectoryInfo* AInfo);
