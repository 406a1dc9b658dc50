// The module's exported WCX packer surface: the entry points the file manager calls, and the plugin
// list that wcxhost reads.
#pragma once

#include <windows.h>

#include "api/qorWcxApi.h"

extern "C" {

int WINAPI GetPackerCaps();
int WINAPI GetBackgroundFlags();
void WINAPI PackSetDefaultParams(wcx::PackDefaultParamStruct* dps);
int WINAPI CanYouHandleThisFileW(const wchar_t* FileName);
int WINAPI CanYouHandleThisFile(const char* FileName);
HANDLE WINAPI OpenArchiveW(wcx::tOpenArchiveDataW* ArchiveData);
HANDLE WINAPI OpenArchive(wcx::tOpenArchiveData* ArchiveData);
int WINAPI ReadHeaderExW(HANDLE hArcData, wcx::tHeaderDataExW* HeaderData);
int WINAPI ReadHeaderEx(HANDLE hArcData, wcx::tHeaderDataEx* HeaderData);
int WINAPI ReadHeader(HANDLE hArcData, wcx::tHeaderData* HeaderData);
int WINAPI ProcessFileW(HANDLE hArcData, int Operation, const wchar_t* DestPath, const wchar_t* DestName);
int WINAPI ProcessFile(HANDLE hArcData, int Operation, const char* DestPath, const char* DestName);
int WINAPI CloseArchive(HANDLE hArcData);
void WINAPI SetChangeVolProc(HANDLE hArcData, wcx::tChangeVolProc pChangeVolProc);
void WINAPI SetChangeVolProcW(HANDLE hArcData, wcx::tChangeVolProcW pChangeVolProc);
void WINAPI SetProcessDataProc(HANDLE hArcData, wcx::tProcessDataProc pProcessDataProc);
void WINAPI SetProcessDataProcW(HANDLE hArcData, wcx::tProcessDataProcW pProcessDataProc);
void WINAPI ConfigurePacker(HWND Parent, HINSTANCE DllInstance);
int WINAPI ListHostedPluginsW(wchar_t* Buffer, int BufferSize);

}  // extern "C"
