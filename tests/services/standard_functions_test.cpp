// The standard functions the module hands to plugins, called through the very table a fixture
// plugin received in SetStartupInfoW. Every call also checks that the stack pointer comes back
// where it was: a stdcall entry must pop exactly its argument bytes, a cdecl one none; on x86-64
// the callee-saved registers must come back too.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "../fixtures/fixture_abi.h"
#include "api/qorFarPluginW.h"
#include "wexlor_harness.h"

using namespace wxt;

namespace {

#define CALL(expr)                                                  \
  [&] {                                                             \
    bool same_ = false;                                             \
    auto result_ = fixture::abi_checked([&] { return (expr); }, same_); \
    EXPECT_TRUE(same_) << "stack moved: " #expr;                    \
    return result_;                                                 \
  }()

class StdFunctions : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    GFm = new FileManager({{L"Std", L"stdfuncs_plugin.dll"}});
    const std::wstring probe = GFm->WriteArchive(L"probe.std", "WXSTD\n0\n");
    GFm->CanYouHandleThisFileW(probe.c_str());
    HMODULE plugin = GetModuleHandleW(GFm->PluginFile(L"Std", L"stdfuncs_plugin.dll").c_str());
    ASSERT_NE(plugin, nullptr);
    auto get = reinterpret_cast<const PluginStartupInfo*(WINAPI*)()>(
        reinterpret_cast<void*>(GetProcAddress(plugin, "StdFixtureStartupInfo")));
    ASSERT_NE(get, nullptr);
    GInfo = get();
    ASSERT_NE(GInfo->FSF, nullptr);
    F = GInfo->FSF;
  }
  static void TearDownTestSuite() {
    delete GFm;
    GFm = nullptr;
  }
  static FileManager* GFm;
  static const PluginStartupInfo* GInfo;
  static const FarStandardFunctions* F;
};

FileManager* StdFunctions::GFm = nullptr;
const PluginStartupInfo* StdFunctions::GInfo = nullptr;
const FarStandardFunctions* StdFunctions::F = nullptr;

std::wstring temp_folder(const wchar_t* AName) {
  wchar_t base[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH, base);
  std::wstring folder = std::wstring(base) + AName + std::to_wstring(GetCurrentProcessId()) + L"\\";
  remove_tree(folder);
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

}  // namespace

// --- through a plugin's own flow -----------------------------------------------------------------

TEST(StdFunctionsPlugin, MaskFilterNamesAndOrderFromTheHost) {
  FileManager fm({{L"Std", L"stdfuncs_plugin.dll"}});
  BoxWatcher boxes;
  const std::string content = "WXSTD\n3\n";
  // Include list "*.std,*.s[0-9][0-9]" against the name without its folder.
  EXPECT_NE(fm.CanYouHandleThisFileW(fm.WriteArchive(L"a.std", content).c_str()), 0);
  EXPECT_NE(fm.CanYouHandleThisFileW(fm.WriteArchive(L"b.S07", content).c_str()), 0);
  EXPECT_EQ(fm.CanYouHandleThisFileW(fm.WriteArchive(L"c.txt", content).c_str()), 0);
  EXPECT_EQ(fm.CanYouHandleThisFileW(fm.WriteArchive(L"d.s7", content).c_str()), 0);
  // Names made with sprintf (%s wide, %03d, %S narrow), ordered last first by qsort.
  const auto entries = ListArchive(fm, fm.WriteArchive(L"list.std", content));
  std::vector<std::wstring> names;
  for (const auto& e : entries) names.push_back(e.name);
  EXPECT_EQ(names, (std::vector<std::wstring>{L"entry002.txt", L"entry001.txt", L"entry000.txt"}));
  EXPECT_TRUE(boxes.Texts().empty());
}

TEST(StdFunctionsPlugin, ExclusionsInThePluginsOwnList) {
  FileManager fm({{L"Std", L"stdfuncs_plugin.dll", L"", {{L"stdfuncs.cfg", "masks=*|*.skip.std,<temp>\n"}}}});
  const std::string content = "WXSTD\n1\n";
  EXPECT_NE(fm.CanYouHandleThisFileW(fm.WriteArchive(L"a.std", content).c_str()), 0);
  EXPECT_EQ(fm.CanYouHandleThisFileW(fm.WriteArchive(L"a.skip.std", content).c_str()), 0);
  EXPECT_EQ(fm.CanYouHandleThisFileW(fm.WriteArchive(L"a.tmp", content).c_str()), 0);
}

// --- numbers ----------------------------------------------------------------------------------------

TEST_F(StdFunctions, Atoi) {
  const struct {
    const wchar_t* text;
    int value;
    long long value64;
  } cases[] = {
      {L"42", 42, 42},
      {L"  \t-17xyz", -17, -17},
      {L"+5", 5, 5},
      {L"abc", 0, 0},
      {L"0x1A", 0, 0},  // decimal only
      {L"99999999999", INT_MAX, 99999999999LL},
      {L"-99999999999", INT_MIN, -99999999999LL},
      {L"99999999999999999999", INT_MAX, LLONG_MAX},
      {L"-99999999999999999999", INT_MIN, LLONG_MIN},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CALL(F->atoi(c.text)), c.value) << narrow(c.text);
    EXPECT_EQ(CALL(F->atoi64(c.text)), c.value64) << narrow(c.text);
  }
  EXPECT_EQ(CALL(F->atoi(nullptr)), 0);
  EXPECT_EQ(CALL(F->atoi64(nullptr)), 0);
}

TEST_F(StdFunctions, Itoa) {
  const struct {
    long long value;
    int radix;
    const wchar_t* text32;  // itoa of the low 32 bits
    const wchar_t* text64;
  } cases[] = {
      {-1, 16, L"ffffffff", L"ffffffffffffffff"},
      {-42, 10, L"-42", L"-42"},
      {255, 2, L"11111111", L"11111111"},
      {35, 36, L"z", L"z"},
      {-9000000000LL, 10, L"-410065408", L"-9000000000"},
      {INT_MIN, 10, L"-2147483648", L"-2147483648"},
      {7, 1, L"", L""},  // radix out of range: empty text
  };
  for (const auto& c : cases) {
    wchar_t buffer[80];
    EXPECT_EQ(CALL(F->itoa(static_cast<int>(c.value), buffer, c.radix)), buffer);
    EXPECT_STREQ(buffer, c.text32) << c.value << " radix " << c.radix;
    EXPECT_EQ(CALL(F->itoa64(c.value, buffer, c.radix)), buffer);
    EXPECT_STREQ(buffer, c.text64) << c.value << " radix " << c.radix;
  }
  EXPECT_EQ(CALL(F->itoa(5, nullptr, 10)), nullptr);
}

