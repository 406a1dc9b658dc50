// The window framework on real windows: ownership and parenthood, handle creation order, the font
// notification, typed dispatch, errors raised inside a window procedure, the timer and the modal
// loop's handling of a quit request.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/qorErrors.h"
#include "ui/qorShellWindows.h"
#include "ui_test_env.h"

namespace {

std::vector<std::wstring> GEvents;

class RecordingControl : public qor::TqorCustomControl {
 public:
  RecordingControl(qor::TqorComponent* AOwner, std::wstring AName) : TqorCustomControl(AOwner), FName(AName) {}
  ~RecordingControl() override { GEvents.push_back(L"free " + FName); }
  bool ThrowOnResize = false;

 protected:
  void HandleCreated() override { GEvents.push_back(L"create " + FName); }
  void Resize() override {
    if (ThrowOnResize) throw qor::EqorError(L"resize failed");
  }

 private:
  std::wstring FName;
};

class RecordingForm : public qor::TqorForm {
 public:
  RecordingForm() : TqorForm(nullptr) {}

 protected:
  void HandleCreated() override { GEvents.push_back(L"create form"); }
};

RecordingControl* add(qor::TqorComponent* AOwner, qor::TqorWinControl* AParent, const wchar_t* AName) {
  auto* control = new RecordingControl(AOwner, AName);
  control->SetParent(AParent);
  return control;
}

TEST(Framework, HandlesAreCreatedDepthFirstAndOwnedObjectsFreedNewestFirst) {
  GEvents.clear();
  {
    RecordingForm form;
    RecordingControl* panel = add(&form, &form, L"panel");
    add(&form, panel, L"a");
    add(panel, panel, L"b");  // owned by the panel, freed with it
    add(&form, &form, L"c");
    EXPECT_TRUE(GEvents.empty()) << "no window before one is needed";
    form.CreateHandles();
    EXPECT_EQ(GEvents, (std::vector<std::wstring>{L"create form", L"create panel", L"create a", L"create b",
                                                   L"create c"}));
    EXPECT_EQ(GetParent(panel->Controls()[0]->Handle()), panel->Handle());
    GEvents.clear();
    add(&form, &form, L"late");  // a parent with a window makes the child's at once
    EXPECT_EQ(GEvents, std::vector<std::wstring>{L"create late"});
    GEvents.clear();
  }
  EXPECT_EQ(GEvents, (std::vector<std::wstring>{L"free late", L"free c", L"free a", L"free panel", L"free b"}));
}

TEST(Framework, FontChangesReachTheWindowAndChildrenThatFollowTheParent) {
  qor::TqorForm form(nullptr);
  auto* following = new qor::TqorEdit(&form);
  following->SetParent(&form);
  auto* own = new qor::TqorEdit(&form);
  own->SetParentFont(false);
  own->SetParent(&form);
  form.CreateHandles();
  int changes = 0;
  form.Font().OnChange = [&] { ++changes; };
  form.Font().SetHeight(-20);
  EXPECT_EQ(changes, 1);
  // The form's own notification was replaced above; make the children follow through Assign.
  following->Font().Assign(form.Font());
  EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(following->Handle(), WM_GETFONT, 0, 0)), following->Font().Handle());
  EXPECT_EQ(following->Font().Height(), -20);
  form.Font().Assign(form.Font());
  EXPECT_EQ(changes, 1) << "assigning a font to itself changes nothing";

  qor::TqorForm second(nullptr);
  auto* child = new qor::TqorEdit(&second);
  child->SetParent(&second);
  auto* fixed = new qor::TqorEdit(&second);
  fixed->SetParentFont(false);
  fixed->SetParent(&second);
  second.CreateHandles();
  const int fixed_height = fixed->Font().Height();
  second.Font().SetHeight(-23);
  EXPECT_EQ(child->Font().Height(), -23);
  EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(child->Handle(), WM_GETFONT, 0, 0)), child->Font().Handle());
  EXPECT_EQ(fixed->Font().Height(), fixed_height);
  LOGFONTW description{};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(child->Handle(), WM_GETFONT, 0, 0)), sizeof(description),
             &description);
  EXPECT_EQ(description.lfHeight, -23);
}

TEST(Framework, AnErrorInsideAWindowProcedureIsRaisedAfterTheSystemCallReturns) {
  qor::TqorForm form(nullptr);
  RecordingControl* control = add(&form, &form, L"thrower");
  form.CreateHandles();
  control->ThrowOnResize = true;
  EXPECT_THROW(control->SetBounds(0, 0, 50, 20), qor::EqorError);
  control->ThrowOnResize = false;
  EXPECT_NO_THROW(control->SetBounds(0, 0, 60, 20)) << "the error was raised once";
  EXPECT_EQ(control->Width(), 60);
}

TEST(Framework, ControlsKeepTheirStateUntilTheirWindowExists) {
  qor::TqorForm form(nullptr);
  auto* edit = new qor::TqorEdit(&form);
  edit->SetText(L"before");
  edit->SetParent(&form);
  auto* check = new qor::TqorCheckBox(&form);
  check->SetChecked(true);
  check->SetParent(&form);
  int clicks = 0;
  auto* button = new qor::TqorButton(&form);
  button->OnClick = [&] { ++clicks; };
  button->SetBounds(0, 40, 80, 24);
  button->SetParent(&form);
  form.CreateHandles();
  EXPECT_EQ(edit->Text(), L"before");
  SetWindowTextW(edit->Handle(), L"typed");
  EXPECT_EQ(edit->Text(), L"typed");
  EXPECT_TRUE(check->Checked());
  EXPECT_EQ(SendMessageW(check->Handle(), BM_GETCHECK, 0, 0), BST_CHECKED);
  SendMessageW(button->Handle(), BM_CLICK, 0, 0);
  EXPECT_EQ(clicks, 1) << "the parent's WM_COMMAND reaches the button object";
}

TEST(Framework, TimerTicksWhileEnabledOnly) {
  qor::TqorTimer timer(nullptr);
  int ticks = 0;
  timer.OnTimer = [&] { ++ticks; };
  timer.SetInterval(50);
  wxt::pump_for(200);
  EXPECT_EQ(ticks, 0);
  timer.SetEnabled(true);
  EXPECT_TRUE(wxt::pump_until([&] { return ticks >= 3; }, 3000));
  timer.SetEnabled(false);
  const int stopped = ticks;
  wxt::pump_for(200);
  EXPECT_EQ(ticks, stopped);
}

TEST(Framework, ModalLoopHandsAQuitRequestBackToTheHost) {
  qor::TqorForm form(nullptr);
  qor::TqorTimer timer(nullptr);
  timer.SetInterval(100);
  timer.OnTimer = [&] {
    timer.SetEnabled(false);
    PostQuitMessage(7);
  };
  timer.SetEnabled(true);
  EXPECT_EQ(form.ShowModal(), qor::mrCancel);
  MSG msg{};
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 7u);
}

TEST(Framework, EscapeEndsTheModalLoopAsCancel) {
  qor::TqorForm form(nullptr);
  auto* edit = new qor::TqorEdit(&form);
  edit->SetParent(&form);
  qor::TqorTimer timer(nullptr);
  timer.SetInterval(100);
  timer.OnTimer = [&] {
    timer.SetEnabled(false);
    SetFocus(edit->Handle());
    PostMessageW(edit->Handle(), WM_KEYDOWN, VK_ESCAPE, 0);
  };
  timer.SetEnabled(true);
  EXPECT_EQ(form.ShowModal(), qor::mrCancel);
}

}  // namespace
