// A file descriptor, closed with its owner.
#pragma once

#include <unistd.h>

#include "base/unique_any.h"

namespace quillet::linux_platform {

using UniqueFd = UniqueAny<int, &::close, -1>;

}  // namespace quillet::linux_platform
