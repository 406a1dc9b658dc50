// The FarStandardFunctions entries the host offers: number and string helpers, the formatted-text
// functions, sorting, file-name masks, paths, links, the clipboard and file facts. Each entry has
// exactly its slot's signature; every pointer from a plugin is read under the plugin guard, so a
// bad one ends the call with the entry's neutral value.
#pragma once

#include "api/qorFarPluginW.h"

namespace qor {

int WINAPI FarStdAtoi(const wchar_t* s);
std::int64_t WINAPI FarStdAtoi64(const wchar_t* s);
wchar_t* WINAPI FarStdItoa(int AValue, wchar_t* AStr, int ARadix);
wchar_t* WINAPI FarStdItoa64(std::int64_t AValue, wchar_t* AStr, int ARadix);
// The three formatted-text entries are cdecl with a variable argument list: the caller pops.
int __cdecl FarStdSprintf(wchar_t* ABuffer, const wchar_t* AFormat, ...);
int __cdecl FarStdSscanf(const wchar_t* ABuffer, const wchar_t* AFormat, ...);
int __cdecl FarStdSnprintf(wchar_t* ABuffer, size_t ASize, const wchar_t* AFormat, ...);
void WINAPI FarStdQsort(void* ABase, size_t ACount, size_t AWidth, TFarStdCompare ACompare, void* AUser);
void* WINAPI FarStdBsearch(const void* AKey, const void* ABase, size_t ACount, size_t AWidth,
                           TFarStdCompare ACompare, void* AUser);

int WINAPI FarStdIsLower(wchar_t AChar);
int WINAPI FarStdIsUpper(wchar_t AChar);
int WINAPI FarStdIsAlpha(wchar_t AChar);
int WINAPI FarStdIsAlphaNum(wchar_t AChar);
wchar_t WINAPI FarStdUpper(wchar_t AChar);
wchar_t WINAPI FarStdLower(wchar_t AChar);
void WINAPI FarStdUpperBuf(wchar_t* ABuffer, intptr_t ALength);
void WINAPI FarStdLowerBuf(wchar_t* ABuffer, intptr_t ALength);
void WINAPI FarStdStrUpr(wchar_t* AText);
void WINAPI FarStdStrLwr(wchar_t* AText);
int WINAPI FarStdStrICmp(const wchar_t* A, const wchar_t* B);
int WINAPI FarStdStrNICmp(const wchar_t* A, const wchar_t* B, intptr_t ACount);

void WINAPI FarStdUnquote(wchar_t* AText);
wchar_t* WINAPI FarStdLTrim(wchar_t* AText);
wchar_t* WINAPI FarStdRTrim(wchar_t* AText);
wchar_t* WINAPI FarStdTrim(wchar_t* AText);
wchar_t* WINAPI FarStdTruncStr(wchar_t* AText, intptr_t AMaxLength);
wchar_t* WINAPI FarStdTruncPathStr(wchar_t* AText, intptr_t AMaxLength);
wchar_t* WINAPI FarStdQuoteSpaceOnly(wchar_t* AText);
const wchar_t* WINAPI FarStdPointToName(const wchar_t* APath);
size_t WINAPI FarStdGetPathRoot(const wchar_t* APath, wchar_t* ARoot, size_t ASize);
BOOL WINAPI FarStdAddEndSlash(wchar_t* APath);

BOOL WINAPI FarStdCopyToClipboard(int AType, const wchar_t* AData);
size_t WINAPI FarStdPasteFromClipboard(int AType, wchar_t* AData, size_t ASize);
wchar_t* WINAPI FarStdXLat(wchar_t* ALine, intptr_t AStart, intptr_t AEnd, TFarFlags AFlags);

size_t WINAPI FarStdGetFileOwner(const wchar_t* AComputer, const wchar_t* AName, wchar_t* AOwner, size_t ASize);
size_t WINAPI FarStdGetNumberOfLinks(const wchar_t* AName);
void WINAPI FarStdRecursiveSearch(const wchar_t* AInitDir, const wchar_t* AMask, TFarRecursiveSearchFunc AFunc,
                                  TFarFlags AFlags, void* AParam);
size_t WINAPI FarStdMkTemp(wchar_t* ADest, size_t ASize, const wchar_t* APrefix);
size_t WINAPI FarStdProcessName(const wchar_t* AParam1, wchar_t* AParam2, size_t ASize, TFarFlags AFlags);
BOOL WINAPI FarStdMkLink(const wchar_t* ASource, const wchar_t* ADest, int AType, TFarFlags AFlags);
size_t WINAPI FarStdConvertPath(int AMode, const wchar_t* ASource, wchar_t* ADest, size_t ASize);
size_t WINAPI FarStdGetReparsePointInfo(const wchar_t* ASource, wchar_t* ADest, size_t ASize);
size_t WINAPI FarStdGetCurrentDirectory(size_t ASize, wchar_t* ABuffer);
size_t WINAPI FarStdFormatFileSize(std::uint64_t ASize, intptr_t AWidth, TFarFlags AFlags, wchar_t* ADest,
                                   size_t ADestSize);
std::uint64_t WINAPI FarStdClock();
int WINAPI FarStdCompareStrings(const wchar_t* A, size_t ASizeA, const wchar_t* B, size_t ASizeB);
uintptr_t WINAPI FarStdDetectCodePage(TDetectCodePageInfo* AInfo);

}  // namespace qor
