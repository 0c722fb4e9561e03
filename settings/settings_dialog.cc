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
  fields_[Index(SettingsField::kInvoiceFile)] = values.invoice_file;
  fields_[Index(SettingsField::kSalesFile)] = values.sales_file;
  fields_[Index(SettingsField::kVoidFile)] = values.void_file;
  fields_[Index(SettingsField::kReviewer)] = values.reviewer;
  fields_[Index(SettingsField::kPayee)] = values.payee;
  fields_[Index(SettingsField::kTaxItem)] = values.tax_item;
  day_ = values.one_day_range;
  day_change_attached_ = true;
  title_ = std::string(title);
}

const std::string& SettingsDialog::text(SettingsField field) const {
  return fields_[Index(field)];
}

Settings SettingsDialog::values() const {
  Settings s;
  s.invoice_file = text(SettingsField::kInvoiceFile);
  s.sales_file = text(SettingsField::kSalesFile);
  s.void_file = text(SettingsField::kVoidFile);
  s.reviewer = text(SettingsField::kReviewer);
  s.payee = text(SettingsField::kPayee);
  s.tax_item = text(SettingsField::kTaxItem);
  s.one_day_range = day_;
  return s;
}

void SettingsDialog::SetText(SettingsField field, std::string_view text) {
  fields_[Index(field)] = std::string(text);
  switch (field) {
    case SettingsField::kInvoiceFile:
    case SettingsField::kSalesFile:
    case SettingsField::kVoidFile:
      BEReadChange();
      break;
    case SettingsField::kReviewer:
    case SettingsField::kPayee:
    case SettingsField::kTaxItem:
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
  SetText(SettingsField::kInvoiceFile, folder + "\\销售发票.TXT"_gbk);
}

void SettingsDialog::BEWrite1ButtonClick() {
  BrowseExportFile(SettingsField::kSalesFile, SettingsField::kVoidFile,
                   "销售单据.TXT"_gbk, "报废单据.TXT"_gbk);
}

void SettingsDialog::BEWrite2ButtonClick() {
  BrowseExportFile(SettingsField::kVoidFile, SettingsField::kSalesFile,
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
  if (text(SettingsField::kInvoiceFile).empty() ||
      text(SettingsField::kSalesFile).empty() ||
      text(SettingsField::kVoidFile).empty()) {
    host_->ShowErrorMessage("文件设置不能有空值！"_gbk);
    return false;
  }
  apply_enabled_ = false;
  return true;
}

void SettingsDialog::BtnOkClick() {
  if (BtnApplyClick()) result_ = Result::kOk;
}

Status RunSettingsDialog(SettingsDialogHost* host, const SettingsRules& line,
                         Env* env, std::string_view path, Settings* values) {
  SettingsDialog dialog(host);
  dialog.Fill(*values, text::Utf8ToGbk(line.title));
  SKJK_RETURN_IF_ERROR(host->ShowModal(&dialog));
  if (dialog.result() != SettingsDialog::Result::kOk) return Status::OK();
  return StoreSettings(env, path, line.section, dialog.values(), values);
}

}  // namespace skjk
