// The program's one error type: an exception that carries the message shown to the user.
#pragma once

#include <stdexcept>
#include <string>

namespace quillet {

class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& message) : std::runtime_error(message) {}
};

// What the user is told of something thrown that is not an exception of the standard library.
inline constexpr char kUnknownError[] = "An unknown error occurred";

}  // namespace quillet
