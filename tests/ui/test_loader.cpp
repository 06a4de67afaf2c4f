// Loading shared objects, and what the windows do when no Qt backend can be had.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/dynlib.h"
#include "platform/env.h"
#include "ui/Backend.h"

namespace ui = korvel::ui;
namespace plat = korvel::plat;

namespace {

// Sets or clears environment variables for one test and puts them back afterwards.
class EnvGuard {
 public:
  void Set(const char* name, const char* value) {
    Save(name);
    if (value)
      korvel::plat::set_env(name, value);
    else
      korvel::plat::unset_env(name);
  }
  ~EnvGuard() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second)
        korvel::plat::set_env(it->first, *it->second);
      else
        korvel::plat::unset_env(it->first);
    }
  }

 private:
  void Save(const char* name) {
    // An empty variable counts as unset here, as it does for every reader of these variables.
    const std::string v = korvel::plat::get_env(name);
    saved_.emplace_back(name, v.empty() ? std::nullopt : std::optional<std::string>(v));
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

void LocalFunction() {}

}  // namespace

TEST(DynLib, FindsTheDirectoryOfTheModuleHoldingAnAddress) {
  const std::string exe_path = std::filesystem::canonical("/proc/self/exe").string();
  EXPECT_EQ(plat::module_path_of(reinterpret_cast<const void*>(&LocalFunction)), exe_path);
  EXPECT_EQ(plat::module_dir_of(reinterpret_cast<const void*>(&LocalFunction)),
            exe_path.substr(0, exe_path.find_last_of('/')));
  EXPECT_EQ(plat::module_path_of(nullptr), "");
  EXPECT_EQ(plat::module_dir_of(nullptr), "");
}

TEST(DynLib, OpensLooksUpAndReportsFailures) {
  plat::DynLib lib;
  EXPECT_EQ(lib.open("/nonexistent/dir/nothing.so"), plat::OpenResult::Missing);
  EXPECT_FALSE(lib.is_open());
  EXPECT_NE(plat::last_error_text().find("nothing.so"), std::string::npos);
  EXPECT_EQ(lib.symbol("cos"), nullptr);
  EXPECT_EQ(lib.open(""), plat::OpenResult::Missing);
  // A file that is there but is no shared object: refused, with the loader's words.
  EXPECT_EQ(lib.open("/etc/hostname"), plat::OpenResult::Failed);
  EXPECT_FALSE(plat::last_error_text().empty());

  ASSERT_EQ(lib.open("libm.so.6"), plat::OpenResult::Ok) << plat::last_error_text();
  auto* cos_fn = reinterpret_cast<double (*)(double)>(lib.symbol("cos"));
  ASSERT_NE(cos_fn, nullptr);
  EXPECT_DOUBLE_EQ(cos_fn(0.0), 1.0);
  EXPECT_EQ(lib.symbol("no_such_symbol_here"), nullptr);
  EXPECT_EQ(lib.symbol(nullptr), nullptr);
  EXPECT_NE(plat::module_path_of(reinterpret_cast<const void*>(cos_fn)).find("libm"), std::string::npos);

  plat::DynLib moved = std::move(lib);
  EXPECT_FALSE(lib.is_open());
  EXPECT_TRUE(moved.is_open());
  moved.close();
  EXPECT_FALSE(moved.is_open());
}

TEST(WindowsWithoutDisplay, ReturnAtOnceWithNothingShown) {
  EnvGuard env;
  env.Set("DISPLAY", nullptr);
  env.Set("WAYLAND_DISPLAY", nullptr);
  env.Set("QT_QPA_PLATFORM", nullptr);
  if (!ui::RetryQtBackend()) GTEST_SKIP() << "a Qt backend already runs in this process";
  ui::set_backend(nullptr);

  EXPECT_FALSE(ui::Available());
  EXPECT_EQ(ui::QtBackendError(), "no display");
  ui::TForm f("TStartFrm");
  int shows = 0;
  f.OnShow = [&] { ++shows; };
  EXPECT_EQ(f.ShowModal(), ui::mrNone);
  EXPECT_EQ(shows, 0);
  EXPECT_EQ(ui::MessageBox("text", "caption"), ui::mrNone);
  auto& dlg = f.Add<ui::TSaveDialog>("SaveDialog1");
  EXPECT_FALSE(dlg.Execute());
  ui::Printer().BeginDoc();
  ui::Printer().Writeln("x");
  EXPECT_FALSE(ui::Printer().EndDoc());
  ui::RetryQtBackend();
}

TEST(WindowsWithoutDisplay, MissingBackendFileIsReportedNotFatal) {
  EnvGuard env;
  env.Set("QT_QPA_PLATFORM", "offscreen");
  if (!ui::RetryQtBackend()) GTEST_SKIP() << "a Qt backend already runs in this process";
  ui::set_backend(nullptr);
  ui::SetQtBackendPath("/nonexistent/korvel_qt.so");
  EXPECT_FALSE(ui::Available());
  EXPECT_NE(ui::QtBackendError().find("/nonexistent/korvel_qt.so"), std::string::npos);
  ui::TForm f("TStartFrm");
  EXPECT_EQ(f.ShowModal(), ui::mrNone);
  std::string err;
  EXPECT_FALSE(ui::RenderToPng(f, "/tmp/never.png", &err));
  EXPECT_FALSE(err.empty());
  ui::SetQtBackendPath({});
  ui::RetryQtBackend();
}
