// Quillet: PGP for the GroupWise mail client, as an out-of-process automation server.
#include <string>
#include <vector>

#include "host/program.h"

int main(int argc, char** argv) {
  const quillet::Platform platform = quillet::Platform::Default();
  int status = 1;
  // A start that fails is told in a message box, and the exit status says so.
  platform.gui.RunHandler([&] {
    quillet::host::Program program(platform);
    status = program.Run(std::vector<std::string>(argv + 1, argv + argc));
  });
  return status;
}
