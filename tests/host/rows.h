// The rows of tests/host/cases.txt: a kind and its fields, a row a line.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using Row = std::vector<std::string>;

// The fields of every row of that kind; a kind with no rows fails the test.
inline std::vector<Row> rows(const std::string& kind) {
  std::ifstream in(std::filesystem::path(__FILE__).parent_path() / "cases.txt");
  std::vector<Row> out;
  for (std::string line, word; std::getline(in, line);) {
    std::istringstream words(line);
    if (!(words >> word) || word != kind) continue;
    out.emplace_back();
    while (words >> word) out.back().push_back(word);
  }
  EXPECT_FALSE(out.empty()) << "no rows of " << kind;
  return out;
}

// The same rows as numbers (0x: hex).
inline std::vector<std::vector<long long>> numbers(const std::string& kind) {
  std::vector<std::vector<long long>> out;
  for (const Row& r : rows(kind)) {
    out.emplace_back();
    for (const std::string& w : r) out.back().push_back(std::stoll(w, nullptr, 0));
  }
  return out;
}
