// Inputs for the benchmarks: mail bodies that behave like real ones, and binary attachments.
#pragma once

#include <cctype>
#include <cstddef>
#include <iterator>
#include <random>
#include <string>

namespace quillet::bench {

// Prose in lines of 60 to 78 characters, in paragraphs, from a vocabulary of some thousands of
// made-up words: it compresses about as a mail written by a person does (2:1 with gzip), unlike
// a line repeated, which compresses many times better and hides the cost of moving the text.
inline std::string Prose(std::size_t size, unsigned seed) {
  static constexpr const char* kSyllables[] = {
      "ba", "be", "bi", "co", "da", "de", "di", "do", "en", "er", "fa", "fe", "ga", "ge", "ha",
      "he", "in", "is", "ka", "la", "le", "li", "lo", "ma", "me", "mi", "mo", "na", "ne", "ni",
      "no", "on", "or", "pa", "pe", "po", "ra", "re", "ri", "ro", "sa", "se", "si", "so", "ta",
      "te", "ti", "to", "un", "va", "ve", "vi", "wa", "we", "ya", "ze", "st", "th", "nd", "ck"};
  std::mt19937 random(seed);
  const auto pick = [&random](std::size_t n) { return static_cast<std::size_t>(random() % n); };
  std::string text, line;
  bool sentence_start = true;
  while (text.size() < size) {
    std::string word;
    const std::size_t syllables = 1 + pick(3);
    for (std::size_t i = 0; i < syllables; ++i) word += kSyllables[pick(std::size(kSyllables))];
    if (pick(20) == 0) word = std::to_string(pick(2000));
    if (sentence_start) word[0] = static_cast<char>(std::toupper(word[0]));
    sentence_start = pick(9) == 0;
    if (sentence_start) word += pick(4) == 0 ? "?" : ".";
    else if (pick(12) == 0) word += ",";
    if (!line.empty() && line.size() + 1 + word.size() > 60 + pick(19)) {
      text += line + "\n";
      if (sentence_start && pick(4) == 0) text += "\n";
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
  }
  return (text + line + "\n").substr(0, size);
}

// Printable ASCII chosen at random, in lines of 72 characters: text that hardly compresses.
inline std::string RandomText(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string text(size, '\n');
  for (std::size_t i = 0; i < size; ++i)
    if (i % 73 != 72) text[i] = static_cast<char>(' ' + random() % 95);
  return text;
}

inline std::string Bytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

}  // namespace quillet::bench
