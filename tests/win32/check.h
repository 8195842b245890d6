// A few helpers that stand in for a test framework in the Windows test programs (GoogleTest is
// not at hand for MinGW): checks that report their place, from any thread, and a runner whose last
// line of output is the tally.
#pragma once

#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace quillet::wintest {

inline int failed_checks = 0;
inline std::mutex check_mutex;

inline void Fail(const char* file, int line, const std::string& what) {
  std::lock_guard<std::mutex> lock(check_mutex);
  ++failed_checks;
  std::printf("  %s:%d: %s\n", file, line, what.c_str());
}

inline std::string Show(const std::string& s) {
  return "\"" + s + "\"";
}
inline std::string Show(const char* s) {
  return Show(std::string(s));
}
inline std::string Show(const std::optional<std::string>& s) {
  return s ? Show(*s) : "(none)";
}
template <typename T>
std::string Show(const T& value);
template <typename T>
std::string Show(const std::vector<T>& values) {
  std::string text = "{";
  for (const T& v : values) text += (text.size() > 1 ? ", " : "") + Show(v);
  return text + "}";
}
template <typename T>
std::string Show(const T& value) {
  std::ostringstream out;
  out << value;
  return out.str();
}

struct Test {
  const char* name;
  void (*run)();
};

// Runs every test, or only the one named `only`, and prints the tally; returns the exit code.
template <std::size_t N>
int RunTests(const Test (&tests)[N], const char* only = nullptr) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  int passed = 0, failed = 0;
  for (const Test& test : tests) {
    if (only && std::strcmp(only, test.name) != 0) continue;
    const int before = failed_checks;
    std::printf("[ RUN  ] %s\n", test.name);
    try {
      test.run();
    } catch (const std::exception& e) {
      Fail(test.name, 0, std::string("an exception: ") + e.what());
    }
    const bool ok = failed_checks == before;
    std::printf("[ %s ] %s\n", ok ? " OK " : "FAIL", test.name);
    ++(ok ? passed : failed);
  }
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}

}  // namespace quillet::wintest

#define CHECK(condition) \
  ((condition) ? void()  \
               : ::quillet::wintest::Fail(__FILE__, __LINE__, "CHECK(" #condition ") failed"))
#define CHECK_EQ(actual, expected)                                                    \
  do {                                                                                \
    const auto& a_ = (actual);                                                        \
    const auto& e_ = (expected);                                                      \
    if (!(a_ == e_))                                                                  \
      ::quillet::wintest::Fail(__FILE__, __LINE__,                                    \
                               #actual " is " + Show(a_) + ", expected " + Show(e_)); \
  } while (0)
