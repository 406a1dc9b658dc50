// The message dialog form with real windows: buttons sized in groups by Tag, the footer row,
// the client height of a form that has only content, standard icons, and the progress dialog
// whose cancellation closes the form.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "ui/qorShellBaseExtension.h"
#include "ui/qorShellDialogs.h"
#include "form_unit_startup.h"
#include "ui_test_env.h"
#include "wexlor_harness.h"

namespace {

const auto* GStartup = ::testing::AddGlobalTestEnvironment(new wxt::FormUnitStartup);

// A form with content of a fixed height and the buttons a test asks for.
class ContentForm : public qor::TqorShellCustomDialogForm {
 public:
  explicit ContentForm(int AContentHeight, IUnknown* AProgress = nullptr)
      : TqorShellCustomDialogForm(AProgress, nullptr), FContentHeight(AContentHeight) {
    SetCaption(L"Message form");
  }
  void UpdateContentBounds(RECT& ARect) override {
    ContentRect = ARect;
    ARect.bottom = ARect.top + FContentHeight;
  }
  RECT ContentRect{};

 private:
  int FContentHeight;
};

TEST(MessageForm, ButtonsOfOneTagShareAWidthAndStandAtTheRightOfTheFooter) {
  auto form = std::make_unique<ContentForm>(40);
  auto* ok = form->AddButton(L"OK", qor::mrOk, 5);
  auto* long_one = form->AddButton(L"Extract every selected file again", qor::mrNone, 5);
  auto* cancel = form->AddButton(L"No", qor::mrCancel, 0);
  form->AfterConstruction();
  EXPECT_EQ(ok->Width(), long_one->Width());
  EXPECT_GT(ok->Width(), cancel->Width()) << "a group of its own keeps its own width";
  const SIZE margin = form->UI().DialogMargin();
  const int spacing = form->UI().ButtonsSpacing().cx;
  const int client = form->ClientWidth();
  EXPECT_EQ(cancel->Left() + cancel->Width(), client - margin.cx);
  EXPECT_EQ(long_one->Left() + long_one->Width(), cancel->Left() - spacing);
  EXPECT_EQ(ok->Left() + ok->Width(), long_one->Left() - spacing);
  // Footer: separator, margin, the button row, margin.
  EXPECT_EQ(ok->Top(), form->PrimaryHeight() + form->SeparatorHeight() + margin.cy);
  EXPECT_EQ(form->ClientHeight(), ok->Top() + ok->Height() + margin.cy);
}

TEST(MessageForm, RightAlignedButtonsStartAtTheLeftMargin) {
  auto form = std::make_unique<ContentForm>(40);
  auto* more = form->AddButton(L"More", qor::mrNone, 1, true);
  auto* close = form->AddButton(L"Close", qor::mrCancel, 2);
  form->AfterConstruction();
  const SIZE margin = form->UI().DialogMargin();
  EXPECT_EQ(more->Left(), margin.cx);
  EXPECT_EQ(close->Left() + close->Width(), form->ClientWidth() - margin.cx);
  EXPECT_EQ(more->Top(), close->Top());
}

TEST(MessageForm, FormWithOnlyContentHasNoFooter) {
  for (int content : {0, 5, 120}) {
    auto form = qor::MakeForm<ContentForm>(content);
    const SIZE margin = form->UI().DialogMargin();
    const int unrelated = form->UI().UnrelatedControlsSpacing().cy;
    EXPECT_EQ(form->ContentRect.left, margin.cx) << "content starts at the margins without icon or texts";
    EXPECT_EQ(form->ContentRect.top, margin.cy);
    const int expected = std::max<int>(margin.cy, margin.cy + content - unrelated) + margin.cy;
    EXPECT_EQ(form->PrimaryHeight(), expected) << content;
    EXPECT_EQ(form->ClientHeight(), expected) << "the footer lies below the client area";
    EXPECT_EQ(form->ClientWidth(), form->UI().Width(75));
  }
}

TEST(MessageForm, StandardIcons) {
  EXPECT_EQ(qor::TqorShellCustomDialogForm::CreateMessageStandardIcon(qor::TqorShellDialogIcon::diNone, 32, 32),
            nullptr);
  for (auto kind : {qor::TqorShellDialogIcon::diError, qor::TqorShellDialogIcon::diQuestion,
                    qor::TqorShellDialogIcon::diWarning, qor::TqorShellDialogIcon::diInformation}) {
    HICON icon = qor::TqorShellCustomDialogForm::CreateMessageStandardIcon(kind, 32, 32);
    EXPECT_NE(icon, nullptr);
    if (icon) DestroyIcon(icon);
  }
}

// A classic progress dialog that reports the user's cancel once told to.
class FakeProgress : public IProgressDialog {
 public:
  std::atomic<bool> Cancelled{false};
  std::atomic<long> Refs{1};
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID AIid, void** AOut) override {
    static const IID progress = {0xEBBC7C04, 0x315E, 0x11D2, {0xB6, 0x2F, 0x00, 0x60, 0x97, 0xDF, 0x5B, 0xD4}};
    if (IsEqualIID(AIid, IID_IUnknown) || IsEqualIID(AIid, progress)) {
      *AOut = this;
      AddRef();
      return S_OK;
    }
    *AOut = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++Refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --Refs; }
  HRESULT STDMETHODCALLTYPE StartProgressDialog(HWND, IUnknown*, DWORD, LPCVOID) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE StopProgressDialog() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetTitle(PCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetAnimation(HINSTANCE, UINT) override { return S_OK; }
  BOOL STDMETHODCALLTYPE HasUserCancelled() override { return Cancelled ? TRUE : FALSE; }
  HRESULT STDMETHODCALLTYPE SetProgress(DWORD, DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetProgress64(ULONGLONG, ULONGLONG) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetLine(DWORD, PCWSTR, BOOL, LPCVOID) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetCancelMsg(PCWSTR, LPCVOID) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Timer(DWORD, LPCVOID) override { return S_OK; }
};

TEST(MessageForm, CancelledProgressDialogClosesTheFormWithTheCancelResult) {
  FakeProgress progress;
  {
    auto form = std::make_unique<ContentForm>(20, &progress);
    form->AddButton(L"OK", qor::mrOk);
    form->AddButton(L"Cancel", qor::mrCancel);
    form->AfterConstruction();
    EXPECT_GT(progress.Refs.load(), 1) << "the form keeps the progress dialog alive";
    progress.Cancelled = true;
    const DWORD start = GetTickCount();
    EXPECT_EQ(form->ShowModal(nullptr), qor::mrCancel);
    EXPECT_LT(GetTickCount() - start, 5000u);
  }
  EXPECT_EQ(progress.Refs.load(), 1) << "released with the form";
}

TEST(MessageForm, OnlyOkButtonGivesTheOkResultOnCancel) {
  FakeProgress progress;
  auto form = std::make_unique<ContentForm>(20, &progress);
  form->AddButton(L"OK", qor::mrOk);
  form->AfterConstruction();
  progress.Cancelled = true;
  EXPECT_EQ(form->ShowModal(nullptr), qor::mrOk);
}

TEST(MessageForm, CheckBoxStateGoesInAndComesBack) {
  auto form = std::make_unique<ContentForm>(20);
  form->CheckBox().SetCaption(L"&Do not ask again");
  form->AddButton(L"OK", qor::mrOk);
  form->AfterConstruction();
  EXPECT_TRUE(form->CheckBox().Visible());
  bool check = true;
  PostMessageW(form->Handle(), WM_CLOSE, 0, 0);
  EXPECT_EQ(form->ShowModal(&check), qor::mrCancel);
  EXPECT_TRUE(check);
  EXPECT_TRUE(form->CheckBox().Checked());
}

}  // namespace
