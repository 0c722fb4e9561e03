// A file held open by another process for the life of the object: the
// program skjk-hold-file (testing/win32/hold_file.cc), which must stand
// beside the test program. The constructor returns once the other process
// holds the file (or has failed to), the destructor lets it go and waits for
// the process's end: no test waits on a clock.
#ifndef SKJK_TESTING_WIN32_HELD_FILE_H_
#define SKJK_TESTING_WIN32_HELD_FILE_H_

#include <windows.h>

#include <string>

namespace skjk::e2e {

class HeldFile {
 public:
  enum class Mode {
    kWrite,  // open for writing, others may read and write
    kRead,   // open for reading, others may read
  };
  HeldFile(Mode mode, const std::wstring& path);
  ~HeldFile();
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;

  // Whether the other process holds the file; if not, error() says why.
  bool held() const { return held_; }
  const std::string& error() const { return error_; }

 private:
  PROCESS_INFORMATION process_{};
  HANDLE input_ = nullptr;  // our end of the holder's standard input
  bool held_ = false;
  std::string error_;
};

}  // namespace skjk::e2e

#endif  // SKJK_TESTING_WIN32_HELD_FILE_H_