// --- formatted text (cdecl, variadic) --------------------------------------------------------------

TEST_F(StdFunctions, SprintfHasTheMicrosoftRules) {
  wchar_t buffer[128];
  // %s is a wide string, %S a narrow one, %I64d a 64-bit number; mixed widths on the stack.
  EXPECT_EQ(CALL(F->sprintf(buffer, L"%s|%S|%I64d|%d|%c|%5.2f|%x", L"wide", "narrow", 1LL << 40, -3, L'z',
                            3.14159, 255u)),
            39);
  EXPECT_STREQ(buffer, L"wide|narrow|1099511627776|-3|z| 3.14|ff");
  EXPECT_EQ(CALL(F->sprintf(buffer, L"%I64u-%hs", 18446744073709551615ULL, "h")), 22);
  EXPECT_STREQ(buffer, L"18446744073709551615-h");
  EXPECT_EQ(CALL(F->sprintf(nullptr, L"%d", 1)), -1);
  // Past 32000 characters: -1.
  std::vector<wchar_t> big(40000, L'#');
  EXPECT_EQ(CALL(F->sprintf(big.data(), L"%33000d", 1)), -1);
}

TEST_F(StdFunctions, SnprintfCutsAsTheMicrosoftCrtDoes) {
  const struct {
    int value;
    int result;
    const wchar_t* text;  // the 4 characters written, '#' = untouched
    bool nul;
  } cases[] = {
      {12, 2, L"12", true},          // shorter: terminated
      {1234, 4, L"1234", false},     // exactly the size: no NUL
      {123456, -1, L"1234", false},  // longer: cut, no NUL, -1
  };
  for (const auto& c : cases) {
    wchar_t buffer[8];
    std::fill(std::begin(buffer), std::end(buffer), L'#');
    EXPECT_EQ(CALL(F->snprintf(buffer, 4, L"%d", c.value)), c.result) << c.value;
    EXPECT_EQ(std::wstring(buffer, std::wcslen(c.text)), c.text);
    EXPECT_EQ(buffer[std::wcslen(c.text)], c.nul ? L'\0' : L'#') << c.value;
    EXPECT_EQ(buffer[5], L'#');
  }
}

TEST_F(StdFunctions, Sscanf) {
  int number = 0;
  wchar_t word[16] = {};
  double real = 0;
  long long big = 0;
  wchar_t letter = 0;
  EXPECT_EQ(CALL(F->sscanf(L"12 abc 3.5 1099511627776 q", L"%d %15s %lf %I64d %c", &number, word, &real, &big,
                           &letter)),
            5);
  EXPECT_EQ(number, 12);
  EXPECT_STREQ(word, L"abc");
  EXPECT_EQ(real, 3.5);
  EXPECT_EQ(big, 1LL << 40);
  EXPECT_EQ(letter, L'q');
  int skipped = 0;
  EXPECT_EQ(CALL(F->sscanf(L"7 8", L"%*d %d", &skipped)), 1);
  EXPECT_EQ(skipped, 8);
  EXPECT_EQ(CALL(F->sscanf(L"x", L"%d", &number)), 0);
  EXPECT_EQ(CALL(F->sscanf(L"", L"%d", &number)), -1);
  EXPECT_EQ(CALL(F->sscanf(nullptr, L"%d", &number)), -1);
}

// --- sorting ----------------------------------------------------------------------------------------

namespace {
int GCompares = 0;
int WINAPI compare_ints(const void* A, const void* B, void* AUser) {
  ++GCompares;
  const int a = *static_cast<const int*>(A), b = *static_cast<const int*>(B);
  return *static_cast<int*>(AUser) * (a < b ? -1 : a > b ? 1 : 0);
}
int WINAPI compare_then_fault(const void* A, const void* B, void* AUser) {
  if (++GCompares == 5) *static_cast<volatile int*>(nullptr) = 1;
  return compare_ints(A, B, AUser);
}
struct Nested {
  const FarStandardFunctions* F;
  int inner[3];
};
int WINAPI compare_nested(const void* A, const void* B, void* AUser) {
  auto* n = static_cast<Nested*>(AUser);
  int up = 1;
  n->F->qsort(n->inner, 3, sizeof(int), compare_ints, &up);  // a sort inside the comparator
  const int a = *static_cast<const int*>(A), b = *static_cast<const int*>(B);
  return a < b ? -1 : a > b ? 1 : 0;
}
}  // namespace

TEST_F(StdFunctions, QsortAndBsearchWithStdcallComparator) {
  std::vector<int> values = {5, -2, 9, 0, 9, 3, 100, -50, 7, 1};
  int down = -1, up = 1;
  CALL((F->qsort(values.data(), values.size(), sizeof(int), compare_ints, &down), 0));
  EXPECT_EQ(values, (std::vector<int>{100, 9, 9, 7, 5, 3, 1, 0, -2, -50}));
  CALL((F->qsort(values.data(), values.size(), sizeof(int), compare_ints, &up), 0));
  EXPECT_EQ(values, (std::vector<int>{-50, -2, 0, 1, 3, 5, 7, 9, 9, 100}));
  for (int key : {-50, 3, 100}) {
    void* found = CALL(F->bsearch(&key, values.data(), values.size(), sizeof(int), compare_ints, &up));
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(*static_cast<int*>(found), key);
  }
  const int missing = 4;
  EXPECT_EQ(CALL(F->bsearch(&missing, values.data(), values.size(), sizeof(int), compare_ints, &up)), nullptr);

  Nested nested{F, {3, 1, 2}};
  std::vector<int> outer = {4, 2, 8, 6};
  CALL((F->qsort(outer.data(), outer.size(), sizeof(int), compare_nested, &nested), 0));
  EXPECT_EQ(outer, (std::vector<int>{2, 4, 6, 8}));
  EXPECT_EQ(std::vector<int>(nested.inner, nested.inner + 3), (std::vector<int>{1, 2, 3}));
}

TEST_F(StdFunctions, AFaultInTheComparatorEndsOnlyTheSort) {
  std::vector<int> values = {5, -2, 9, 0, 9, 3, 100, -50, 7, 1};
  std::vector<int> sorted = values;
  std::sort(sorted.begin(), sorted.end());
  int up = 1;
  GCompares = 0;
  CALL((F->qsort(values.data(), values.size(), sizeof(int), compare_then_fault, &up), 0));
  EXPECT_EQ(GCompares, 5);
  std::vector<int> kept = values;
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(kept, sorted);  // every element still there
  GCompares = 0;
  EXPECT_EQ(CALL(F->bsearch(&up, values.data(), values.size(), sizeof(int), compare_then_fault, &up)), nullptr);
  // and the table still answers
  EXPECT_EQ(CALL(F->atoi(L"7")), 7);
}

