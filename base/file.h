// Whole-file reads and writes whose every failure is an Error: a file that was not written completely is
// never taken for one that was.
#pragma once

#include <string>
#include <string_view>

namespace quillet {

// The whole content of the file at `path`; raises Error when it cannot be read.
std::string ReadWholeFile(const std::string& path);
// Makes `bytes` the whole content of the file at `path`, creating it or replacing its content.
void WriteWholeFile(const std::string& path, std::string_view bytes);

}  // namespace quillet
