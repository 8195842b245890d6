// Whole-file reads and writes whose every failure is an Error: a file that was not written completely is
// never taken for one that was.
#pragma once

#include <string>
#include <string_view>
#include <utility>

namespace quillet {

// The whole content of the file at `path`; raises Error when it cannot be read.
std::string ReadWholeFile(const std::string& path);
// Makes `bytes` the whole content of the file at `path`, creating it or replacing its content.
void WriteWholeFile(const std::string& path, std::string_view bytes);

// Removes the file at `path`, if there is one, when it goes out of scope, however the scope is
// left, unless it was told to keep it (or made inactive).
class FileRemovedAtExit {
 public:
  explicit FileRemovedAtExit(std::string path, bool active = true)
      : path_(std::move(path)), active_(active) {}
  ~FileRemovedAtExit();
  FileRemovedAtExit(const FileRemovedAtExit&) = delete;
  FileRemovedAtExit& operator=(const FileRemovedAtExit&) = delete;
  void Keep() { active_ = false; }

 private:
  std::string path_;
  bool active_;
};

}  // namespace quillet
