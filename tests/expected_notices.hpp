// The notice texts the tests expect, read from tests/notices.txt (UTF-8),
// which is typed apart from the program's own table so that a slip in one
// shows against the other.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace expected {

// Each text as its lines.
inline std::map<std::string, std::vector<std::string>> ReadNotices() {
  std::map<std::string, std::vector<std::string>> texts;
  std::ifstream in(LZS_NOTICES_FILE);
  if (!in) ADD_FAILURE() << "cannot read " << LZS_NOTICES_FILE;
  std::vector<std::string>* text = nullptr;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("@ ", 0) == 0) text = &texts[line.substr(2)];
    else if (text != nullptr) text->push_back(line);
  }
  return texts;
}

// The text called name ("caption", "usage", "format error", "general error"),
// its lines joined by lineBreak.
inline std::string Notice(const std::string& name, const std::string& lineBreak = "\n") {
  static const std::map<std::string, std::vector<std::string>> texts = ReadNotices();
  const auto found = texts.find(name);
  if (found == texts.end()) {
    ADD_FAILURE() << "no notice called " << name << " in " << LZS_NOTICES_FILE;
    return {};
  }
  std::string joined;
  for (const std::string& line : found->second) {
    if (&line != &found->second.front()) joined += lineBreak;
    joined += line;
  }
  return joined;
}

}  // namespace expected
