// The tokenizer of genotype rows against a plain split on blanks: the same
// tokens in the same order, one-character tokens through the one-character
// callback and longer ones through the other, whether or not the
// four-token fast path applies.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "driver/genotype_tokens.h"

namespace {

// "1:x" for a token handed out as one character x, "n:text" for a longer one.
std::vector<std::string> walk(const std::string &line) {
  std::vector<std::string> out;
  const long n = for_each_row_token(
      line.data(), line.data() + line.size(), [&](char c) { out.push_back(std::string("1:") + c); },
      [&](const char *b, const char *e) { out.push_back("n:" + std::string(b, e)); });
  EXPECT_EQ(n, (long)out.size());
  return out;
}

std::vector<std::string> plain_split(const std::string &line) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : line + " ") {
    if (is_blank(c)) {
      if (!cur.empty()) out.push_back((cur.size() == 1 ? "1:" : "n:") + cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  return out;
}

// Lines at the edges of the fast path: four tab-digit pairs followed by the
// end, a blank, a longer token, a digit above 2, a missing value; blanks
// other than tabs; a line that starts without a blank.
TEST(GenotypeTokens, EdgesOfTheFourTokenPath) {
  const char *lines[] = {
      "",
      "\t0\t1\t2\t0",
      "\t0\t1\t2\t0\t",
      "\t0\t1\t2\t01",
      "\t0\t1\t2\t3\t0\t0\t0\t0",
      "\t0\t1\t2\tNA\t1\t1\t1\t1\t2",
      "\t0 1\t2\t0\t0\t0\t0\t0",
      "0\t1\t2\t0\t0\t0\t0\t0\t0",
      "\t0\t1\t2\t0\r",
      "\t1\t1\t1\t1\t1\t1\t1\t1\t2\t2\t2\t2\t0.5\tN\tA\t9",
      "\t\t0\t1\t2\t0\t0",
      "\t0\t1\t2",
  };
  for (const char *line : lines) EXPECT_EQ(walk(line), plain_split(line)) << '"' << line << '"';
}

// Random lines over an alphabet that makes the fast path start and stop
// anywhere (xorshift64, fixed seed).
TEST(GenotypeTokens, RandomLinesEqualAPlainSplit) {
  const char alphabet[] = {'\t', '\t', '\t', '0', '0', '1', '2', '3', 'N', 'A', '.', ' ', '\r', '-'};
  std::uint64_t x = 0x9E3779B97F4A7C15ull;
  for (int t = 0; t < 20000; t++) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    const int len = (int)(x % 40);
    std::string line;
    for (int i = 0; i < len; i++) {
      x ^= x << 13;
      x ^= x >> 7;
      x ^= x << 17;
      // Mostly tab-digit pairs, so that runs of the fast path occur.
      if (x % 3 != 0) {
        line += '\t';
        line += (char)('0' + (x >> 8) % 3);
      } else {
        line += alphabet[(x >> 8) % sizeof alphabet];
      }
    }
    ASSERT_EQ(walk(line), plain_split(line)) << '"' << line << '"';
  }
}

}  // namespace
