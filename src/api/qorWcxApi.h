// The WCX packer interface as the file manager defines it: records, callback types, error codes
// and capability flags. The module exports it; the harness and the tools call it.
#pragma once

#include <windows.h>
#include <cstddef>

#include "api/qorApiTarget.h"

namespace wcx {

enum : int {
  PK_OM_LIST = 0,
  PK_OM_EXTRACT = 1,
  PK_SKIP = 0,
  PK_TEST = 1,
  PK_EXTRACT = 2,
  PK_PACK_MOVE_FILES = 1,
  PK_PACK_SAVE_PATHS = 2,
  PK_PACK_ENCRYPT = 4,
  E_END_ARCHIVE = 10,
  E_NO_MEMORY = 11,
  E_BAD_DATA = 12,
  E_UNKNOWN_FORMAT = 14,
  E_EOPEN = 15,
  E_ECREATE = 16,
  E_ECLOSE = 17,
  E_EREAD = 18,
  E_EWRITE = 19,
  E_EABORTED = 21,
  E_NO_FILES = 22,
  E_NOT_SUPPORTED = 24,
  PK_CAPS_NEW = 1,
  PK_CAPS_MODIFY = 2,
  PK_CAPS_MULTIPLE = 4,
  PK_CAPS_DELETE = 8,
  PK_CAPS_OPTIONS = 16,
  PK_CAPS_BY_CONTENT = 64,
  PK_CAPS_SEARCHTEXT = 128,
  PK_CAPS_HIDE = 256,
  PK_CAPS_ENCRYPT = 512,
  BACKGROUND_UNPACK = 1,
  BACKGROUND_PACK = 2,
};

struct tOpenArchiveData {
  char* ArcName;
  int OpenMode;
  int OpenResult;
  char* CmtBuf;
  int CmtBufSize;
  int CmtSize;
  int CmtState;
};
static_assert(sizeof(tOpenArchiveData) == per_target(28, 40));
static_assert(offsetof(tOpenArchiveData, CmtBuf) == per_target(12, 16));
static_assert(offsetof(tOpenArchiveData, CmtState) == per_target(24, 32));

struct tOpenArchiveDataW {
  wchar_t* ArcName;
  int OpenMode;
  int OpenResult;
  wchar_t* CmtBuf;
  int CmtBufSize;
  int CmtSize;
  int CmtState;
};
static_assert(sizeof(tOpenArchiveDataW) == per_target(28, 40));
static_assert(offsetof(tOpenArchiveDataW, CmtBuf) == per_target(12, 16));
static_assert(offsetof(tOpenArchiveDataW, CmtState) == per_target(24, 32));

struct tHeaderData {
  char ArcName[260];
  char FileName[260];
  int Flags;
  int PackSize;
  int UnpSize;
  int HostOS;
  int FileCRC;
  int FileTime;
  int UnpVer;
  int Method;
  int FileAttr;
  char* CmtBuf;
  int CmtBufSize;
  int CmtSize;
  int CmtState;
};
static_assert(sizeof(tHeaderData) == per_target(572, 584));
static_assert(offsetof(tHeaderData, Flags) == 520);
static_assert(offsetof(tHeaderData, FileAttr) == 552);
static_assert(offsetof(tHeaderData, CmtBuf) == per_target(556, 560));
static_assert(offsetof(tHeaderData, CmtState) == per_target(568, 576));

struct tHeaderDataEx {
  char ArcName[1024];
  char FileName[1024];
  int Flags;
  unsigned int PackSize;
  unsigned int PackSizeHigh;
  unsigned int UnpSize;
  unsigned int UnpSizeHigh;
  int HostOS;
  int FileCRC;
  int FileTime;
  int UnpVer;
  int Method;
  int FileAttr;
  char* CmtBuf;
  int CmtBufSize;
  int CmtSize;
  int CmtState;
  char Reserved[1024];
};
static_assert(sizeof(tHeaderDataEx) == per_target(3132, 3144));
static_assert(offsetof(tHeaderDataEx, CmtBuf) == per_target(2092, 2096));
static_assert(offsetof(tHeaderDataEx, Flags) == 2048);
static_assert(offsetof(tHeaderDataEx, Reserved) == per_target(2108, 2116));

struct tHeaderDataExW {
  wchar_t ArcName[1024];
  wchar_t FileName[1024];
  int Flags;
  unsigned int PackSize;
  unsigned int PackSizeHigh;
  unsigned int UnpSize;
  unsigned int UnpSizeHigh;
  int HostOS;
  int FileCRC;
  int FileTime;
  int UnpVer;
  int Method;
  int FileAttr;
  wchar_t* CmtBuf;
  int CmtBufSize;
  int CmtSize;
  int CmtState;
  char Reserved[1024];
};
static_assert(sizeof(tHeaderDataExW) == per_target(5180, 5192));
static_assert(offsetof(tHeaderDataExW, CmtBuf) == per_target(4140, 4144));
static_assert(offsetof(tHeaderDataExW, Flags) == 4096);
static_assert(offsetof(tHeaderDataExW, FileAttr) == 4136);
static_assert(offsetof(tHeaderDataExW, Reserved) == per_target(4156, 4164));

struct PackDefaultParamStruct {
  int size;
  DWORD PluginInterfaceVersionLow;
  DWORD PluginInterfaceVersionHi;
  char DefaultIniName[260];
};
static_assert(sizeof(PackDefaultParamStruct) == 272);
static_assert(offsetof(PackDefaultParamStruct, DefaultIniName) == 12);

using tChangeVolProc = int(WINAPI*)(char* ArcName, int Mode);
using tChangeVolProcW = int(WINAPI*)(wchar_t* ArcName, int Mode);
using tProcessDataProc = int(WINAPI*)(char* FileName, int Size);
using tProcessDataProcW = int(WINAPI*)(wchar_t* FileName, int Size);

// The packing exports. Lists are names separated by NULs and ended by a second NUL.
using tPackFiles = int(WINAPI*)(char* PackedFile, char* SubPath, char* SrcPath, char* AddList, int Flags);
using tPackFilesW = int(WINAPI*)(wchar_t* PackedFile, wchar_t* SubPath, wchar_t* SrcPath, wchar_t* AddList,
                                 int Flags);
using tDeleteFiles = int(WINAPI*)(char* PackedFile, char* DeleteList);
using tDeleteFilesW = int(WINAPI*)(wchar_t* PackedFile, wchar_t* DeleteList);

}  // namespace wcx
