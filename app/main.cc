// Quillet: PGP for the GroupWise mail client, as an out-of-process automation server.
#include <string>
#include <vector>

#include "host/program.h"

int main(int argc, char** argv) {
  quillet::host::Program program(quillet::Platform::Default());
  return program.Run(std::vector<std::string>(argv + 1, argv + argc));
}