// --- characters -------------------------------------------------------------------------------------

TEST_F(StdFunctions, LocaleCharacters) {
  EXPECT_EQ(CALL(F->LIsLower(L'a')), 1);
  EXPECT_EQ(CALL(F->LIsLower(L'A')), 0);
  EXPECT_EQ(CALL(F->LIsUpper(L'\u0416')), 1);  // Ж
  EXPECT_EQ(CALL(F->LIsAlpha(L'1')), 0);
  EXPECT_EQ(CALL(F->LIsAlpha(L'\u00E9')), 1);
  EXPECT_EQ(CALL(F->LIsAlphanum(L'1')), 1);
  EXPECT_EQ(CALL(F->LIsAlphanum(L'-')), 0);
  EXPECT_EQ(CALL(F->LUpper(L'\u00E4')), L'\u00C4');
  EXPECT_EQ(CALL(F->LLower(L'\u0416')), L'\u0436');
  // Exactly Length characters, NULs included.
  wchar_t buffer[] = {L'a', L'b', 0, L'c', L'd', L'e', 0};
  CALL((F->LUpperBuf(buffer, 5), 0));
  EXPECT_EQ(std::wstring(buffer, 6), std::wstring(L"AB\0CDe", 6));
  CALL((F->LLowerBuf(buffer, 2), 0));
  EXPECT_EQ(std::wstring(buffer, 6), std::wstring(L"ab\0CDe", 6));
  wchar_t text[] = L"Stra\u00DFe \u00E9t\u00E9";
  CALL((F->LStrupr(text), 0));
  EXPECT_STREQ(text, L"STRA\u00DFE \u00C9T\u00C9");
  CALL((F->LStrlwr(text), 0));
  EXPECT_STREQ(text, L"stra\u00DFe \u00E9t\u00E9");
}

TEST_F(StdFunctions, OrdinalComparisonsAnswerMinusOneZeroOne) {
  const struct {
    const wchar_t* a;
    const wchar_t* b;
    intptr_t n;
    int whole, counted;
  } cases[] = {
      {L"abc", L"ABC", 2, 0, 0},
      {L"a", L"zzzz", 1, -1, -1},
      {L"b", L"A", 1, 1, 1},
      {L"abcdef", L"ABCxyz", 3, -1, 0},
      {L"abc", L"abcd", 3, -1, 0},
      {L"abc", L"abcd", -1, -1, -1},   // negative count: whole strings
      {L"abc", L"abd", 100, -1, -1},   // count beyond the length: whole strings
      {L"\u00E9", L"\u00C9", 1, 0, 0}, // upper case beyond ASCII
      {L"_", L"a", 1, 1, 1},           // ordinal on upper case: 'A' (0x41) sorts before '_' (0x5F)
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CALL(F->LStricmp(c.a, c.b)), c.whole) << narrow(c.a) << " " << narrow(c.b);
    EXPECT_EQ(CALL(F->LStrnicmp(c.a, c.b, c.n)), c.counted) << narrow(c.a) << " " << narrow(c.b) << " " << c.n;
  }
}

// --- strings in place -------------------------------------------------------------------------------

TEST_F(StdFunctions, InPlaceStringTable) {
  using fn = std::function<const wchar_t*(wchar_t*)>;
  const struct {
    const char* name;
    fn call;
    const wchar_t* in;
    const wchar_t* out;
  } cases[] = {
      {"Unquote", [&](wchar_t* s) { return F->Unquote(s), s; }, L"\"a\" b \"c\"\"", L"a b c"},
      {"LTrim", [&](wchar_t* s) { return F->LTrim(s); }, L" \t a b \t", L"a b \t"},
      {"RTrim", [&](wchar_t* s) { return F->RTrim(s); }, L" \t a b \t", L" \t a b"},
      {"Trim", [&](wchar_t* s) { return F->Trim(s); }, L" \t a b \t", L"a b"},
      {"Trim", [&](wchar_t* s) { return F->Trim(s); }, L"   ", L""},
      {"TruncStr 5", [&](wchar_t* s) { return F->TruncStr(s, 5); }, L"abcdefgh", L"\u2026efgh"},
      {"TruncStr 8", [&](wchar_t* s) { return F->TruncStr(s, 8); }, L"abcdefgh", L"abcdefgh"},
      {"TruncStr 1", [&](wchar_t* s) { return F->TruncStr(s, 1); }, L"abcdefgh", L"\u2026"},
      {"TruncStr 0", [&](wchar_t* s) { return F->TruncStr(s, 0); }, L"abcdefgh", L""},
      {"TruncStr -3", [&](wchar_t* s) { return F->TruncStr(s, -3); }, L"abcdefgh", L""},
      {"TruncPathStr 15", [&](wchar_t* s) { return F->TruncPathStr(s, 15); }, L"C:\\Program Files\\Far\\far.exe",
       L"C:\\\u2026Far\\far.exe"},
      {"TruncPathStr UNC", [&](wchar_t* s) { return F->TruncPathStr(s, 20); }, L"\\\\server\\share\\folder\\file.txt",
       L"\\\\server\\share\\\u2026.txt"},
      {"TruncPathStr no root", [&](wchar_t* s) { return F->TruncPathStr(s, 6); }, L"folder\\file.txt",
       L"\u2026e.txt"},
      {"TruncPathStr short room", [&](wchar_t* s) { return F->TruncPathStr(s, 3); }, L"C:\\folder\\file.txt",
       L"\u2026xt"},
      {"QuoteSpaceOnly", [&](wchar_t* s) { return F->QuoteSpaceOnly(s); }, L"a b", L"\"a b\""},
      {"QuoteSpaceOnly none", [&](wchar_t* s) { return F->QuoteSpaceOnly(s); }, L"ab", L"ab"},
      {"QuoteSpaceOnly quoted", [&](wchar_t* s) { return F->QuoteSpaceOnly(s); }, L"\"a b\"", L"\"a b\""},
      {"QuoteSpaceOnly half", [&](wchar_t* s) { return F->QuoteSpaceOnly(s); }, L"\"a b", L"\"a b\""},
      {"AddEndSlash", [&](wchar_t* s) { return F->AddEndSlash(s), s; }, L"C:\\dir", L"C:\\dir\\"},
      {"AddEndSlash /", [&](wchar_t* s) { return F->AddEndSlash(s), s; }, L"a/b", L"a/b/"},
      {"AddEndSlash last", [&](wchar_t* s) { return F->AddEndSlash(s), s; }, L"a\\b/c", L"a\\b/c/"},
      {"AddEndSlash has", [&](wchar_t* s) { return F->AddEndSlash(s), s; }, L"C:\\dir/", L"C:\\dir/"},
      {"AddEndSlash empty", [&](wchar_t* s) { return F->AddEndSlash(s), s; }, L"", L"\\"},
      {"AddEndSlash extended", [&](wchar_t* s) { return F->AddEndSlash(s), s; }, L"\\\\?\\C:/x", L"\\\\?\\C:/x\\"},
      {"XLat", [&](wchar_t* s) { return F->XLat(s, 0, 3, XLAT_SWITCHKEYBLAYOUT); }, L"abc", L"abc"},
  };
  for (const auto& c : cases) {
    wchar_t buffer[64] = {};
    std::wcscpy(buffer, c.in);
    bool same = false;
    const wchar_t* result = fixture::abi_checked([&] { return c.call(buffer); }, same);
    EXPECT_TRUE(same) << "stack moved: " << c.name;
    EXPECT_STREQ(buffer, c.out) << c.name;
    EXPECT_EQ(result, buffer) << c.name;
  }
  // Null pointers: nothing happens, FALSE or null where there is a result.
  CALL((F->Unquote(nullptr), 0));
  EXPECT_EQ(CALL(F->Trim(nullptr)), nullptr);
  EXPECT_EQ(CALL(F->TruncPathStr(nullptr, 3)), nullptr);
  EXPECT_EQ(CALL(F->AddEndSlash(nullptr)), FALSE);
  EXPECT_EQ(CALL(F->PointToName(nullptr)), nullptr);
}

