#include "testing/win32/held_file.h"

#include <string>

#include "testing/win32/driver.h"

namespace skjk::e2e {
namespace {

std::string LastError(const char* what) {
  return std::string(what) + " failed: error " + std::to_string(GetLastError());
}

}  // namespace

HeldFile::HeldFile(Mode mode, const std::wstring& path) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE child_input = nullptr, output = nullptr, child_output = nullptr;
  if (!CreatePipe(&child_input, &input_, &inherit, 0) ||
      !CreatePipe(&output, &child_output, &inherit, 0)) {
    error_ = LastError("CreatePipe");
    return;
  }
  // The holder inherits only its own ends.
  SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(output, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = child_input;
  startup.hStdOutput = child_output;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  const std::wstring program = ProgramDirectory() + L"skjk-hold-file.exe";
  std::wstring command = L"\"" + program + L"\" " +
                         (mode == Mode::kWrite ? L"write" : L"read") + L" \"" +
                         path + L"\"";
  const bool started =
      CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, TRUE, 0,
                     nullptr, nullptr, &startup, &process_);
  if (!started) error_ = LastError("CreateProcessW skjk-hold-file.exe");
  CloseHandle(child_input);
  CloseHandle(child_output);
  if (started) {
    // "held\n" once it holds the file; the end of the pipe when it gave up.
    std::string said;
    char buffer[16];
    DWORD n = 0;
    while (said.find('\n') == std::string::npos &&
           ReadFile(output, buffer, sizeof buffer, &n, nullptr) && n > 0) {
      said.append(buffer, n);
    }
    held_ = said == "held\n";
    if (!held_) error_ = "skjk-hold-file did not hold the file";
  }
  CloseHandle(output);
}

HeldFile::~HeldFile() {
  if (input_ != nullptr) CloseHandle(input_);
  if (process_.hProcess != nullptr) {
    WaitForSingleObject(process_.hProcess, 30000);
    CloseHandle(process_.hProcess);
    CloseHandle(process_.hThread);
  }
}

}  // namespace skjk::e2e
