// ProcessName(PN_CMPNAMELIST) with a three-mask list, as an archive plugin calls it per entry,
// next to PathMatchSpecW on the same names with the same list, measured in the same run.
//   bench_processname [seconds per figure, default 1]
#include <windows.h>
#include <shlwapi.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "services/qorFarStandardW.h"

using namespace qor;
using clock_type = std::chrono::steady_clock;

namespace {

double GSeconds = 1.0;
volatile size_t GSink = 0;

std::vector<std::wstring> make_names() {
  static const wchar_t* const kExtensions[] = {L"zip", L"7z",  L"tar", L"txt", L"TAR", L"doc",
                                               L"ZIP", L"bin", L"7zz", L"tar.gz"};
  std::vector<std::wstring> names;
  for (int i = 0; i < 1000; ++i)
    names.push_back(L"some folder\\entry number " + std::to_wstring(i) + L"." + kExtensions[i % 10]);
  return names;
}

// Calls per second of ACall over the names, for GSeconds.
template <class F>
double rate(const std::vector<std::wstring>& ANames, F ACall) {
  long long calls = 0;
  const auto start = clock_type::now();
  const auto stop = start + std::chrono::duration<double>(GSeconds);
  while (clock_type::now() < stop) {
    for (const auto& name : ANames) GSink += ACall(name);
    calls += static_cast<long long>(ANames.size());
  }
  return static_cast<double>(calls) / std::chrono::duration<double>(clock_type::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) GSeconds = std::atof(argv[1]);
  if (GSeconds <= 0) GSeconds = 1.0;
  const std::vector<std::wstring> names = make_names();
  const wchar_t* const list = L"*.zip,*.7z,*.tar";
  const wchar_t* const pattern = L"*.zip;*.7z;*.tar";
  const wchar_t* const sets = L"*.zip,*.[7r]ar,*.t[agx]z";

  // Both must agree on every name before anything is timed (PathMatchSpecW sees the whole path
  // too, so PN_SKIPPATH is not used).
  size_t agree = 0;
  for (const auto& name : names)
    agree += (FarStdProcessName(list, const_cast<wchar_t*>(name.c_str()), 0, PN_CMPNAMELIST) != 0) ==
             (PathMatchSpecW(name.c_str(), pattern) != FALSE);
  if (agree != names.size()) {
    std::printf("ProcessName and PathMatchSpecW disagree on %u of %u names\n",
                static_cast<unsigned>(names.size() - agree), static_cast<unsigned>(names.size()));
    return 1;
  }

  const double process_name = rate(names, [&](const std::wstring& n) {
    return FarStdProcessName(list, const_cast<wchar_t*>(n.c_str()), 0, PN_CMPNAMELIST);
  });
  const double path_match = rate(names, [&](const std::wstring& n) {
    return static_cast<size_t>(PathMatchSpecW(n.c_str(), pattern));
  });
  const double with_sets = rate(names, [&](const std::wstring& n) {
    return FarStdProcessName(sets, const_cast<wchar_t*>(n.c_str()), 0, PN_CMPNAMELIST | PN_SKIPPATH);
  });
  const double single = rate(names, [&](const std::wstring& n) {
    return FarStdProcessName(L"*.tar", const_cast<wchar_t*>(n.c_str()), 0, PN_CMPNAME);
  });
  std::printf("names: %u, list \"%ls\"\n", static_cast<unsigned>(names.size()), list);
  std::printf("ProcessName PN_CMPNAMELIST: %.0f calls/s\n", process_name);
  std::printf("PathMatchSpecW \"%ls\": %.0f calls/s\n", pattern, path_match);
  std::printf("ratio ProcessName / PathMatchSpecW: %.2f\n", process_name / path_match);
  std::printf("ProcessName PN_CMPNAMELIST|PN_SKIPPATH \"%ls\": %.0f calls/s\n", sets, with_sets);
  std::printf("ProcessName PN_CMPNAME \"*.tar\": %.0f calls/s\n", single);
  return 0;
}