TEST_F(StdFunctions, PointToName) {
  const struct {
    const wchar_t* path;
    size_t offset;
  } cases[] = {
      {L"C:\\dir\\file.txt", 7}, {L"dir/file", 4}, {L"C:", 0},          {L"file", 0},
      {L"C:\\dir\\", 7},         {L"\\\\?\\C:\\a/b", 7}, {L"a\\b/c", 4},
  };
  for (const auto& c : cases) EXPECT_EQ(CALL(F->PointToName(c.path)), c.path + c.offset) << narrow(c.path);
}

TEST_F(StdFunctions, GetPathRootAndTheBufferRule) {
  const struct {
    const wchar_t* path;
    const wchar_t* root;
  } cases[] = {
      {L"C:\\Windows\\System32", L"C:\\"},
      {L"\\\\server\\share\\dir\\x", L"\\\\server\\share\\"},
      {L"\\\\?\\UNC\\server\\share\\dir", L"\\\\?\\UNC\\server\\share\\"},
      {L"\\\\?\\C:\\dir", L"\\\\?\\C:\\"},
  };
  for (const auto& c : cases) {
    wchar_t root[64];
    EXPECT_EQ(CALL(F->GetPathRoot(c.path, root, 64)), std::wcslen(c.root) + 1) << narrow(c.path);
    EXPECT_STREQ(root, c.root);
  }
  wchar_t small[3] = {L'#', L'#', L'#'};
  EXPECT_EQ(CALL(F->GetPathRoot(L"C:\\x", small, 2)), 4u);  // cut to size-1, terminated
  EXPECT_EQ(std::wstring(small, 3), std::wstring(L"C\0#", 3));
  EXPECT_EQ(CALL(F->GetPathRoot(L"C:\\x", nullptr, 0)), 4u);
  // A relative path takes the current folder's root.
  wchar_t current[MAX_PATH], root[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, current);
  F->GetPathRoot(L"relative", root, MAX_PATH);
  EXPECT_EQ(std::wstring(current).substr(0, 3), root);
}

// --- paths and files ---------------------------------------------------------------------------------

TEST_F(StdFunctions, CurrentDirectoryAndConvertPath) {
  wchar_t current[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, current);
  wchar_t buffer[MAX_PATH];
  EXPECT_EQ(CALL(F->GetCurrentDirectory(MAX_PATH, buffer)), std::wcslen(current) + 1);
  EXPECT_STREQ(buffer, current);
  EXPECT_EQ(CALL(F->GetCurrentDirectory(0, nullptr)), std::wcslen(current) + 1);

  std::wstring base = current;
  if (base.back() != L'\\') base += L'\\';
  const struct {
    int mode;
    const wchar_t* in;
    std::wstring out;
  } cases[] = {
      {CPM_FULL, L"a\\..\\b.txt", base + L"b.txt"},
      {CPM_FULL, L"C:\\x\\.\\y/../z", L"C:\\x\\z"},
      {CPM_NATIVE, L"C:\\x/y", L"\\\\?\\C:\\x\\y"},
      {CPM_NATIVE, L"\\\\server\\share\\x", L"\\\\?\\UNC\\server\\share\\x"},
      {CPM_NATIVE, L"\\\\?\\C:\\x", L"\\\\?\\C:\\x"},
      {7, L"C:\\x\\..\\y", L"C:\\y"},  // other modes act like CPM_FULL
  };
  for (const auto& c : cases) {
    wchar_t out[MAX_PATH];
    EXPECT_EQ(CALL(F->ConvertPath(c.mode, c.in, out, MAX_PATH)), c.out.size() + 1) << narrow(c.in);
    EXPECT_EQ(std::wstring(out), c.out);
  }
  // Source and destination in one buffer.
  wchar_t same[MAX_PATH] = L"C:\\a\\..\\b";
  EXPECT_EQ(CALL(F->ConvertPath(CPM_FULL, same, same, MAX_PATH)), 5u);
  EXPECT_STREQ(same, L"C:\\b");
  // CPM_REAL: an existing folder plus a tail that does not exist.
  const std::wstring folder = temp_folder(L"wexlor_real");
  wchar_t real[MAX_PATH];
  F->ConvertPath(CPM_REAL, (folder + L"missing\\x.txt").c_str(), real, MAX_PATH);
  wchar_t expected[MAX_PATH];
  GetLongPathNameW(folder.c_str(), expected, MAX_PATH);
  EXPECT_EQ(std::wstring(real), std::wstring(expected) + L"missing\\x.txt");
  remove_tree(folder);
}

