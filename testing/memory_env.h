// MemoryEnv: an Env whose files live in a map, for tests of code that reads
// and writes small files (params.cfg, say) without touching the disk.
//
// Paths are keys as given: no folders, no case folding, no separators.
// Every write may be made to fail: `writes_left` counts the writes that
// still succeed (-1 for no limit), so a test can stop a run of writes at the
// one it chooses.
#ifndef SKJK_TESTING_MEMORY_ENV_H_
#define SKJK_TESTING_MEMORY_ENV_H_

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "base/env.h"

namespace skjk::testing {

class MemoryEnv : public Env {
 public:
  // `executable_directory` ends in a separator, as Env requires.
  explicit MemoryEnv(std::string executable_directory = "C:\\HOST\\")
      : executable_directory_(std::move(executable_directory)) {}

  // Fails for a file that is not in `files`.
  Status ReadFile(std::string_view path, std::string* data) override;
  // One write: fails with "disk full" once `writes_left` is 0 and leaves
  // the file as it was.
  Status WriteFile(std::string_view path, std::string_view data) override;
  bool FileExists(std::string_view path) override;
  // The file is emptied at once and each Append() adds to it; each
  // Append() is one write as for WriteFile().
  Status NewWritableFile(std::string_view path,
                         std::unique_ptr<WritableFile>* file) override;
  std::string ExecutableDirectory() override { return executable_directory_; }
  uint64_t NowMillis() override { return now_millis; }
  std::string ComputerName() override { return computer_name; }
  std::string UserName() override { return user_name; }

  std::map<std::string, std::string> files;
  int writes_left = -1;  // -1: unlimited
  int writes = 0;        // writes that succeeded
  uint64_t now_millis = 0;
  std::string computer_name = "DESK-7";
  std::string user_name = "clerk";

 private:
  // Takes one write from the budget; false when none is left.
  bool TakeWrite();

  std::string executable_directory_;
};

}  // namespace skjk::testing

#endif  // SKJK_TESTING_MEMORY_ENV_H_
