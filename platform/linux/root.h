// The directory that stands for drive C: on Linux: $QUILLET_ROOT, or ~/.local/share/quillet/c.
#pragma once

#include <string>

namespace quillet::linux_platform {

// Created on first use; no trailing separator.
std::string Root();

}  // namespace quillet::linux_platform
