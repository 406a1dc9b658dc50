// UI metrics: the dialog-unit arithmetic as tables, and the metrics object on real fonts and real
// controls at the prefix's DPI (this program runs once in a 96 DPI and once in a 144 DPI prefix).
#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "ui/qorShellForm.h"
#include "ui_test_env.h"

namespace {

class UnitStartup : public ::testing::Environment {
 public:
  void SetUp() override { qor::FormStartup(); }
};
const auto* GStartup = ::testing::AddGlobalTestEnvironment(new UnitStartup);

struct metrics_case {
  SIZE unit;
  int delta;
  SIZE margin;
  int group_top, group_left, group_bottom;
  SIZE label, related, unrelated, buttons;
  int min_metric;
};

TEST(LayoutMetrics, TableOfDialogUnits) {
  const metrics_case cases[] = {
      // the classic 96 DPI message font
      {{6, 13}, 0, {11, 11}, 18, 9, 11, {5, 5}, {6, 7}, {11, 11}, {6, 7}, 5},
      // 350 x 16 extent: (6, 16)
      {{6, 16}, 0, {11, 14}, 22, 9, 14, {5, 6}, {6, 8}, {11, 14}, {6, 8}, 5},
      // every metric one pixel less per step of the delta
      {{6, 13}, 2, {9, 9}, 16, 7, 9, {3, 3}, {4, 5}, {9, 9}, {4, 5}, 3},
      // 144 DPI: halves round away from zero (7*9/4 = 15.75, 3*9/4 = 6.75, 7*20/8 = 17.5)
      {{9, 20}, 0, {16, 18}, 28, 14, 18, {7, 8}, {9, 10}, {16, 18}, {9, 10}, 7},
      // tiny font: 3*2/4 = 1.5 rounds to 2, 3*5/8 = 1.875 to 2
      {{2, 5}, 0, {4, 4}, 7, 3, 4, {2, 2}, {2, 3}, {4, 4}, {2, 3}, 2},
  };
  for (const metrics_case& c : cases) {
    SCOPED_TRACE(testing::Message() << "unit " << c.unit.cx << "x" << c.unit.cy << " delta " << c.delta);
    const qor::TqorLayoutMetrics m = qor::ComputeLayoutMetrics(c.unit, c.delta);
    EXPECT_EQ(m.DialogMargin.cx, c.margin.cx);
    EXPECT_EQ(m.DialogMargin.cy, c.margin.cy);
    EXPECT_EQ(m.GroupBoxTopMargin, c.group_top);
    EXPECT_EQ(m.GroupBoxLeftMargin, c.group_left);
    EXPECT_EQ(m.GroupBoxBottomMargin, c.group_bottom);
    EXPECT_EQ(m.LabelControlSpacing.cx, c.label.cx);
    EXPECT_EQ(m.LabelControlSpacing.cy, c.label.cy);
    EXPECT_EQ(m.RelatedControlsSpacing.cx, c.related.cx);
    EXPECT_EQ(m.RelatedControlsSpacing.cy, c.related.cy);
    EXPECT_EQ(m.UnrelatedControlsSpacing.cx, c.unrelated.cx);
    EXPECT_EQ(m.UnrelatedControlsSpacing.cy, c.unrelated.cy);
    EXPECT_EQ(m.ButtonsSpacing.cx, c.buttons.cx);
    EXPECT_EQ(m.ButtonsSpacing.cy, c.buttons.cy);
    EXPECT_EQ(m.MinMetric, c.min_metric);
  }
}

TEST(LayoutMetrics, RoundingHalvesToEven) {
  const struct {
    double value;
    int rounded;
  } cases[] = {{19.5, 20}, {6.5, 6}, {7.5, 8}, {-2.5, -2}, {20.25, 20}, {20.75, 21}, {0.5, 0}, {1.5, 2}};
  for (const auto& c : cases) EXPECT_EQ(qor::RoundHalfEven(c.value), c.rounded) << c.value;
}

TEST(LayoutMetrics, DpiChangeQueueGrowth) {
  const int expected[] = {4, 8, 12, 28, 44, 60, 76, 95};
  int capacity = 0;
  for (int next : expected) {
    capacity = qor::NextDPIQueueCapacity(capacity);
    EXPECT_EQ(capacity, next);
  }
}

// A font of a known extent: the dialog units come from its own 52-letter measurement.
TEST(Metrics, DialogUnitsOfAFontWithKnownExtent) {
  LOGFONTW description{};
  description.lfHeight = -16;
  wcscpy(description.lfFaceName, L"Tahoma");
  qor::unique_gdi<HFONT> font(CreateFontIndirectW(&description));
  HDC dc = CreateCompatibleDC(nullptr);
  SIZE extent{};
  {
    qor::selected_object selected(dc, font.get());
    GetTextExtentPoint32W(dc, L"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ", 52, &extent);
  }
  DeleteDC(dc);
  ASSERT_GT(extent.cx, 52 * 3);
  SIZE unit{};
  qor::TSizeD unit_d{};
  qor::GetFontDialogUnits(font.get(), unit, unit_d);
  EXPECT_EQ(unit.cx, extent.cx / 52);
  EXPECT_EQ(unit.cy, extent.cy);
  EXPECT_DOUBLE_EQ(unit_d.cx, extent.cx / 52.0);
  EXPECT_DOUBLE_EQ(unit_d.cy, extent.cy);

  qor::TqorShellUI ui(nullptr, 96, 96);
  ui.Font().SetHandle(CreateFontIndirectW(&description));
  EXPECT_EQ(ui.DialogUnit().cx, unit.cx);
  EXPECT_EQ(ui.DialogUnit().cy, unit.cy);
  EXPECT_EQ(ui.DialogMargin().cx, MulDiv(7, unit.cx, 4));
  EXPECT_EQ(ui.DialogMargin().cy, MulDiv(7, unit.cy, 8));
  EXPECT_EQ(ui.Width(3), qor::RoundHalfEven(3 * unit_d.cx));
  EXPECT_EQ(ui.Height(2), 2 * unit.cy);
}

TEST(Metrics, SystemFontFollowsThePrefixDpi) {
  const UINT dpi = wxt::expected_dpi();
  ASSERT_EQ(qor::dpi::GetSystemDpi(), dpi) << "the test runs in the prefix made for its DPI";
  qor::TqorShellUI ui(nullptr, 0, 0);
  EXPECT_EQ(ui.DpiX(), dpi);
  EXPECT_EQ(ui.DpiY(), dpi);
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof(metrics);
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0));
  EXPECT_EQ(ui.Font().Height(), metrics.lfMessageFont.lfHeight);
  EXPECT_EQ(ui.Font().Height(), dpi == 144 ? -17 : -11) << "Wine's message font at this DPI";
  // The same object made for the other DPI scales the font by the ratio.
  const UINT other = dpi == 144 ? 96 : 144;
  qor::TqorShellUI scaled(nullptr, other, other);
  EXPECT_EQ(scaled.Font().Height(), MulDiv(metrics.lfMessageFont.lfHeight, other, dpi));
  EXPECT_GT(ui.DialogUnit().cy, 0);
  if (dpi == 144) {
    EXPECT_GT(ui.DialogUnit().cy, scaled.DialogUnit().cy);
  } else {
    EXPECT_LT(ui.DialogUnit().cy, scaled.DialogUnit().cy);
  }
}

