#include "settings/settings_dialog.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "testing/memory_env.h"
#include "text/gbk.h"

namespace skjk {
namespace {

constexpr SettingsRules kBbsk{"Bbsk", "本部税控机接口参数设置"};
constexpr SettingsRules kJqsk{"Jqsk", "vu税控机接口参数设置"};

using namespace text::literals;
using Field = SettingsField;

// Answers the folder browser from a list and runs a script as the user of
// the modal dialog.
class ScriptedHost final : public SettingsDialogHost {
 public:
  Status ShowModal(SettingsDialog* dialog) override {
    ++shown;
    if (script) script(dialog);
    return show_status;
  }
  std::string BrowseForFolder() override {
    std::string folder = folders.empty() ? "" : folders.front();
    if (!folders.empty()) folders.pop_front();
    return folder;
  }
  void ShowErrorMessage(std::string_view text) override {
    errors.emplace_back(text);
  }

  std::deque<std::string> folders;
  std::vector<std::string> errors;
  std::function<void(SettingsDialog*)> script;
  Status show_status;
  int shown = 0;
};

using testing::MemoryEnv;

TEST(SettingsDialogTest, FillSetsFieldsWithoutEnablingApply) {
  ScriptedHost host;
  SettingsDialog dialog(&host);
  EXPECT_EQ(dialog.title(), "本部税控机接口参数设置"_gbk);
  Settings values{"r", "w1", "w2", "f", "s", "m", true};
  dialog.Fill(values, "税控机接口参数设置"_gbk);
  EXPECT_EQ(dialog.values(), values);
  EXPECT_EQ(dialog.title(), "税控机接口参数设置"_gbk);
  EXPECT_FALSE(dialog.apply_enabled());
  // The check box notifies once the dialog is filled.
  dialog.SetDay(false);
  EXPECT_TRUE(dialog.apply_enabled());
}

TEST(SettingsDialogTest, EveryFieldChangeEnablesApply) {
  for (Field field : {Field::kInvoiceFile, Field::kSalesFile, Field::kVoidFile,
                      Field::kReviewer, Field::kPayee, Field::kTaxItem}) {
    ScriptedHost host;
    SettingsDialog dialog(&host);
    dialog.Fill(Settings(), "税控机接口参数设置"_gbk);
    dialog.SetText(field, "x");
    EXPECT_TRUE(dialog.apply_enabled());
    EXPECT_EQ(dialog.text(field), "x");
  }
}

TEST(SettingsDialogTest, BrowseFillsDefaultFileNames) {
  struct Case {
    const char* name;
    const char* title;  // UTF-8
    void (SettingsDialog::*click)();
    std::string folder;
    std::string void_file_before;
    std::string invoice_file, sales_file, void_file;  // wanted
  } cases[] = {
      {"Fxsk sales file fills both", "税控机接口参数设置",
       &SettingsDialog::BEWrite1ButtonClick, "D:\\OUT", "", "",
       "D:\\OUT\\税控机销售单据.TXT"_gbk, "D:\\OUT\\税控机报废单据.TXT"_gbk},
      {"void file already set stays", "本部税控机接口参数设置",
       &SettingsDialog::BEWrite1ButtonClick, "D:\\OUT\\", "E:\\keep.TXT", "",
       "D:\\OUT\\本部税控机销售单据.TXT"_gbk, "E:\\keep.TXT"},
      {"Jqsk void file mirrors", "vu税控机接口参数设置",
       &SettingsDialog::BEWrite2ButtonClick, "E:\\X", "", "",
       "E:\\X\\vu税控机销售单据.TXT"_gbk, "E:\\X\\vu税控机报废单据.TXT"_gbk},
      {"drive root", "本部税控机接口参数设置",
       &SettingsDialog::BEReadButtonClick, "C:\\", "", "C:\\销售发票.TXT"_gbk,
       "", ""},
      {"folder ending in a character with trail byte 0x5C",
       "本部税控机接口参数设置", &SettingsDialog::BEReadButtonClick,
       "D:\\誠"_gbk, "", "D:\\誠\\销售发票.TXT"_gbk, "", ""},
  };
  for (const Case& c : cases) {
    ScriptedHost host;
    host.folders = {c.folder};
    SettingsDialog dialog(&host);
    Settings before;
    before.void_file = c.void_file_before;
    dialog.Fill(before, text::Utf8ToGbk(c.title));
    (dialog.*c.click)();
    EXPECT_EQ(dialog.text(Field::kInvoiceFile), c.invoice_file) << c.name;
    EXPECT_EQ(dialog.text(Field::kSalesFile), c.sales_file) << c.name;
    EXPECT_EQ(dialog.text(Field::kVoidFile), c.void_file) << c.name;
    EXPECT_TRUE(dialog.apply_enabled()) << c.name;
  }
}

TEST(SettingsDialogTest, CancelledBrowseChangesNothing) {
  ScriptedHost host;
  SettingsDialog dialog(&host);
  Settings values{"r", "w1", "", "", "", "", false};
  dialog.Fill(values, "税控机接口参数设置"_gbk);
  dialog.BEReadButtonClick();
  dialog.BEWrite1ButtonClick();
  dialog.BEWrite2ButtonClick();
  EXPECT_EQ(dialog.values(), values);
  EXPECT_FALSE(dialog.apply_enabled());
}

TEST(SettingsDialogTest, ApplyAndOkRefuseEmptyFileFields) {
  for (Field empty :
       {Field::kInvoiceFile, Field::kSalesFile, Field::kVoidFile}) {
    ScriptedHost host;
    SettingsDialog dialog(&host);
    dialog.Fill(Settings{"r", "w1", "w2", "", "", "", false},
                "税控机接口参数设置"_gbk);
    dialog.SetText(empty, "");
    EXPECT_FALSE(dialog.BtnApplyClick());
    dialog.BtnOkClick();
    EXPECT_EQ(host.errors,
              std::vector<std::string>(2, "文件设置不能有空值！"_gbk));
    EXPECT_TRUE(dialog.apply_enabled());
    EXPECT_EQ(dialog.result(), SettingsDialog::Result::kNone);
  }
}

TEST(RunSettingsDialogTest, OkStoresEvenWithEmptyInvoiceTexts) {
  ScriptedHost host;
  MemoryEnv env;
  Settings values{"r", "w1", "w2", "f", "s", "m", false};
  host.script = [](SettingsDialog* d) {
    EXPECT_EQ(d->title(), "vu税控机接口参数设置"_gbk);
    EXPECT_EQ(d->text(Field::kReviewer), "f");
    d->SetText(Field::kReviewer, "");
    d->SetText(Field::kPayee, "");
    d->SetText(Field::kTaxItem, "");
    d->SetDay(true);
    d->BtnOkClick();
  };
  ASSERT_TRUE(
      RunSettingsDialog(&host, kJqsk, &env, "C:\\H\\params.cfg", &values).ok());
  EXPECT_EQ(values, (Settings{"r", "w1", "w2", "", "", "", true}));
  EXPECT_EQ(env.files["C:\\H\\params.cfg"],
            "[Jqsk]\r\nread=r\r\nwrite1=w1\r\nwrite2=w2\r\nfhr=\r\nskr=\r\n"
            "sm=\r\nd=1\r\n");
  EXPECT_TRUE(host.errors.empty());
}

TEST(RunSettingsDialogTest, ApplyThenCancelStoresNothing) {
  ScriptedHost host;
  MemoryEnv env;
  Settings values{"r", "w1", "w2", "f", "s", "m", false};
  host.script = [](SettingsDialog* d) {
    d->SetText(Field::kReviewer, "changed");
    EXPECT_TRUE(d->BtnApplyClick());
    EXPECT_FALSE(d->apply_enabled());
    d->BtnCancelClick();
  };
  ASSERT_TRUE(
      RunSettingsDialog(&host, kBbsk, &env, "C:\\H\\params.cfg", &values).ok());
  EXPECT_EQ(values.reviewer, "f");
  EXPECT_TRUE(env.files.empty());
}

TEST(RunSettingsDialogTest, FailuresReachTheCaller) {
  ScriptedHost host;
  MemoryEnv env;
  env.writes_left = 0;
  Settings values{"r", "w1", "w2", "f", "s", "m", false};
  host.script = [](SettingsDialog* d) {
    d->SetText(Field::kInvoiceFile, "new");
    d->BtnOkClick();
  };
  Status s =
      RunSettingsDialog(&host, kBbsk, &env, "C:\\H\\params.cfg", &values);
  EXPECT_EQ(s.message(), "Unable to write to C:\\H\\params.cfg");
  EXPECT_EQ(values.invoice_file, "r");

  host.script = nullptr;
  host.show_status = Status::Error("cannot create the dialog");
  s = RunSettingsDialog(&host, kBbsk, &env, "C:\\H\\params.cfg", &values);
  EXPECT_EQ(s.message(), "cannot create the dialog");
}

}  // namespace
}  // namespace skjk
