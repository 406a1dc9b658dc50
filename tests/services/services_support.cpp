#include "services_support.h"

#include <cstdio>

namespace svc {

std::string utf8_bom(const std::string& AText) { return "\xEF\xBB\xBF" + AText; }

std::string utf16(const std::string& AText, bool ABigEndian, bool AWithMark) {
  const std::wstring wide = wxt::widen(AText);
  std::string bytes;
  if (AWithMark) bytes = ABigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (wchar_t c : wide) {
    const char lo = static_cast<char>(c & 0xFF), hi = static_cast<char>((c >> 8) & 0xFF);
    bytes += ABigEndian ? hi : lo;
    bytes += ABigEndian ? lo : hi;
  }
  return bytes;
}

std::string ansi(const std::wstring& AText) {
  const int n = WideCharToMultiByte(CP_ACP, 0, AText.data(), (int)AText.size(), nullptr, 0, nullptr, nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(CP_ACP, 0, AText.data(), (int)AText.size(), out.data(), n, nullptr, nullptr);
  return out;
}

std::string ansi_reading(const std::string& ABytes) {
  const int n = MultiByteToWideChar(CP_ACP, 0, ABytes.data(), (int)ABytes.size(), nullptr, 0);
  std::wstring out(n, L'\0');
  MultiByteToWideChar(CP_ACP, 0, ABytes.data(), (int)ABytes.size(), out.data(), n);
  return wxt::narrow(out);
}

wxt::PluginSpec services_plugin(const std::wstring& AFolder, int AGuidNumber,
                                std::map<std::wstring, std::string> AFiles) {
  char guid[64];
  std::snprintf(guid, sizeof(guid), "{5758F1A0-7777-8888-0102-0304050607%02X}", AGuidNumber & 0xFF);
  AFiles[L"services.cfg"] = std::string("guid=") + guid + "\nname=" + wxt::narrow(AFolder) + "\n";
  return wxt::PluginSpec{AFolder, L"services_plugin.dll", L"", AFiles};
}

std::vector<std::string> run_script(wxt::FileManager& AFm, const std::wstring& AFolder, const std::string& AScript) {
  AFm.ClearLog(AFolder, L"services_plugin.dll");
  static int counter = 0;
  const std::wstring archive =
      AFm.WriteArchive(L"script" + std::to_wstring(++counter) + L".svc", "WXSVC " + wxt::narrow(AFolder) + "\n" + AScript);
  int open_result = -1;
  wxt::ListArchive(AFm, archive, &open_result);
  std::vector<std::string> log = AFm.Log(AFolder, L"services_plugin.dll");
  if (open_result != 0) log.push_back("open failed " + std::to_string(open_result));
  return log;
}

std::string line_with(const std::vector<std::string>& ALog, const std::string& APrefix) {
  for (const auto& line : ALog)
    if (line.compare(0, APrefix.size(), APrefix) == 0) return line.substr(APrefix.size());
  return "<absent>";
}

std::string msg(const std::vector<std::string>& ALog, int ANumber) {
  return line_with(ALog, "msg " + std::to_string(ANumber) + "=");
}

}  // namespace svc