TEST(Metrics, UpdateDpiOnlyWhenTheDpiChanges) {
  const UINT dpi = qor::dpi::GetSystemDpi();
  qor::TqorShellUI ui(nullptr, 0, 0);
  const HFONT before = ui.Font().Handle();
  EXPECT_FALSE(ui.UpdateDPI(nullptr, 0));
  EXPECT_EQ(ui.Font().Handle(), before);
  EXPECT_TRUE(ui.UpdateDPI(nullptr, dpi * 2));
  EXPECT_EQ(ui.DpiY(), dpi * 2);
  // Twice the height, give or take the rounding of Wine's scaling from its 96 DPI description.
  const int base_height = qor::TqorShellUI(nullptr, 0, 0).Font().Height();
  EXPECT_NEAR(ui.Font().Height(), 2 * base_height, 1);
  EXPECT_TRUE(ui.UpdateDPI(nullptr, dpi, dpi * 2));
  EXPECT_EQ(ui.DpiX(), dpi);
  EXPECT_FALSE(ui.UpdateDPI(nullptr, dpi, dpi * 2));
}

TEST(Metrics, DecSizeNarrowsGapsThenShrinksTheFontDownToTenPixels) {
  qor::TqorShellUI ui(nullptr, 0, 0);
  int steps = 0, font_steps = 0;
  for (;;) {
    const int min_metric = ui.MinMetric();
    const int height = ui.Font().Height();
    const SIZE margin = ui.DialogMargin();
    if (!ui.DecSize()) {
      EXPECT_LT(min_metric, 4);
      EXPECT_EQ(height, -10);
      EXPECT_EQ(ui.Font().Height(), -10) << "nothing changes";
      break;
    }
    ++steps;
    if (min_metric >= 4) {
      EXPECT_EQ(ui.Font().Height(), height);
      EXPECT_EQ(ui.DialogMargin().cx, margin.cx - 1);
      EXPECT_EQ(ui.DialogMargin().cy, margin.cy - 1);
    } else {
      ++font_steps;
      EXPECT_EQ(ui.Font().Height(), height + 1);
      EXPECT_EQ(ui.MetricsDelta(), 0) << "a font change restores the gaps";
    }
    ASSERT_LT(steps, 200);
  }
  const int start_height = qor::TqorShellUI(nullptr, 0, 0).Font().Height();
  EXPECT_EQ(font_steps, -10 - start_height);
}