TEST_F(StdFunctions, MkTempMakesANameOnly) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  wchar_t first[MAX_PATH], second[MAX_PATH];
  const size_t n = CALL(F->MkTemp(first, MAX_PATH, L"WXLONG"));
  EXPECT_EQ(n, std::wcslen(first) + 1);
  F->MkTemp(second, MAX_PATH, L"WXLONG");
  const std::wstring a = first, b = second;
  EXPECT_NE(a, b);
  EXPECT_EQ(a.substr(0, std::wcslen(temp)), temp);
  // PREFhhhh.tmp: the prefix cut to 3 characters, the number in hex as GetTempFileNameW writes it.
  const std::wstring number = a.substr(std::wcslen(temp) + 3, a.size() - std::wcslen(temp) - 3 - 4);
  EXPECT_EQ(a.substr(std::wcslen(temp), 3), L"WXL");
  EXPECT_TRUE(!number.empty() && number.size() <= 4 && number.find_first_not_of(L"0123456789abcdefABCDEF") ==
                                                           std::wstring::npos)
      << narrow(a);
  EXPECT_EQ(lstrcmpiW(a.substr(a.size() - 4).c_str(), L".tmp"), 0);
  EXPECT_EQ(GetFileAttributesW(first), INVALID_FILE_ATTRIBUTES);  // not created
  F->MkTemp(first, MAX_PATH, nullptr);
  EXPECT_EQ(std::wstring(first).substr(std::wcslen(temp), 3), L"FAR");
  const size_t size = CALL(F->MkTemp(nullptr, 0, L"X"));  // the size only
  EXPECT_GE(size, std::wcslen(temp) + 7);
  EXPECT_LE(size, std::wcslen(temp) + 10);
}

TEST_F(StdFunctions, LinksOwnerAndCodePage) {
  const std::wstring folder = temp_folder(L"wexlor_links");
  const std::wstring file = folder + L"file.txt";
  write_file(file, "plain");
  EXPECT_EQ(CALL(F->GetNumberOfLinks(file.c_str())), 1u);
  EXPECT_EQ(CALL(F->MkLink(file.c_str(), (folder + L"hard.txt").c_str(), LINK_HARDLINK, 0)), TRUE);
  EXPECT_EQ(CALL(F->GetNumberOfLinks(file.c_str())), 2u);
  EXPECT_EQ(read_file(folder + L"hard.txt"), "plain");
  EXPECT_EQ(CALL(F->GetNumberOfLinks((folder + L"missing").c_str())), 1u);  // 1, not 0, on failure
  EXPECT_EQ(CALL(F->MkLink(nullptr, file.c_str(), LINK_HARDLINK, 0)), FALSE);
  EXPECT_EQ(CALL(F->MkLink(L"", file.c_str(), LINK_HARDLINK, 0)), FALSE);
  EXPECT_EQ(CALL(F->MkLink(file.c_str(), (folder + L"x").c_str(), 99, 0)), FALSE);
  wchar_t target[MAX_PATH];
  EXPECT_EQ(CALL(F->GetReparsePointInfo(file.c_str(), target, MAX_PATH)), 0u);  // not a reparse point

  wchar_t owner[256] = {};
  const size_t owner_size = CALL(F->GetFileOwner(nullptr, file.c_str(), owner, 256));
  EXPECT_GT(owner_size, 1u);
  EXPECT_EQ(owner_size, std::wcslen(owner) + 1);
  EXPECT_EQ(CALL(F->GetFileOwner(nullptr, (folder + L"missing").c_str(), owner, 256)), 0u);

  const struct {
    const char* bytes;
    size_t size;
    uintptr_t page;
  } pages[] = {
      {"\xFF\xFEh\0i\0", 6, 1200},
      {"\xFE\xFF\0h\0i", 6, 1201},
      {"\xEF\xBB\xBFhi", 5, 65001},
      {"plain \xE4 text", 12, 65001},
      {"", 0, 65001},
  };
  for (const auto& p : pages) {
    write_file(folder + L"page.txt", std::string(p.bytes, p.size));
    TDetectCodePageInfo info{sizeof(info), (folder + L"page.txt").c_str()};
    const std::wstring name = folder + L"page.txt";
    info.FileName = name.c_str();
    EXPECT_EQ(CALL(F->DetectCodePage(&info)), p.page) << p.size;
  }
  const std::wstring missing = folder + L"missing";
  TDetectCodePageInfo none{sizeof(none), missing.c_str()};
  EXPECT_EQ(CALL(F->DetectCodePage(&none)), 0u);
  EXPECT_EQ(CALL(F->DetectCodePage(nullptr)), 0u);
  remove_tree(folder);
}

TEST_F(StdFunctions, FormatFileSize) {
  const struct {
    unsigned long long size;
    intptr_t width;
    TFarFlags flags;
    const wchar_t* text;
  } cases[] = {
      {1536, 0, 0, L"1536"},
      {1536, 0, FFFS_SHOWBYTESINDEX, L"1536 B"},
      {1536, 0, FFFS_FLOATSIZE, L"1.50 K"},
      {1536, 0, FFFS_MINSIZEINDEX, L"2 K"},
      {1536, 0, FFFS_MINSIZEINDEX | FFFS_ECONOMIC, L"2K"},
      {1536, 0, FFFS_MINSIZEINDEX | FFFS_THOUSAND, L"2 k"},
      {3u << 20, 0, FFFS_MINSIZEINDEX | 1, L"3 M"},
      {1234567, 0, FFFS_COMMAS, L"1,234,567"},
      {1536, 8, 0, L"    1536"},
      {1536, -8, 0, L"1536    "},
  };
  for (const auto& c : cases) {
    wchar_t out[64];
    EXPECT_EQ(CALL(F->FormatFileSize(c.size, c.width, c.flags, out, 64)), std::wcslen(c.text) + 1)
        << narrow(c.text);
    EXPECT_STREQ(out, c.text);
  }
  wchar_t cut[4];
  EXPECT_EQ(CALL(F->FormatFileSize(1536, 0, FFFS_SHOWBYTESINDEX, cut, 4)), 7u);
  EXPECT_STREQ(cut, L"153");
}

TEST_F(StdFunctions, ClockAndLinguisticComparison) {
  const unsigned long long before = CALL(F->FarClock());
  Sleep(30);
  const unsigned long long after = CALL(F->FarClock());
  EXPECT_GE(after - before, 20000u);
  EXPECT_LT(after - before, 5000000u);
  EXPECT_EQ(CALL(F->CompareStrings(L"abc", 3, L"ABC", 3)), 0);
  EXPECT_EQ(CALL(F->CompareStrings(L"abcX", 3, L"abcY", 3)), 0);  // counted, no NUL needed
  EXPECT_EQ(CALL(F->CompareStrings(L"apple", 5, L"Banana", 6)), -1);
  EXPECT_EQ(CALL(F->CompareStrings(L"b", 1, L"A", 1)), 1);
}

