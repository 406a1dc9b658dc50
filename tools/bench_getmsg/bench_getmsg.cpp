// GetMsg after the first load, from one and from two threads, next to the same lookups in a plain
// std::unordered_map; and the first load of a 2,000-message file next to reading its bytes, in
// each encoding the loader takes (UTF-8, UTF-16 LE and BE with their marks, ANSI without one).
//   bench_getmsg [seconds per figure, default 1]
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <fstream>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "services/qorFarLang.h"

using namespace qor;
using clock_type = std::chrono::steady_clock;

namespace {

constexpr int kMessages = 2000;
const GUID kGuid{0x5758F1A0, 0x9999, 0xAAAA, {1, 2, 3, 4, 5, 6, 7, 8}};
double GSeconds = 1.0;

// In a folder of its own: the plugin's folder, where the catalogue looks for its .lng files.
std::wstring temp_file() {
  wchar_t folder[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH, folder);
  const std::wstring own = std::wstring(folder) + L"bench_getmsg_" + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(own.c_str(), nullptr);
  return own + L"\\messages.lng";
}

std::string make_lng() {
  std::string text = "\xEF\xBB\xBF.Language=English,English\r\n\r\n";
  for (int i = 0; i < kMessages; ++i) {
    text += "MMessage" + std::to_string(i) + "\r\n";
    text += "\"Message number " + std::to_string(i) + ": a typical text of a plugin dialog.\"\r\n";
  }
  return text;
}

double elapsed(clock_type::time_point AStart) {
  return std::chrono::duration<double>(clock_type::now() - AStart).count();
}

// Calls a callable made by AMake (one per thread) from AThreads threads for GSeconds; returns
// calls per second over all threads.
template <class F>
double rate(int AThreads, F AMake) {
  std::atomic<bool> stop{false};
  std::atomic<long long> total{0};
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < AThreads; ++t)
    threads.emplace_back([&, t] {
      auto call = AMake();
      ++ready;
      while (ready.load() < AThreads) std::this_thread::yield();
      long long calls = 0;
      unsigned i = static_cast<unsigned>(t) * 7919u;
      while (!stop.load(std::memory_order_relaxed)) {
        for (int k = 0; k < 256; ++k) call(static_cast<int>(i++ % kMessages));
        calls += 256;
      }
      total += calls;
    });
  while (ready.load() < AThreads) std::this_thread::yield();
  const auto start = clock_type::now();
  std::this_thread::sleep_for(std::chrono::duration<double>(GSeconds));
  stop = true;
  for (auto& thread : threads) thread.join();
  return static_cast<double>(total.load()) / elapsed(start);
}