class ControlSizing : public ::testing::Test {
 protected:
  void SetUp() override {
    FForm = std::make_unique<qor::TqorForm>(nullptr);
    FForm->Handle();
    FUI = std::make_unique<qor::TqorShellUI>(FForm->Handle(), 0, 0);
    FForm->Font().Assign(FUI->Font());
  }
  template <class T, class... A>
  T& add(A... AArgs) {
    auto* control = new T(FForm.get(), AArgs...);
    control->SetParent(FForm.get());
    return *control;
  }
  SIZE text_extent(qor::TqorWinControl& AControl, const std::wstring& AText) {
    SIZE extent{};
    HDC dc = GetDC(AControl.Handle());
    qor::selected_object font(dc, AControl.Font().Handle());
    GetTextExtentPoint32W(dc, AText.c_str(), static_cast<int>(AText.size()), &extent);
    ReleaseDC(AControl.Handle(), dc);
    return extent;
  }
  std::unique_ptr<qor::TqorForm> FForm;
  std::unique_ptr<qor::TqorShellUI> FUI;
};

TEST_F(ControlSizing, ButtonsAreFiftyDialogUnitsOrCaptionPlusThreeCharacters) {
  auto& ok = add<qor::TqorButton>();
  ok.SetCaption(L"OK");
  FUI->SetButtonSize(ok);
  // Wine's theme offers no button font, so the button's own font gives the units.
  SIZE unit{};
  qor::TSizeD unit_d{};
  qor::GetFontDialogUnits(ok.Font().Handle(), unit, unit_d);
  EXPECT_EQ(ok.Width(), std::max<int>(MulDiv(50, unit.cx, 4), 3 * unit.cx + text_extent(ok, L"OK").cx));
  EXPECT_EQ(ok.Height(), std::max<int>(MulDiv(14, unit.cy, 8), text_extent(ok, L"OK").cy));

  auto& wide = add<qor::TqorButton>();
  wide.SetCaption(L"A rather long caption for a push button");
  auto& other = add<qor::TqorButton>();
  other.SetCaption(L"&Cancel");
  const int common = FUI->SetButtonSize({&ok, &wide, &other});
  EXPECT_EQ(common, 3 * unit.cx + text_extent(wide, wide.Caption()).cx);
  EXPECT_EQ(ok.Width(), common);
  EXPECT_EQ(other.Width(), common);
  EXPECT_EQ(FUI->SetButtonSize(qor::TqorButtonArray{}), 0);
}

