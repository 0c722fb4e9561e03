// Env on Windows: GBK paths are converted with code page 936 and the wide
// API is used, so that paths are right on a Windows of any language.
#include <windows.h>

#include <string>

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

class Win32Env final : public Env {
 public:
  Status ReadFile(std::string_view path, std::string* data) override {
    HANDLE h = CreateFileW(GbkToWide(path).c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
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

  Status WriteFile(std::string_view path, std::string_view data) override {
    HANDLE h = CreateFileW(GbkToWide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                           nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) return Win32Error("Cannot create", path);
    while (!data.empty()) {
      DWORD n = 0;
      DWORD chunk = data.size() > (1u << 20) ? (1u << 20)
                                              : static_cast<DWORD>(data.size());
      if (!::WriteFile(h, data.data(), chunk, &n, nullptr)) {
        Status s = Win32Error("Cannot write", path);
        CloseHandle(h);
        return s;
      }
      data.remove_prefix(n);
    }
    if (!CloseHandle(h)) return Win32Error("Cannot write", path);
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
    DWORD n = GetModuleFileNameW(nullptr, buf.data(),
                                 static_cast<DWORD>(buf.size()));
    buf.resize(n);
    size_t slash = buf.find_last_of(L"\\/");
    buf.resize(slash == std::wstring::npos ? 0 : slash + 1);
    return text::WideToGbk(buf);
  }

  uint64_t NowMillis() override { return GetTickCount64(); }
};

}  // namespace

Env* Env::Default() {
  static Win32Env* env = new Win32Env;
  return env;
}

}  // namespace skjk