std::string read_bytes(const std::wstring& AFile) {
  std::string bytes;
  HANDLE file = CreateFileW(AFile.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  LARGE_INTEGER size{};
  GetFileSizeEx(file, &size);
  bytes.resize(static_cast<size_t>(size.QuadPart));
  DWORD got = 0;
  ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
  CloseHandle(file);
  bytes.resize(got);
  return bytes;
}

// Per thread: a sink shared by the threads would make them wait for each other's writes.
thread_local volatile size_t GSink = 0;

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) GSeconds = std::atof(argv[1]);
  if (GSeconds <= 0) GSeconds = 1.0;
  const std::wstring file = temp_file();
  const std::string content = make_lng();
  {
    std::ofstream out(file.c_str(), std::ios::binary | std::ios::trunc);
    out << content;
  }
  std::printf("file: %d messages, %u bytes\n", kMessages, static_cast<unsigned>(content.size()));

  // --- first load ---------------------------------------------------------------------------
  // The same messages in each encoding; the texts are ASCII, so the ANSI file reads alike.
  const std::string body = content.substr(3);
  std::string le = "\xFF\xFE", be = "\xFE\xFF";
  for (unsigned char c : body) {
    le += static_cast<char>(c), le += '\0';
    be += '\0', be += static_cast<char>(c);
  }
  struct encoding {
    const char* Name;
    std::string Bytes;
  };
  const encoding encodings[] = {{"UTF-8", content}, {"UTF-16 LE", le}, {"UTF-16 BE", be}, {"ANSI", body}};
  TqorLngMessages expected;
  ReadLngMessages(file, expected);
  const std::wstring other = file.substr(0, file.size() - 4) + L"-encoded.lng";
  bool same = expected.Messages.size() == static_cast<size_t>(kMessages);
  for (const encoding& e : encodings) {
    {
      std::ofstream out(other.c_str(), std::ios::binary | std::ios::trunc);
      out << e.Bytes;
    }
    const int rounds = 50;
    auto start = clock_type::now();
    for (int r = 0; r < rounds; ++r) GSink += read_bytes(other).size();
    const double read_ms = elapsed(start) * 1000 / rounds;
    start = clock_type::now();
    TqorLngMessages messages;
    for (int r = 0; r < rounds; ++r) {
      // What the first request does: the header of the file to choose it, then the load.
      GSink += GetLngFileLanguage(other).size();
      messages = TqorLngMessages();
      ReadLngMessages(other, messages);
    }
    const double load_ms = elapsed(start) * 1000 / rounds;
    bool alike = messages.Messages.size() == expected.Messages.size();
    for (size_t i = 0; alike && i < messages.Messages.size(); ++i)
      alike = std::wcscmp(messages.Messages[i], expected.Messages[i]) == 0;
    same = same && alike;
    std::printf("first load, %-9s: %.3f ms (%zu messages%s); reading the %zu bytes: %.3f ms; ratio %.1f (target <= 10)\n",
                e.Name, load_ms, messages.Messages.size(), alike ? "" : ", NOT THE SAME TEXTS", e.Bytes.size(), read_ms,
                load_ms / read_ms);
  }
  DeleteFileW(other.c_str());
  if (!same) return 1;

  // --- GetMsg after the first load ----------------------------------------------------------
  // A plugin registered in the file's folder, as the registry registers one; its first request
  // loads the file.
  FarLangStartup();
  RegisterPluginFolder(kGuid, file.substr(0, file.find_last_of(L'\\') + 1) + L"bench_getmsg_plugin.dll");
  TqorLngMessages texts;
  ReadLngMessages(file, texts);
  std::unordered_map<std::wstring, std::wstring> map;
  for (int i = 0; i < kMessages; ++i) map[GuidToText(kGuid) + L"," + std::to_wstring(i)] = texts.Messages[i];
  std::vector<std::wstring> keys;
  for (int i = 0; i < kMessages; ++i) keys.push_back(GuidToText(kGuid) + L"," + std::to_wstring(i));

  if (std::wcscmp(FarApiGetMsg(&kGuid, 1999), map[keys[1999]].c_str()) != 0) {
    std::printf("GetMsg answers wrongly\n");
    return 1;
  }
  const std::wstring guid_text = GuidToText(kGuid);
  auto getmsg = [] { return [](int i) { GSink += FarApiGetMsg(&kGuid, i)[0]; }; };
  // The key text made per call as GetMsg makes it, in a buffer that keeps its capacity.
  auto map_with_key = [&] {
    return [&, key = std::wstring()](int i) mutable {
      wchar_t number[16];
      std::swprintf(number, 16, L",%d", i);
      key.assign(guid_text);
      key += number;
      GSink += map.find(key)->second.size();
    };
  };
  auto map_prebuilt = [&] { return [&](int i) { GSink += map.find(keys[i])->second.size(); }; };

  double one_thread = 0;
  for (int threads : {1, 2}) {
    const double g = rate(threads, getmsg);
    const double m = rate(threads, map_with_key);
    const double p = rate(threads, map_prebuilt);
    std::printf("%d thread(s): GetMsg %.0f calls/s; unordered_map %.0f/s with the same key building (ratio %.2f), "
                "%.0f/s with prebuilt keys (ratio %.2f)\n",
                threads, g, m, g / m, p, g / p);
    if (threads == 1) one_thread = g;
    else std::printf("GetMsg with 2 threads: %.2f times the rate of one (target >= 1.6)\n", g / one_thread);
  }
  UnregisterPluginFolder(file.substr(0, file.find_last_of(L'\\') + 1) + L"bench_getmsg_plugin.dll");
  FarLangShutdown();
  DeleteFileW(file.c_str());
  RemoveDirectoryW(file.substr(0, file.find_last_of(L'\\')).c_str());
  return 0;
}