TEST_F(ControlSizing, CheckBoxIsGlyphPlusSpacedCaption) {
  SIZE glyph{13, 13};
  if (HBITMAP bitmap = LoadBitmapW(nullptr, MAKEINTRESOURCEW(32759))) {
    BITMAP info{};
    GetObjectW(bitmap, sizeof(info), &info);
    glyph = SIZE{info.bmWidth / 4, info.bmHeight / 3};
    DeleteObject(bitmap);
  }
  auto& empty = add<qor::TqorCheckBox>();
  FUI->SetCheckBoxSize(empty);
  const int empty_width = empty.Width(), empty_height = empty.Height();
  EXPECT_GT(empty_width, 0);
  auto& box = add<qor::TqorCheckBox>();
  box.SetCaption(L"&Remember");
  FUI->SetCheckBoxSize(box);
  const SIZE text = text_extent(box, L" &Remember");
  EXPECT_EQ(box.Width(), empty_width + text.cx + 2);
  EXPECT_EQ(box.Height(), std::max<int>(empty_height, text.cy));
  if (!qor::UseThemes()) {
    EXPECT_EQ(empty_width, glyph.cx);
    EXPECT_EQ(empty_height, glyph.cy);
  }
}

TEST_F(ControlSizing, EditHeightAndLabelAlignment) {
  auto& edit = add<qor::TqorEdit>();
  edit.SetBounds(100, 40, 200, 60);
  FUI->SetEditHeight(edit);
  EXPECT_EQ(edit.ClientHeight(), text_extent(edit, L"qW").cy);
  // A new edit has no size yet (layouts size controls before they place them), so its client
  // area tells nothing about its border.
  auto& fresh = add<qor::TqorEdit>();
  FUI->SetEditHeight(fresh);
  EXPECT_EQ(fresh.Height(), edit.Height());
  fresh.SetWidth(200);
  EXPECT_EQ(fresh.ClientHeight(), text_extent(fresh, L"qW").cy);

  auto& label = add<qor::TqorLabel>();
  label.SetBounds(10, 40, 80, 13);
  FUI->SetLabelTop(label, edit);
  POINT text_origin{0, 0};
  ClientToScreen(edit.Handle(), &text_origin);
  POINT label_origin{0, 0};
  ClientToScreen(label.Handle(), &label_origin);
  EXPECT_EQ(label_origin.y, text_origin.y + 1) << "edits have a client edge";

  const struct {
    DWORD style;
    int top;
  } combos[] = {{CBS_DROPDOWNLIST, 45}, {CBS_DROPDOWN, 45}, {CBS_SIMPLE, 44}};
  for (const auto& c : combos) {
    auto& combo = add<qor::TqorSystemControl>(L"COMBOBOX", c.style);
    combo.SetBounds(100, 40, 120, 23);
    label.SetBounds(10, 0, 80, 13);
    FUI->SetLabelTopByCombobox(label, combo);
    if (combo.Height() == 23) {
      EXPECT_EQ(label.Top(), c.top) << c.style;
    }
    EXPECT_EQ(label.Top(), 40 + (combo.Height() - 13) / 2 - (c.style == CBS_SIMPLE ? 1 : 0));
  }
  label.SetBounds(0, 0, 80, 13);
  auto& base = add<qor::TqorButton>();
  base.SetBounds(0, 100, 80, 24);
  FUI->SetTop(base, label);
  EXPECT_EQ(label.Top(), 100 + 12 - 6);
  auto& progress = add<qor::TqorSystemControl>(L"STATIC", 0);
  FUI->SetProgressBarHeight(progress);
  EXPECT_EQ(progress.Height(), FUI->DialogUnit().cy);
}

}  // namespace
