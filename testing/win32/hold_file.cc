// skjk-hold-file: holds a file open for the Wine tests of file sharing, as
// another program (the tax-control machine's, an editor) would.
//
//   skjk-hold-file write|read PATH
//
// Opens PATH, "write": for writing, letting others read and write it too (a
// program that writes a file others may look at meanwhile); "read": for
// reading, letting others read it. Then writes "held\n" to its standard
// output and keeps the file open until its standard input ends. Exit status
// 0; 1 with a message on stderr when the arguments are wrong or the file
// cannot be opened.
#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  if (argc != 3 || (std::wcscmp(argv[1], L"write") != 0 &&
                    std::wcscmp(argv[1], L"read") != 0)) {
    std::fprintf(stderr, "usage: skjk-hold-file write|read PATH\n");
    return 1;
  }
  const bool write = std::wcscmp(argv[1], L"write") == 0;
  HANDLE file =
      CreateFileW(argv[2], write ? GENERIC_WRITE : GENERIC_READ,
                  write ? FILE_SHARE_READ | FILE_SHARE_WRITE : FILE_SHARE_READ,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "skjk-hold-file: cannot open the file: error %lu\n",
                 GetLastError());
    return 1;
  }
  DWORD n = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "held\n", 5, &n, nullptr);
  // Until the standard input ends (the test closes its end).
  char buffer[64];
  while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &n,
                  nullptr) &&
         n > 0) {
  }
  CloseHandle(file);
  return 0;
}