TEST_F(StdFunctions, ClipboardPlainTextOnly) {
  EXPECT_EQ(CALL(F->CopyToClipboard(FCT_STREAM, L"hello")), TRUE);
  EXPECT_EQ(CALL(F->PasteFromClipboard(FCT_ANY, nullptr, 0)), 6u);
  wchar_t whole[16];
  EXPECT_EQ(CALL(F->PasteFromClipboard(FCT_STREAM, whole, 16)), 6u);
  EXPECT_STREQ(whole, L"hello");
  wchar_t part[6] = {L'#', L'#', L'#', L'#', L'#', L'#'};
  EXPECT_EQ(CALL(F->PasteFromClipboard(FCT_ANY, part, 3)), 6u);
  EXPECT_EQ(std::wstring(part, 4), L"hel#");  // no NUL when the buffer is short
  EXPECT_EQ(CALL(F->PasteFromClipboard(FCT_COLUMN, whole, 16)), 0u);
  EXPECT_EQ(CALL(F->CopyToClipboard(FCT_COLUMN, L"x")), FALSE);
  EXPECT_EQ(CALL(F->CopyToClipboard(FCT_ANY, L"x")), FALSE);
  EXPECT_EQ(CALL(F->CopyToClipboard(FCT_STREAM, nullptr)), TRUE);  // empties the clipboard
  EXPECT_EQ(CALL(F->PasteFromClipboard(FCT_ANY, whole, 16)), 0u);
}

// --- recursive search ----------------------------------------------------------------------------

