// The module's exported WCX packer surface: records, error codes and the seventeen entry points.
#pragma once

#include <windows.h>
#include <cstddef>

namespace wcx {

enum : int {
  PK_OM_LIST = 0,
  PK_OM_EXTRACT = 1,
  PK_SKIP = 0,
  PK_TEST = 1,
  PK_EXTRACT = 2,
  E_END_ARCHIVE = 10,
  E_BAD_DATA = 12,
  E_EOPEN = 15,
  E_ECLOSE = 17,
  E_EREAD = 18,
  E_EABORTED = 21,
  E_NOT_SUPPORTED = 24,
  PK_CAPS_BY_CONTENT = 64,
  PK_CAPS_SEARCHTEXT = 128,
  PK_CAPS_HIDE = 256,
  BACKGROUND_UNPACK = 1,
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
static_assert(sizeof(tOpenArchiveData) == 28);

struct tOpenArchiveDataW {
  wchar_t* ArcName;
  int OpenMode;
  int OpenResult;
  wchar_t* CmtBuf;
  int CmtBufSize;
  int CmtSize;
  int CmtState;
};
static_assert(sizeof(tOpenArchiveDataW) == 28);

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
static_assert(sizeof(tHeaderData) == 572);
static_assert(offsetof(tHeaderData, Flags) == 520);
static_assert(offsetof(tHeaderData, FileAttr) == 552);

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
static_assert(sizeof(tHeaderDataEx) == 3132);
static_assert(offsetof(tHeaderDataEx, Flags) == 2048);
static_assert(offsetof(tHeaderDataEx, Reserved) == 2108);

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
static_assert(sizeof(tHeaderDataExW) == 5180);
static_assert(offsetof(tHeaderDataExW, Flags) == 4096);
static_assert(offsetof(tHeaderDataExW, FileAttr) == 4136);
static_assert(offsetof(tHeaderDataExW, Reserved) == 4156);

struct PackDefaultParamStruct {
  int size;
  DWORD PluginInterfaceVersionLow;
  DWORD PluginInterfaceVersionHi;
  char DefaultIniName[260];
};
static_assert(sizeof(PackDefaultParamStruct) == 272);

using tChangeVolProc = int(WINAPI*)(char* ArcName, int Mode);
using tChangeVolProcW = int(WINAPI*)(wchar_t* ArcName, int Mode);
using tProcessDataProc = int(WINAPI*)(char* FileName, int Size);
using tProcessDataProcW = int(WINAPI*)(wchar_t* FileName, int Size);

}  // namespace wcx
