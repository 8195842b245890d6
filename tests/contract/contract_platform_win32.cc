// The shared port tests' platform facts on Windows.
#include <windows.h>

#include "base/cmdline.h"
#include "platform/system.h"
#include "tests/win32/file_access.h"
#include "tests/contract/contract_platform.h"
#include "tests/win32/exit_with.h"

namespace quillet::contract {

std::string ExitWithProgram() {
  std::string path = System::Default().ModuleFileName();
  path.resize(path.find_last_of('\\') + 1);
  return QuoteProgram(path + "exit_with.exe");
}

std::string ScratchKey() {
  return "QuilletContractTest." + std::to_string(GetCurrentProcessId());
}

std::string ExitWith(std::int32_t code) {
  return ExitWithProgram() + " " + std::to_string(code);
}

std::string ExitWhenExists(std::int32_t code, const std::string& gate) {
  return ExitWithProgram() + " " + std::to_string(code) + " when " + QuoteArgument(gate);
}

std::string WritingEnvironment(const std::string& file) {
  return ExitWithProgram() + " environment " + QuoteArgument(file);
}

std::optional<std::string> NarrowSample() {
  // Western Windows: the one code page whose bytes this test knows.
  if (GetACP() != 1252) return std::nullopt;
  return "Zo\xEB ?urov\xE1, 5 \x80, ?";
}

std::string BatchWriting(const std::string& file) {
  return "@echo %1 %2> " + file + "\r\n@echo done>> " + file + "\r\n";
}

void LetOthersIn(const std::string& folder) {
  win32_test::LetEveryoneIn(folder);
}

bool AdmitsUserAlone(const std::string& path) {
  return win32_test::AdmitsUserAlone(path);
}

}  // namespace quillet::contract
