// What the benchmarks print: seconds since a moment, and numbers with a fixed count of decimals
// for their Markdown tables.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

namespace quillet::bench {

using Clock = std::chrono::steady_clock;

inline double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

inline std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

}  // namespace quillet::bench
