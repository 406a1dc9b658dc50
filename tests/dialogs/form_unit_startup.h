// The start-up a form of the module's units needs when a test program links them directly: the
// module's resources, themes, forms and the shell extension, once before the first test.
#pragma once

#include <windows.h>
#include <gtest/gtest.h>

#include "common/qorTarget.h"
#include "ui/qorShellBaseExtension.h"
#include "ui/qorShellForm.h"
#include "ui/qorShellThemes.h"
#include "wexlor_harness.h"

namespace wxt {

class FormUnitStartup : public ::testing::Environment {
 public:
  void SetUp() override {
    HMODULE module = LoadLibraryW((exe_folder() + qor::kModuleFileName).c_str());
    qor::ThemesStartup(module);
    qor::FormStartup();
    qor::ShellBaseExtension::Startup();
  }
};

}  // namespace wxt
