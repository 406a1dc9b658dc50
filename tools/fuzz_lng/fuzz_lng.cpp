// Mutation loop over .lng files: mutated copies of valid files in every encoding go through the
// line decoder and, every few rounds, through the file reader and the loader. It prints figures;
// a crash or hang would end the run early.
//   fuzz_lng [iterations, default 200000] [seed, default 1]
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "services/qorFarLang.h"

using namespace qor;

namespace {

const GUID kGuid{0x5758F1A0, 0xBBBB, 0xCCCC, {1, 2, 3, 4, 5, 6, 7, 8}};

std::string to_utf16(const std::wstring& AText, bool ABigEndian) {
  std::string bytes = ABigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (wchar_t c : AText) {
    const char lo = static_cast<char>(c & 0xFF), hi = static_cast<char>(c >> 8);
    bytes += ABigEndian ? hi : lo;
    bytes += ABigEndian ? lo : hi;
  }
  return bytes;
}

std::string to_utf8(const std::wstring& AText) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, AText.data(), (int)AText.size(), nullptr, 0, nullptr, nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, AText.data(), (int)AText.size(), out.data(), n, nullptr, nullptr);
  return out;
}

std::vector<std::string> seeds() {
  const std::wstring body =
      L".Language=English,English\r\n// comment\r\n\r\nMOne\r\n\"one\"\r\n  \"two \\\"quoted\\\"\"  \r\n"
      L"\"Grüße, Привет, 日本\"\n\"\r\n\"no close\r\"last\"";
  return {
      "\xEF\xBB\xBF" + to_utf8(body),
      to_utf8(body),
      to_utf16(body, false),
      to_utf16(body, true),
      ".Language=German,Deutsch\r\n\"a\"\r\n\"b\"\r\n",
      // First lines longer than the part the header reader takes first.
      ".Language=English" + std::string(70000, ' ') + ",x\r\n\"a\"\r\n",
      to_utf16(L".Language=Russian" + std::wstring(40000, L' ') + L"\n\"b\"", false),
  };
}

std::vector<std::wstring> messages_of(const std::vector<std::wstring>& ALines) {
  std::vector<std::wstring> out;
  std::wstring text;
  for (const auto& line : ALines)
    if (ParseLngMessage(line, text)) out.push_back(text);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const long iterations = argc > 1 ? std::atol(argv[1]) : 200000;
  const unsigned seed = argc > 2 ? static_cast<unsigned>(std::atol(argv[2])) : 1u;
  std::mt19937 random(seed);
  auto below = [&](size_t n) { return n ? static_cast<size_t>(random() % n) : 0; };
  const std::vector<std::string> bases = seeds();
  const char interesting[] = {'"', '\r', '\n', '\0', '\xFF', '\xFE', '\xEF', '\xBB', '\xBF', '\xC3', ',', '.', ' '};

  wchar_t folder[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH, folder);
  const std::wstring file = std::wstring(folder) + L"fuzz_lng_" + std::to_wstring(GetCurrentProcessId()) + L".lng";

  long file_runs = 0, mismatches = 0, truncations = 0, prefix_violations = 0, with_language = 0;
  size_t max_lines = 0, max_messages = 0, total_messages = 0, bytes = 0;
  const auto start = std::chrono::steady_clock::now();
  for (long it = 0; it < iterations; ++it) {
    const std::string& base = bases[below(bases.size())];
    std::string data = base;
    const int mutations = 1 + static_cast<int>(below(8));
    bool truncated_only = true;
    for (int m = 0; m < mutations; ++m) {
      const size_t at = below(data.size() + 1);
      switch (below(7)) {
        case 0:
          if (!data.empty()) data[below(data.size())] ^= static_cast<char>(1u << below(8)), truncated_only = false;
          break;
        case 1:
          data.insert(at, 1, interesting[below(sizeof(interesting))]), truncated_only = false;
          break;
        case 2:
          data.insert(at, 1 + below(16), static_cast<char>(random())), truncated_only = false;
          break;
        case 3:
          data.erase(at, below(32)), truncated_only = false;
          break;
        case 4:
          data.resize(at);
          break;
        case 5:
          if (at < data.size()) data.insert(at, data.substr(at, below(64))), truncated_only = false;
          break;
        default:
          if (data.size() >= 2) std::swap(data[0], data[1]), truncated_only = false;
          break;
      }
    }
    bytes += data.size();
    const auto lines = DecodeLngLines(data.data(), data.size());
    const auto texts = messages_of(lines);
    max_lines = std::max(max_lines, lines.size());
    max_messages = std::max(max_messages, texts.size());
    total_messages += texts.size();
    for (const auto& line : lines)
      if (line.find_first_of(L"\r\n") != std::wstring::npos) ++mismatches;

    // A cut file keeps every message that ended before the cut.
    if (truncated_only) {
      ++truncations;
      const auto whole = messages_of(DecodeLngLines(base.data(), base.size()));
      for (size_t i = 0; i + 1 < texts.size(); ++i)
        if (i >= whole.size() || texts[i] != whole[i]) {
          ++prefix_violations;
          break;
        }
    }

    if (it % 16 == 0) {
      ++file_runs;
      {
        std::ofstream out(file.c_str(), std::ios::binary | std::ios::trunc);
        out << data;
      }
      const std::wstring language = GetLngFileLanguage(file);
      if (!language.empty()) ++with_language;
      // The header reader must agree with the first decoded line.
      std::wstring expected;
      if (!lines.empty() && lines[0].compare(0, 10, L".Language=") == 0) {
        expected = lines[0].substr(10);
        expected = expected.substr(0, expected.find(L','));
        while (!expected.empty() && expected.back() <= L' ') expected.pop_back();
        size_t first = 0;
        while (first < expected.size() && expected[first] <= L' ') ++first;
        expected.erase(0, first);
      }
      if (language != expected) ++mismatches;
      TqorShellLanguage lang(nullptr, 0x0409);
      LoadLngFile(&lang, kGuid, file);
      // The loader must see exactly what the decoder sees.
      if (lang.Count() != static_cast<int>(texts.size())) ++mismatches;
      const std::wstring prefix = GuidToText(kGuid) + L",";
      for (size_t i = 0; i < texts.size(); ++i) {
        std::wstring value;
        if (!lang.GetValueEx(prefix + std::to_wstring(i), value) || value != texts[i]) {
          ++mismatches;
          break;
        }
      }
    }
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  DeleteFileW(file.c_str());
  std::printf("iterations %ld in %.1f s (%.0f/s), seed %u, %.1f MB mutated\n", iterations, seconds, iterations / seconds,
              seed, bytes / 1048576.0);
  std::printf("through the file reader and loader: %ld (%ld with a language)\n", file_runs, with_language);
  std::printf("messages: %zu total, at most %zu in one file; at most %zu lines\n", total_messages, max_messages,
              max_lines);
  std::printf("pure truncations %ld, prefix violations %ld; decoder/loader mismatches %ld\n", truncations,
              prefix_violations, mismatches);
  return prefix_violations || mismatches ? 1 : 0;
}
