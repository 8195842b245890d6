// Command lines as one string, split and quoted by the Windows C runtime's rules, so that the
// same line reaches a program as the same arguments on every platform.
#pragma once

#include <string>
#include <vector>

namespace quillet {

// Blanks and tabs separate arguments outside double quotes; 2n backslashes before a double quote
// give n backslashes and the quote groups, 2n+1 give n backslashes and a literal quote; other
// backslashes are literal; "" inside quotes is a literal quote. The first argument, the
// program, ends at the next blank, or at the closing quote when it starts with one.
std::vector<std::string> SplitCommandLine(const std::string& line);

// The argument in double quotes, with backslashes and quotes escaped so that SplitCommandLine
// gives it back unchanged.
std::string QuoteArgument(const std::string& argument);

// The argument unchanged when it holds no blank, tab or double quote and is not empty, otherwise
// quoted.
std::string QuoteIfNeeded(const std::string& argument);

// A program path as the first argument of a command line: in double quotes when it holds a
// blank, unchanged otherwise. The first argument knows no escapes.
std::string QuoteProgram(const std::string& path);

}  // namespace quillet
