// Accelerator letters: caption text operations and the letter allocator.
#include <gtest/gtest.h>

#include "ui/qorShellBaseExtension.h"

using qor::TqorShellAmpersands;

namespace {

struct text_case {
  const wchar_t* Input;
  const wchar_t* Expected;
};

TEST(Ampersands, DeleteAmpersands) {
  const text_case cases[] = {{L"&File", L"File"}, {L"Save && Exit", L"Save & Exit"}, {L"A&", L"A&"},
                             {L"&&&x", L"&x"},    {L"", L""},                       {L"&&", L"&"},
                             {L"plain", L"plain"}};
  for (const auto& c : cases)
    EXPECT_EQ(TqorShellAmpersands::DeleteAmpersands(c.Input), c.Expected) << "input: " << c.Input;
}

TEST(Ampersands, DublicateAmpersands) {
  const text_case cases[] = {{L"R&D", L"R&&D"}, {L"&&", L"&&&&"}, {L"", L""}, {L"none", L"none"}};
  for (const auto& c : cases)
    EXPECT_EQ(TqorShellAmpersands::DublicateAmpersands(c.Input), c.Expected) << "input: " << c.Input;
  // Doubling and deleting give the literal text back.
  EXPECT_EQ(TqorShellAmpersands::DeleteAmpersands(TqorShellAmpersands::DublicateAmpersands(L"a&b&&c&")),
            L"a&b&&c&");
}

TEST(Ampersands, ExtractAmpersandLetter) {
  const struct {
    const wchar_t* Input;
    wchar_t Expected;
  } cases[] = {{L"&Open", L'O'}, {L"Fish && &Chips", L'C'}, {L"Save &A", L'A'}, {L"a&&", 0},
               {L"a&", 0},       {L"&o", L'o'},            {L"", 0},           {L"no marker", 0},
               {L"&&&x", L'x'}};
  for (const auto& c : cases)
    EXPECT_EQ(TqorShellAmpersands::ExtractAmpersandLetter(c.Input), c.Expected) << "input: " << c.Input;
}

TEST(Ampersands, AddAmpersandIfAbsent) {
  const text_case cases[] = {{L"Open", L"&Open"},    {L"12 files", L"12 &files"}, {L"&Open", L"&Open"},
                             {L"123", L"123"},       {L"", L""},                  {L"a&&b", L"&a&&b"},
                             {L"1 \x0444\x0430\x0439\x043B", L"1 &\x0444\x0430\x0439\x043B"}};
  for (const auto& c : cases)
    EXPECT_EQ(TqorShellAmpersands::AddAmpersandIfAbsent(c.Input), c.Expected) << "input: " << c.Input;
}

TEST(Ampersands, FreshTableHasTwentySixFreeLetters) {
  TqorShellAmpersands letters;
  for (wchar_t c = L'A'; c <= L'Z'; ++c) {
    EXPECT_TRUE(letters.IsAmpersandLetter(c));
    EXPECT_FALSE(letters.GetBusy(c));
  }
  EXPECT_FALSE(letters.IsAmpersandLetter(L'a'));
  EXPECT_FALSE(letters.IsAmpersandLetter(L'1'));
  EXPECT_FALSE(letters.IsAmpersandLetter(L'&'));
}

TEST(Ampersands, FindAndSetLetterBusyByString) {
  TqorShellAmpersands letters;
  std::wstring first = L"open";
  letters.FindAndSetLetterBusyByString(first);
  EXPECT_EQ(first, L"&open");
  EXPECT_TRUE(letters.GetBusy(L'O'));
  std::wstring second = L"Options";
  letters.FindAndSetLetterBusyByString(second);
  EXPECT_EQ(second, L"O&ptions");
  EXPECT_TRUE(letters.GetBusy(L'P'));

  // Digits, ampersands and letters outside A..Z are never chosen.
  std::wstring nothing = L"12 & \x0444";
  letters.FindAndSetLetterBusyByString(nothing);
  EXPECT_EQ(nothing, L"12 & \x0444");
  // An existing marker is not looked at: the caption gets a second one.
  std::wstring marked = L"&Top";
  letters.FindAndSetLetterBusyByString(marked);
  EXPECT_EQ(marked, L"&&Top");
  EXPECT_TRUE(letters.GetBusy(L'T'));
  // When every letter of the caption is taken, it stays unchanged.
  std::wstring taken = L"Top";
  letters.FindAndSetLetterBusyByString(taken);
  EXPECT_EQ(taken, L"Top");
}

TEST(Ampersands, SetLetterBusyByString) {
  TqorShellAmpersands letters;
  letters.SetLetterBusyByString(L"&x");
  for (wchar_t c = L'A'; c <= L'Z'; ++c) EXPECT_FALSE(letters.GetBusy(c)) << static_cast<char>(c);
  letters.SetLetterBusyByString(L"&X");
  EXPECT_TRUE(letters.GetBusy(L'X'));
  letters.SetLetterBusyByString(L"a && b");
  EXPECT_FALSE(letters.GetBusy(L'B'));
}

TEST(Ampersands, BusyIgnoresCharactersOutsideTheTable) {
  TqorShellAmpersands letters;
  EXPECT_FALSE(letters.GetBusy(L'1'));
  letters.SetBusy(L'1', true);
  EXPECT_FALSE(letters.GetBusy(L'1'));
  letters.SetBusy(L'q', true);
  EXPECT_FALSE(letters.GetBusy(L'Q'));
  letters.SetBusy(L'Q', true);
  EXPECT_TRUE(letters.GetBusy(L'Q'));
  letters.SetBusy(L'Q', false);
  EXPECT_FALSE(letters.GetBusy(L'Q'));
}

}  // namespace
