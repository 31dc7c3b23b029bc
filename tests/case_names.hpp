// Names for table-driven tests: a case's description with every character
// that GoogleTest does not take in a name turned into '_'.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <string>

struct CaseName {
  template <typename Case>
  std::string operator()(const testing::TestParamInfo<Case>& info) const {
    std::string name;
    for (const char c : std::string(info.param.name))
      name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
  }
};
