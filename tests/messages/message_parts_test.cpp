// The reading and splitting of a Message call and the system error text, on the unit itself.
#include <gtest/gtest.h>

#include "services/qorFarMessageW.h"

namespace {

const wchar_t* const* unreadable() { return reinterpret_cast<const wchar_t* const*>(0x10); }

TEST(MessageParts, NothingIsReadForMessagesWithoutButtonsOrRefusedCalls) {
  qor::TqorFarMessageParts parts;
  // The array is never touched: an unreadable one still answers "nothing to show" without a fault.
  EXPECT_FALSE(qor::ReadFarMessage(0, unreadable(), 4, 0, 0, parts));
  EXPECT_FALSE(qor::ReadFarMessage(FMSG_ALLINONE | FMSG_LEFTALIGN, unreadable(), 0, 0, 0, parts));
  EXPECT_FALSE(qor::ReadFarMessage(0x80000, unreadable(), 4, -2, 0, parts));
  EXPECT_FALSE(qor::ReadFarMessage(FMSG_MB_OK, nullptr, 4, 0, 0, parts));
  EXPECT_FALSE(qor::ReadFarMessage(FMSG_MB_OK, unreadable(), 1, 0, 0, parts));
  // Asked for, the unreadable array fails softly.
  EXPECT_FALSE(qor::ReadFarMessage(FMSG_MB_OK, unreadable(), 4, 0, 0, parts));
  EXPECT_FALSE(qor::ReadFarMessage(FMSG_MB_OK | FMSG_ALLINONE, unreadable(), 0, 0, 0, parts));
}

TEST(MessageParts, ItemsAndAllInOneGiveTheSameParts) {
  const wchar_t* items[] = {L"Title", L"one", nullptr, L"\x01sep", L"&A", L"&B"};
  const wchar_t* all = L"Title\none\n\n\x01sep\n&A\n&B\n";
  qor::TqorFarMessageParts a, b;
  ASSERT_TRUE(qor::ReadFarMessage(FMSG_WARNING, items, 6, 2, 0, a));
  ASSERT_TRUE(qor::ReadFarMessage(FMSG_WARNING | FMSG_ALLINONE | FMSG_LEFTALIGN,
                                  reinterpret_cast<const wchar_t* const*>(all), 99, 2, 0, b));
  for (const qor::TqorFarMessageParts* p : {&a, &b}) {
    EXPECT_EQ(p->Title, L"Title");
    EXPECT_EQ(p->Lines, (std::vector<std::wstring>{L"one", L"", L"\x01sep"}));
    EXPECT_EQ(p->Buttons, (std::vector<std::wstring>{L"&A", L"&B"}));
    EXPECT_TRUE(p->Warning);
  }
  EXPECT_FALSE(a.LeftAlign);
  EXPECT_TRUE(b.LeftAlign);
}

TEST(MessageParts, ErrorTextFollowsASeparator) {
  const wchar_t* items[] = {L"Open", L"a.zip"};
  qor::TqorFarMessageParts parts;
  ASSERT_TRUE(qor::ReadFarMessage(FMSG_ERRORTYPE | FMSG_MB_OK, items, 2, 0, ERROR_ACCESS_DENIED, parts));
  ASSERT_EQ(parts.Lines.size(), 3u);
  EXPECT_EQ(parts.Lines[1], L"\x01");
  EXPECT_EQ(parts.Lines[2], qor::FarErrorText(ERROR_ACCESS_DENIED));
  EXPECT_EQ(parts.Buttons, std::vector<std::wstring>{L"OK"});
}

TEST(MessageParts, ErrorTexts) {
  const std::wstring denied = qor::FarErrorText(ERROR_ACCESS_DENIED);
  EXPECT_EQ(denied.substr(0, 13), L"0x00000005 - ");
  EXPECT_GT(denied.size(), 13u);
  EXPECT_EQ(denied.find_first_of(L"\r\n"), std::wstring::npos);
  EXPECT_NE(denied.back(), L' ');
  EXPECT_EQ(qor::FarErrorText(0x2000ABCD), L"0x2000ABCD - Unknown error");
  // An NT status carried in an HRESULT is looked up in ntdll, not among the Win32 texts.
  const std::wstring nt = qor::FarErrorText(0xD0000022);
  EXPECT_EQ(nt.substr(0, 13), L"0xD0000022 - ");
}

}  // namespace