namespace {
struct Seen {
  std::wstring root;
  std::vector<std::wstring> names;
  size_t stop_after = 0;
  bool fault_at_second = false;
};
int WINAPI collect(const TPluginPanelItem* AItem, const wchar_t* AFullName, void* AParam) {
  auto* seen = static_cast<Seen*>(AParam);
  std::wstring full = AFullName;
  seen->names.push_back(full.substr(seen->root.size()) +
                        ((AItem->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? L"/" : L"") + L":" +
                        AItem->FileName);
  if (seen->fault_at_second && seen->names.size() == 2) *static_cast<volatile int*>(nullptr) = 1;
  return seen->stop_after && seen->names.size() >= seen->stop_after ? 0 : 1;
}
}  // namespace

TEST_F(StdFunctions, RecursiveSearchFilesBeforeFolders) {
  const std::wstring root = temp_folder(L"wexlor_search");
  CreateDirectoryW((root + L"sub").c_str(), nullptr);
  CreateDirectoryW((root + L"sub\\deeper").c_str(), nullptr);
  write_file(root + L"a.txt", "1");
  write_file(root + L"b.log", "1");
  write_file(root + L"sub\\c.txt", "1");
  write_file(root + L"sub\\deeper\\d.txt", "1");
  const struct {
    const wchar_t* mask;
    TFarFlags flags;
    size_t stop_after;
    std::vector<std::wstring> expected;
  } cases[] = {
      {L"*.txt", FRS_RECUR, 0, {L"a.txt:a.txt", L"sub\\c.txt:c.txt", L"sub\\deeper\\d.txt:d.txt"}},
      {L"*.txt", 0, 0, {L"a.txt:a.txt"}},
      {L"*", FRS_RECUR | FRS_RETUPDIR, 0,
       {L"a.txt:a.txt", L"b.log:b.log", L"sub/:sub", L"sub\\c.txt:c.txt", L"sub\\deeper/:deeper",
        L"sub\\deeper\\d.txt:d.txt", L"sub\\deeper/:deeper", L"sub/:sub"}},
      {L"*|*.log,sub", FRS_RECUR | 0x100, 0,  // only the low byte of the flags counts
       {L"a.txt:a.txt", L"sub\\c.txt:c.txt", L"sub\\deeper/:deeper", L"sub\\deeper\\d.txt:d.txt"}},
      {L"*", FRS_RECUR, 2, {L"a.txt:a.txt", L"b.log:b.log"}},  // 0 from the callback stops
      {L"", FRS_RECUR, 0, {}},                                 // an invalid list: no call at all
  };
  for (const auto& c : cases) {
    Seen seen;
    seen.root = root;
    seen.stop_after = c.stop_after;
    CALL((F->FarRecursiveSearch(root.c_str(), c.mask, collect, c.flags, &seen), 0));
    EXPECT_EQ(seen.names, c.expected) << narrow(c.mask);
  }
  // A fault in the callback ends the search, not the process.
  Seen seen;
  seen.root = root;
  seen.fault_at_second = true;
  CALL((F->FarRecursiveSearch(root.c_str(), L"*", collect, FRS_RECUR, &seen), 0));
  EXPECT_EQ(seen.names.size(), 2u);
  remove_tree(root);
}

// --- the warning boxes that remain -------------------------------------------------------------

TEST_F(StdFunctions, KeyNameSlotsStillWarn) {
  BoxWatcher boxes;
  INPUT_RECORD record{};
  record.EventType = KEY_EVENT;
  wchar_t name[32] = L"untouched";
  EXPECT_EQ(CALL(F->FarInputRecordToName(&record, name, 32)), 0u);
  EXPECT_STREQ(name, L"untouched");
  EXPECT_EQ(CALL(F->FarNameToInputRecord(L"CtrlA", &record)), FALSE);
  EXPECT_EQ(boxes.Texts(), (std::vector<std::wstring>{L"FarStdInputRecordToKeyName", L"FarStdKeyNameToInputRecord"}));
}

// --- ProcessName ------------------------------------------------------------------------------------

TEST_F(StdFunctions, ProcessNameMasks) {
  SetEnvironmentVariableW(L"PATHEXT", L".COM;.EXE;.BAT;.PY");
  const struct {
    const wchar_t* mask;
    const wchar_t* name;
    TFarFlags flags;
    size_t result;
  } cases[] = {
      // One mask: wildcards, case, sets.
      {L"*.txt", L"a.TXT", PN_CMPNAME, 1},
      {L"*.txt", L"a.txt.bak", PN_CMPNAME, 0},
      {L"*.txt", L"a.b.txt", PN_CMPNAME, 1},
      {L"a?c", L"abc", PN_CMPNAME, 1},
      {L"a?c", L"ac", PN_CMPNAME, 0},
      {L"[a-c]*", L"Bx", PN_CMPNAME, 1},
      {L"[a-c]*", L"dx", PN_CMPNAME, 0},
      {L"*.[zj]ip", L"x.JIP", PN_CMPNAME, 1},
      {L"*.r[0-9][0-9]", L"x.r07", PN_CMPNAME, 1},
      {L"*.r[0-9][0-9]", L"x.rar", PN_CMPNAME, 0},
      {L"[c,x-z]*", L",a", PN_CMPNAME, 1},  // ',' inside a set is a character
      {L"[-a]", L"-", PN_CMPNAME, 1},
      {L"a[b", L"A[B", PN_CMPNAME, 1},      // an unclosed '[' is literal
      {L"a[]b", L"ab", PN_CMPNAME, 1},      // "[]" is skipped
      {L"\u00E4*", L"\u00C4rger", PN_CMPNAME, 1},
      // Legacy rules.
      {L"*", L"noext", PN_CMPNAME, 1},
      {L"*.*", L"noext", PN_CMPNAME, 1},
      {L"abc.*", L"abc", PN_CMPNAME, 1},
      {L"abc.", L"abc", PN_CMPNAME, 1},
      {L"abc.x", L"abc", PN_CMPNAME, 0},
      {L"*.", L"abc", PN_CMPNAME, 1},
      {L"*.", L"a.b", PN_CMPNAME, 0},
      {L"", L"", PN_CMPNAME, 1},
      {L"", L"a", PN_CMPNAME, 0},
      {L"a", L"", PN_CMPNAME, 0},
      // PN_CMPNAME does not split lists; paths only with PN_SKIPPATH.
      {L"*.txt,*.log", L"a.log", PN_CMPNAME, 0},
      {L"*.txt", L"dir\\a.txt", PN_CMPNAME, 1},
      {L"a*", L"x\\a.txt", PN_CMPNAME, 0},
      {L"a*", L"x\\a.txt", PN_CMPNAME | PN_SKIPPATH, 1},
      {L"a*", L"x/y/a.txt", PN_CMPNAME | PN_SKIPPATH, 1},
      // Lists: separators, blanks, quotes.
      {L"*.txt,*.log", L"a.log", PN_CMPNAMELIST, 1},
      {L"*.txt;*.log", L"a.LOG", PN_CMPNAMELIST, 1},
      {L"*.txt;*.log", L"a.bin", PN_CMPNAMELIST, 0},
      {L"  *.txt ,  *.log  ", L"a.log", PN_CMPNAMELIST, 1},
      {L"\"a,b.txt\",x", L"a,b.txt", PN_CMPNAMELIST, 1},
      {L"\"a b.txt\"", L"a b.txt", PN_CMPNAMELIST, 1},
      {L"[,;]*", L";x", PN_CMPNAMELIST, 1},  // separators inside a set
      {L"**.txt", L"a.txt", PN_CMPNAMELIST, 1},
      // Exclusions.
      {L"*|*.bak", L"x.bak", PN_CMPNAMELIST, 0},
      {L"*|*.bak", L"x.txt", PN_CMPNAMELIST, 1},
      {L"|*.bak", L"x.txt", PN_CMPNAMELIST, 1},  // exclusions alone include everything
      {L"|*.bak", L"x.bak", PN_CMPNAMELIST, 0},
      {L"*.txt|a*", L"abc.txt", PN_CMPNAMELIST, 0},
      {L"*.txt|a*", L"bc.txt", PN_CMPNAMELIST, 1},
      {L"a*|b*|a*", L"a1", PN_CMPNAMELIST, 1},    // a second '|' ends the list
      // Groups and %PATHEXT%.
      {L"<temp>", L"x.tmp", PN_CMPNAMELIST, 1},
      {L"<TEMP>", L"x.bak", PN_CMPNAMELIST, 1},
      {L"<temp>", L"x.txt", PN_CMPNAMELIST, 0},
      {L"*|<temp>", L"a.bak", PN_CMPNAMELIST, 0},
      {L"<exec>", L"run.EXE", PN_CMPNAMELIST, 1},
      {L"<exec>", L"run.py", PN_CMPNAMELIST, 1},  // through %PATHEXT%
      {L"<arc>", L"a.7z", PN_CMPNAMELIST, 1},
      {L"<arc>", L"a.r01", PN_CMPNAMELIST, 1},
      {L"<arc>", L"a.tgz", PN_CMPNAMELIST, 1},
      {L"<arc>", L"a.txt", PN_CMPNAMELIST, 0},
      {L"%PATHEXT%", L"x.bat", PN_CMPNAMELIST, 1},
      {L"%PATHEXT%", L"x.txt", PN_CMPNAMELIST, 0},
      {L"<unknown>", L"x", PN_CMPNAMELIST, 0},  // an empty group leaves an empty, invalid list
      // Regular expressions, searched anywhere unless anchored.
      {L"/^a.*z$/i", L"ABcZ", PN_CMPNAMELIST, 1},
      {L"/^a.*z$/", L"ABcZ", PN_CMPNAMELIST, 0},
      {L"/b+c/", L"xabbcx", PN_CMPNAMELIST, 1},
      {L"*.txt,/\\.lo[g]$/", L"a.log", PN_CMPNAMELIST, 1},
      {L"/[/", L"x", PN_CMPNAMELIST, 0},  // does not compile: the list is invalid
      // Paths in lists.
      {L"a*", L"x\\a.txt", PN_CMPNAMELIST, 0},
      {L"a*,b*", L"x\\b.txt", PN_CMPNAMELIST | PN_SKIPPATH, 1},
      {L"", L"x", PN_CMPNAMELIST, 0},
      // Checking a list.
      {L"*.txt,<arc>|*.bak", nullptr, PN_CHECKMASK, 1},
      {L"", nullptr, PN_CHECKMASK, 0},
      {L" , ; ", nullptr, PN_CHECKMASK, 0},
      {L"|", nullptr, PN_CHECKMASK, 0},
      {L"/(/", nullptr, PN_CHECKMASK, 0},
      {L"/ok/i", nullptr, PN_CHECKMASK, 1},
      {L"*", L"x", 0x40000, 0},  // an unknown mode
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CALL(F->ProcessName(c.mask, const_cast<wchar_t*>(c.name), 0, c.flags)), c.result)
        << narrow(c.mask) << " ~ " << narrow(c.name ? c.name : L"(null)") << " flags " << std::hex << c.flags;
  }
  EXPECT_EQ(CALL(F->ProcessName(nullptr, const_cast<wchar_t*>(L"x"), 0, PN_CMPNAMELIST)), 0u);
  EXPECT_EQ(CALL(F->ProcessName(L"*", nullptr, 0, PN_CMPNAMELIST)), 0u);
  EXPECT_EQ(CALL(F->ProcessName(nullptr, nullptr, 0, PN_CMPNAME)), 0u);
}

