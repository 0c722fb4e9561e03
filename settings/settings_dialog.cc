#include "settings/settings_dialog.h"

#include "text/gbk.h"

namespace skjk {

using text::literals::operator""_gbk;

namespace {

size_t Index(SettingsField field) { return static_cast<size_t>(field); }

// Bytes of "接口参数设置" at the end of every dialog title.
constexpr size_t kTitleSuffixBytes = 12;

}  // namespace

std::string FolderWithoutTrailingBackslash(std::string_view folder) {
  size_t last = std::string_view::npos;  // start of the last character
  for (size_t i = 0; i < folder.size(); ++i) {
    last = i;
    if (text::IsGbkLeadByte(static_cast<unsigned char>(folder[i])) &&
        i + 1 < folder.size()) {
      ++i;
    }
  }
  if (last != std::string_view::npos && last == folder.size() - 1 &&
      folder[last] == '\\') {
    folder.remove_suffix(1);
  }
  return std::string(folder);
}

SettingsDialog::SettingsDialog(SettingsDialogHost* host)
    : host_(host), title_("本部税控机接口参数设置"_gbk) {}

void SettingsDialog::Fill(const Settings& values, std::string_view title) {
  day_change_attached_ = false;
  fields_[Index(SettingsField::kBERead)] = values.read;
  fields_[Index(SettingsField::kBEWrite1)] = values.write1;
  fields_[Index(SettingsField::kBEWrite2)] = values.write2;
  fields_[Index(SettingsField::kEfhr)] = values.fhr;
  fields_[Index(SettingsField::kEskr)] = values.skr;
  fields_[Index(SettingsField::kEsm)] = values.sm;
  day_ = values.d;
  day_change_attached_ = true;
  title_ = std::string(title);
}

const std::string& SettingsDialog::text(SettingsField field) const {
  return fields_[Index(field)];
}

Settings SettingsDialog::values() const {
  Settings s;
  s.read = text(SettingsField::kBERead);
  s.write1 = text(SettingsField::kBEWrite1);
  s.write2 = text(SettingsField::kBEWrite2);
  s.fhr = text(SettingsField::kEfhr);
  s.skr = text(SettingsField::kEskr);
  s.sm = text(SettingsField::kEsm);
  s.d = day_;
  return s;
}

void SettingsDialog::SetText(SettingsField field, std::string_view text) {
  fields_[Index(field)] = std::string(text);
  switch (field) {
    case SettingsField::kBERead:
    case SettingsField::kBEWrite1:
    case SettingsField::kBEWrite2:
      BEReadChange();
      break;
    case SettingsField::kEfhr:
    case SettingsField::kEskr:
    case SettingsField::kEsm:
      EfhrChange();
      break;
  }
}

void SettingsDialog::SetDay(bool checked) {
  day_ = checked;
  if (day_change_attached_) EfhrChange();
}

std::string SettingsDialog::Folder() {
  return FolderWithoutTrailingBackslash(host_->BrowseForFolder());
}

void SettingsDialog::BEReadButtonClick() {
  std::string folder = Folder();
  if (folder.empty()) return;
  SetText(SettingsField::kBERead, folder + "\\销售发票.TXT"_gbk);
}

void SettingsDialog::BEWrite1ButtonClick() {
  BrowseExportFile(SettingsField::kBEWrite1, SettingsField::kBEWrite2,
                   "销售单据.TXT"_gbk, "报废单据.TXT"_gbk);
}

void SettingsDialog::BEWrite2ButtonClick() {
  BrowseExportFile(SettingsField::kBEWrite2, SettingsField::kBEWrite1,
                   "报废单据.TXT"_gbk, "销售单据.TXT"_gbk);
}

void SettingsDialog::BrowseExportFile(SettingsField target, SettingsField other,
                                      std::string_view name,
                                      std::string_view other_name) {
  std::string folder = Folder();
  if (folder.empty()) return;
  std::string prefix = title_.size() > kTitleSuffixBytes
                           ? title_.substr(0, title_.size() - kTitleSuffixBytes)
                           : std::string();
  SetText(target, folder + "\\" + prefix + std::string(name));
  if (!text(target).empty() && text(other).empty()) {
    SetText(other, folder + "\\" + prefix + std::string(other_name));
  }
}

bool SettingsDialog::BtnApplyClick() {
  if (text(SettingsField::kBERead).empty() ||
      text(SettingsField::kBEWrite1).empty() ||
      text(SettingsField::kBEWrite2).empty()) {
    host_->ShowErrorMessage("文件设置不能有空值！"_gbk);
    return false;
  }
  apply_enabled_ = false;
  return true;
}

void SettingsDialog::BtnOkClick() {
  if (BtnApplyClick()) result_ = Result::kOk;
}

Status RunSettingsDialog(SettingsDialogHost* host, const SettingsLine& line,
                         Env* env, std::string_view path, Settings* values) {
  SettingsDialog dialog(host);
  dialog.Fill(*values, text::Utf8ToGbk(line.title));
  SKJK_RETURN_IF_ERROR(host->ShowModal(&dialog));
  if (dialog.result() != SettingsDialog::Result::kOk) return Status::OK();
  return StoreSettings(env, path, line.section, dialog.values(), values);
}

}  // namespace skjk
