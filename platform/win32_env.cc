// Env on Windows: GBK paths are converted with code page 936 and the wide
// API is used, so that paths are right on a Windows of any language.
#include <windows.h>
// After windows.h:
#include <lmcons.h>

#include <memory>
#include <string>
#include <utility>

#include "base/env.h"
#include "platform/win32_error.h"
#include "text/gbk.h"

namespace skjk {
namespace {

using text::GbkToWide;

Status Win32Error(std::string_view what, std::string_view path) {
  return Status::IoError(std::string(what) + " " + std::string(path) + ": " +
                         SystemMessage(GetLastError()));
}

class Win32WritableFile final : public WritableFile {
 public:
  Win32WritableFile(HANDLE handle, std::string path)
      : handle_(handle), path_(std::move(path)) {}
  ~Win32WritableFile() override { (void)Close(); }

  Status Append(std::string_view data) override {
    if (handle_ == INVALID_HANDLE_VALUE) {
      return Status::IoError("Cannot write " + path_ + ": closed");
    }
    while (!data.empty()) {
      DWORD n = 0;
      const DWORD chunk = data.size() > (1u << 20)
                              ? (1u << 20)
                              : static_cast<DWORD>(data.size());
      if (!::WriteFile(handle_, data.data(), chunk, &n, nullptr)) {
        return Win32Error("Cannot write", path_);
      }
      data.remove_prefix(n);
    }
    return Status::OK();
  }

  Status Close() override {
    if (handle_ == INVALID_HANDLE_VALUE) return Status::OK();
    HANDLE h = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    if (!CloseHandle(h)) return Win32Error("Cannot write", path_);
    return Status::OK();
  }

 private:
  HANDLE handle_;
  std::string path_;
};

class Win32Env final : public Env {
 public:
  Status ReadFile(std::string_view path, std::string* data) override {
    // Readers only beside this one: opening fails while another program
    // holds the file open for writing, and nobody can open it for writing
    // until it is read.
    HANDLE h =
        CreateFileW(GbkToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return Win32Error("Cannot open", path);
    data->clear();
    char buf[65536];
    DWORD n = 0;
    for (;;) {
      if (!::ReadFile(h, buf, sizeof buf, &n, nullptr)) {
        Status s = Win32Error("Cannot read", path);
        CloseHandle(h);
        return s;
      }
      if (n == 0) break;
      data->append(buf, n);
    }
    CloseHandle(h);
    return Status::OK();
  }

  Status NewWritableFile(std::string_view path,
                         std::unique_ptr<WritableFile>* file) override {
    file->reset();
    HANDLE h =
        CreateFileW(GbkToWide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                    nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return Win32Error("Cannot create", path);
    *file = std::make_unique<Win32WritableFile>(h, std::string(path));
    return Status::OK();
  }

  bool FileExists(std::string_view path) override {
    DWORD attr = GetFileAttributesW(GbkToWide(path).c_str());
    return attr != INVALID_FILE_ATTRIBUTES &&
           (attr & FILE_ATTRIBUTE_DIRECTORY) == 0;
  }

  std::string ExecutableDirectory() override {
    // The module handle of the process's executable, not of the plug-in.
    std::wstring buf(32768, L'\0');
    DWORD n =
        GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    buf.resize(n);
    size_t slash = buf.find_last_of(L"\\/");
    buf.resize(slash == std::wstring::npos ? 0 : slash + 1);
    return text::WideToGbk(buf);
  }

  uint64_t NowMillis() override { return GetTickCount64(); }

  std::string ComputerName() override {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(name, &size)) return {};
    return text::WideToGbk(std::wstring_view(name, size));
  }

  std::string UserName() override {
    wchar_t name[UNLEN + 1] = {};
    DWORD size = UNLEN + 1;
    // The size counts the terminating NUL.
    if (!GetUserNameW(name, &size) || size == 0) return {};
    return text::WideToGbk(std::wstring_view(name, size - 1));
  }
};

}  // namespace

Env* Env::Default() {
  static Win32Env* env = new Win32Env;
  return env;
}

}  // namespace skjk
