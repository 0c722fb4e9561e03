// Env: the operating system as the core sees it.
//
// Everything the core needs from the platform that is not a window goes
// through this interface, so that the same code runs in the plug-in on Windows
// and in the native tests on Linux. Paths are GBK texts, as the user types
// them and as the settings file holds them; each implementation converts them
// to the system's own form (UTF-16 on Windows, UTF-8 on Linux).
#ifndef SKJK_BASE_ENV_H_
#define SKJK_BASE_ENV_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/status.h"

namespace skjk {

// A file written from its start, in order. Appends go straight to the
// system: callers that write many small pieces buffer them themselves.
// Destroying an open file closes it.
class WritableFile {
 public:
  virtual ~WritableFile() = default;
  virtual Status Append(std::string_view data) = 0;
  // Closes the file; a second call does nothing and succeeds.
  virtual Status Close() = 0;
};

class Env {
 public:
  virtual ~Env() = default;

  // The Env of this process (Win32 in the plug-in, POSIX natively). Never
  // deleted.
  static Env* Default();

  // Reads the whole file into *data. While it reads, others may read the
  // file but not write it: a file that another program holds open for
  // writing is not read at all (an error), so the bytes are never those of a
  // file half written. (Windows enforces this; POSIX systems have no such
  // sharing rule and read the file as it is.)
  virtual Status ReadFile(std::string_view path, std::string* data) = 0;
  // Creates or replaces the file with `data`; others may read it meanwhile.
  virtual Status WriteFile(std::string_view path, std::string_view data) {
    std::unique_ptr<WritableFile> file;
    Status s = NewWritableFile(path, &file);
    if (s.ok()) s = file->Append(data);
    if (s.ok()) s = file->Close();
    return s;
  }
  virtual bool FileExists(std::string_view path) = 0;
  // Creates the file, or empties an existing one, for writing with
  // *file. While it is open other programs may read it but not write it.
  // The folder must exist.
  virtual Status NewWritableFile(std::string_view path,
                                 std::unique_ptr<WritableFile>* file) = 0;

  // Directory of the executable of this process (the host program, not the
  // plug-in), with a trailing separator.
  virtual std::string ExecutableDirectory() = 0;

  // Milliseconds from an arbitrary fixed point, monotonic.
  virtual uint64_t NowMillis() = 0;

  // The desk this process runs on, as the system names it: the computer and
  // the user signed in (GBK, like every text of the core). Empty when the
  // system does not tell.
  virtual std::string ComputerName() = 0;
  virtual std::string UserName() = 0;
};

}  // namespace skjk

#endif  // SKJK_BASE_ENV_H_