TEST_F(StdFunctions, ProcessNameGeneratesNames) {
  const struct {
    const wchar_t* source;
    const wchar_t* mask;
    TFarFlags count;
    const wchar_t* result;
  } cases[] = {
      {L"report.txt", L"*.bak", 0, L"report.bak"},
      {L"report.txt", L"new?.*", 0, L"newo.txt"},
      {L"a.txt", L"C:\\dest\\*.*", 0, L"C:\\dest\\a.txt"},
      {L"readme", L"*.", 0, L"readme"},
      {L"a.txt", L"fixed.name", 0, L"fixed.name"},
      {L"archive.tar.gz", L"*.zip", 0, L"archive.tar.zip"},
      {L"ab.c", L"???x.*", 0, L"abx.c"},
      {L"folder.old\\x.txt", L"*.new", 10, L"folder.new\\x.txt"},
  };
  for (const auto& c : cases) {
    wchar_t buffer[64];
    std::wcscpy(buffer, c.mask);
    EXPECT_EQ(CALL(F->ProcessName(c.source, buffer, 64, PN_GENERATENAME | c.count)), std::wcslen(c.result) + 1)
        << narrow(c.source) << " + " << narrow(c.mask);
    EXPECT_STREQ(buffer, c.result);
  }
  wchar_t small[8] = L"*.bak";
  EXPECT_EQ(CALL(F->ProcessName(L"report.txt", small, 5, PN_GENERATENAME)), 11u);
  EXPECT_STREQ(small, L"repo");
}

// A pointer from a plugin that cannot be read or written ends the call with the neutral value
// (where FAR itself would crash), and the host goes on answering.
TEST_F(StdFunctions, UnreadablePointersEndTheCallQuietly) {
  auto* bad = reinterpret_cast<wchar_t*>(0x10);
  static const wchar_t kReadOnly[] = L"constant";
  auto* read_only = const_cast<wchar_t*>(kReadOnly);
  EXPECT_EQ(CALL(F->atoi(bad)), 0);
  EXPECT_EQ(CALL(F->atoi64(bad)), 0);
  EXPECT_EQ(CALL(F->sprintf(bad, L"%d", 1)), -1);
  wchar_t buffer[8];
  EXPECT_EQ(CALL(F->sprintf(buffer, L"%s", bad)), -1);
  EXPECT_EQ(CALL(F->LStricmp(bad, L"a")), 0);
  EXPECT_EQ(CALL(F->Trim(bad)), bad);
  EXPECT_EQ(CALL(F->ProcessName(bad, const_cast<wchar_t*>(L"x"), 0, PN_CMPNAMELIST)), 0u);
  EXPECT_EQ(CALL(F->ProcessName(L"*", bad, 0, PN_CMPNAME)), 0u);
  EXPECT_EQ(CALL(F->GetCurrentDirectory(MAX_PATH, bad)), 0u);
  EXPECT_EQ(CALL(F->FormatFileSize(1, 0, 0, read_only, 8)), 0u);  // a write that faults
  EXPECT_STREQ(kReadOnly, L"constant");
  TDetectCodePageInfo info{sizeof(info), bad};
  EXPECT_EQ(CALL(F->DetectCodePage(&info)), 0u);
  EXPECT_EQ(CALL(F->atoi(L"12")), 12);
}

#if defined(__x86_64__)
// x86-64: the calls are laid out by hand (fixture_abi_call) rather than by the compiler, the way a
// plugin built by another compiler may: a narrow argument carries garbage in the rest of its
// register or slot, a double among the first four travels in both its XMM and its integer
// register, arguments after the fourth sit above the home area, and every callee-saved register
// must come back. The variadic slots read their tail as one array of 8-byte slots.
TEST_F(StdFunctions, RegistersAndVariadicSlotsOfTheX64Convention) {
  bool kept = false;
  wchar_t buffer[128] = {};
  // Tail from R8: -3 in R8 (upper half garbage), 2.5 in R9 and XMM3, the rest in stack slots.
  EXPECT_EQ(fixture::abi_call(kept, F->sprintf, buffer, L"%d|%5.2f|%I64d|%s|%c|%d", -3, 2.5, 1LL << 40, L"w",
                              L'z', 7),
            28);
  EXPECT_TRUE(kept);
  EXPECT_STREQ(buffer, L"-3| 2.50|1099511627776|w|z|7");
  // Tail from R9: the double in R9 and XMM3, the string pointer in the first stack slot.
  EXPECT_EQ(fixture::abi_call(kept, F->snprintf, buffer, size_t{16}, L"%.1f%s", 0.5, L"xyz"), 6);
  EXPECT_TRUE(kept);
  EXPECT_STREQ(buffer, L"0.5xyz");
  int number = 0;
  double real = 0;
  wchar_t letter = 0;
  EXPECT_EQ(fixture::abi_call(kept, F->sscanf, L"12 3.5 q", L"%d %lf %c", &number, &real, &letter), 3);
  EXPECT_TRUE(kept);
  EXPECT_EQ(number, 12);
  EXPECT_EQ(real, 3.5);
  EXPECT_EQ(letter, L'q');

  // wchar_t and int arguments with garbage above them; 64-bit results whole in RAX.
  EXPECT_EQ(fixture::abi_call(kept, F->LUpper, L'\u00E4'), L'\u00C4');
  EXPECT_TRUE(kept);
  EXPECT_EQ(fixture::abi_call(kept, F->LIsAlpha, L'\u00E9'), 1);
  EXPECT_TRUE(kept);
  EXPECT_EQ(fixture::abi_call(kept, F->itoa, -42, buffer, 10), buffer);
  EXPECT_TRUE(kept);
  EXPECT_STREQ(buffer, L"-42");
  EXPECT_EQ(fixture::abi_call(kept, F->itoa64, 1LL << 40, buffer, 16), buffer);
  EXPECT_TRUE(kept);
  EXPECT_STREQ(buffer, L"10000000000");
  EXPECT_EQ(fixture::abi_call(kept, F->atoi64, L"-1099511627776"), -(1LL << 40));
  EXPECT_TRUE(kept);
  EXPECT_NE(fixture::abi_call(kept, F->FarClock), 0u);
  EXPECT_TRUE(kept);
  EXPECT_EQ(fixture::abi_call(kept, F->LStrnicmp, L"abcX", L"ABCY", intptr_t{3}), 0);
  EXPECT_TRUE(kept);

  // Five arguments, the fifth (the user pointer) in the first stack slot; the comparator is called
  // back in the same convention.
  std::vector<int> values = {5, -2, 9, 0, 3};
  int down = -1;
  fixture::abi_call(kept, F->qsort, values.data(), values.size(), sizeof(int), compare_ints, &down);
  EXPECT_TRUE(kept);
  EXPECT_EQ(values, (std::vector<int>{9, 5, 3, 0, -2}));
}
#endif
