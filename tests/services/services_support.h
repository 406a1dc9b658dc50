// Shared helpers of the host-service tests: .lng files in every encoding and a scripted run of the
// services fixture plugin through the built module.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "wexlor_harness.h"

namespace svc {

// UTF-8 text (as written in the test source) re-encoded for a .lng file.
std::string utf8_bom(const std::string& AText);
std::string utf16(const std::string& AText, bool ABigEndian, bool AWithMark = true);
// The bytes of AText in the ANSI code page of this process.
std::string ansi(const std::wstring& AText);
// What the ANSI code page makes of some bytes, as UTF-8.
std::string ansi_reading(const std::string& ABytes);

// One services plugin in Plugins32\<folder>, accepting archives "WXSVC <folder>", with its own GUID
// and the given extra files (.lng).
wxt::PluginSpec services_plugin(const std::wstring& AFolder, int AGuidNumber,
                                std::map<std::wstring, std::string> AFiles);

// Runs a script in the plugin of AFolder during OpenW and returns the lines it logged.
std::vector<std::string> run_script(wxt::FileManager& AFm, const std::wstring& AFolder, const std::string& AScript);

// "msg N=<text>" -> text for number N; "<absent>" when not logged.
std::string msg(const std::vector<std::string>& ALog, int ANumber);
std::string line_with(const std::vector<std::string>& ALog, const std::string& APrefix);

}  // namespace svc
