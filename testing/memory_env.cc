#include "testing/memory_env.h"

namespace skjk::testing {

namespace {

class MemoryFile final : public WritableFile {
 public:
  MemoryFile(MemoryEnv* env, std::string path)
      : env_(env), path_(std::move(path)) {}
  Status Append(std::string_view data) override {
    if (closed_) return Status::IoError("append to closed file " + path_);
    return env_->WriteFile(path_, env_->files[path_] + std::string(data));
  }
  Status Close() override {
    closed_ = true;
    return Status::OK();
  }

 private:
  MemoryEnv* env_;
  std::string path_;
  bool closed_ = false;
};

}  // namespace

Status MemoryEnv::ReadFile(std::string_view path, std::string* data) {
  auto it = files.find(std::string(path));
  if (it == files.end()) {
    return Status::IoError("no file " + std::string(path));
  }
  *data = it->second;
  return Status::OK();
}

Status MemoryEnv::WriteFile(std::string_view path, std::string_view data) {
  if (!TakeWrite()) return Status::IoError("disk full");
  files[std::string(path)] = std::string(data);
  return Status::OK();
}

bool MemoryEnv::FileExists(std::string_view path) {
  return files.count(std::string(path)) > 0;
}

Status MemoryEnv::NewWritableFile(std::string_view path,
                                  std::unique_ptr<WritableFile>* file) {
  SKJK_RETURN_IF_ERROR(WriteFile(path, ""));
  *file = std::make_unique<MemoryFile>(this, std::string(path));
  return Status::OK();
}

bool MemoryEnv::TakeWrite() {
  if (writes_left == 0) return false;
  if (writes_left > 0) --writes_left;
  ++writes;
  return true;
}

}  // namespace skjk::testing
