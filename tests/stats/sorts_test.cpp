#include "stats/sorts.h"
#include "support/death_tests.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// Reference: the exchange sort of neighbours, N passes, strict comparison.
void neighbour_exchange(std::vector<std::string> &key, std::vector<std::string> &other,
                        std::vector<double> &num, std::vector<int> &num2) {
  const int n = static_cast<int>(key.size());
  for (int k = 0; k < n; k++)
    for (int j = 0; j + 1 < n - k; j++)
      if (std::strcmp(key[j].c_str(), key[j + 1].c_str()) > 0) {
        std::swap(key[j], key[j + 1]);
        std::swap(other[j], other[j + 1]);
        std::swap(num[j], num[j + 1]);
        std::swap(num2[j], num2[j + 1]);
      }
}

struct Rows {
  std::vector<std::string> key, other;
  std::vector<double> num;
  std::vector<int> num2;
  std::vector<char *> key_ptr, other_ptr;
  void point() {
    key_ptr.clear();
    other_ptr.clear();
    for (auto &s : key) key_ptr.push_back(&s[0]);
    for (auto &s : other) other_ptr.push_back(&s[0]);
  }
};

Rows make_rows(const std::vector<std::string> &keys) {
  Rows r;
  for (std::size_t i = 0; i < keys.size(); i++) {
    r.key.push_back(keys[i]);
    r.other.push_back("s" + std::to_string(i));
    r.num.push_back(static_cast<double>(i) + 0.5);
    r.num2.push_back(static_cast<int>(i) * 10);
  }
  r.point();
  return r;
}

// Which routine sorts the rows: 1 = StringSort_map, 2 = _map2, 3 = _map3.
void run_sort(int which, Rows &r) {
  const int n = static_cast<int>(r.key.size());
  char **k = n ? r.key_ptr.data() : nullptr;
  char **o = n ? r.other_ptr.data() : nullptr;
  if (which == 1) StringSort_map(n, k, o);
  if (which == 2) StringSort_map2(n, k, o, r.num.data());
  if (which == 3) StringSort_map3(n, k, o, r.num.data(), r.num2.data());
}

void expect_same_as_reference(int which, const std::vector<std::string> &keys) {
  Rows r = make_rows(keys);
  std::vector<std::string> rk = keys, ro = r.other;
  std::vector<double> rn = r.num;
  std::vector<int> rn2 = r.num2;
  neighbour_exchange(rk, ro, rn, rn2);
  run_sort(which, r);
  for (std::size_t i = 0; i < keys.size(); i++) {
    EXPECT_STREQ(r.key_ptr[i], rk[i].c_str()) << "row " << i;
    EXPECT_STREQ(r.other_ptr[i], ro[i].c_str()) << "row " << i;
    if (which >= 2) {
      EXPECT_EQ(r.num[i], rn[i]) << "row " << i;
    }
    if (which == 3) {
      EXPECT_EQ(r.num2[i], rn2[i]) << "row " << i;
    }
  }
}

struct SortCase {
  const char *name;
  std::vector<std::string> keys;
};

const std::vector<SortCase> &sort_cases() {
  static const std::vector<SortCase> cases = {
      {"empty", {}},
      {"one", {"G1"}},
      {"alternating", {"G2", "G1", "G2", "G1"}},
      {"sorted", {"A", "B", "B", "C"}},
      {"reversed", {"Z", "Y", "X", "W", "V"}},
      {"byte order", {"a", "B", "A9", "A10", "A", "_", "b", "A1"}},
      {"prefix before longer", {"GENE10", "GENE1", "GENE", "GENE1", "GENE"}},
      {"high bytes unsigned", {"\xc3\xa9", "z", "\x7f", "e"}},
      {"all equal", {"G", "G", "G", "G"}},
  };
  return cases;
}

class StableStringSort : public ::testing::TestWithParam<std::tuple<int, std::size_t>> {};

TEST_P(StableStringSort, MatchesNeighbourExchangeSort) {
  const int which = std::get<0>(GetParam());
  const SortCase &c = sort_cases()[std::get<1>(GetParam())];
  SCOPED_TRACE(c.name);
  expect_same_as_reference(which, c.keys);
}

INSTANTIATE_TEST_SUITE_P(AllRoutines, StableStringSort,
                         ::testing::Combine(::testing::Values(1, 2, 3),
                                            ::testing::Range(std::size_t(0), std::size_t(9))));

TEST(StableStringSortRandom, ManyTiesMatchNeighbourExchangeSort) {
  // Keys from a small alphabet so that runs of equal genes are frequent.
  unsigned state = 12345u;
  for (int trial = 0; trial < 20; trial++) {
    std::vector<std::string> keys;
    int n = 1 + trial * 7;
    for (int i = 0; i < n; i++) {
      state = state * 1103515245u + 12345u;
      keys.push_back("G" + std::to_string((state >> 16) % 9));
    }
    for (int which = 1; which <= 3; which++) expect_same_as_reference(which, keys);
  }
}

TEST(StableStringSort, GeneExampleCarriesCompanionValues) {
  Rows r = make_rows({"G2", "G1", "G2", "G1"});
  r.num = {1, 2, 3, 4};
  StringSort_map2(4, r.key_ptr.data(), r.other_ptr.data(), r.num.data());
  const char *want[] = {"G1", "G1", "G2", "G2"};
  const double vals[] = {2, 4, 1, 3};
  for (int i = 0; i < 4; i++) {
    EXPECT_STREQ(r.key_ptr[i], want[i]);
    EXPECT_EQ(r.num[i], vals[i]);
  }
}

TEST(StableStringSort, MovesPointersNotStrings) {
  Rows r = make_rows({"B", "A"});
  char *b = r.key_ptr[0], *a = r.key_ptr[1];
  StringSort_map(2, r.key_ptr.data(), r.other_ptr.data());
  EXPECT_EQ(r.key_ptr[0], a);
  EXPECT_EQ(r.key_ptr[1], b);
  EXPECT_EQ(r.key[0], "B");  // the texts themselves stay where they were
}

TEST(StableStringSort, MillionRowsSortQuickly) {
  const int n = 1000000;
  std::vector<std::string> keys(n), others(n);
  std::vector<char *> kp(n), op(n);
  std::vector<double> num(n);
  std::vector<int> num2(n);
  unsigned state = 7u;
  for (int i = 0; i < n; i++) {
    state = state * 1103515245u + 12345u;
    keys[i] = "GENE" + std::to_string((state >> 8) % 20000);
    others[i] = "rs" + std::to_string(i);
    kp[i] = &keys[i][0];
    op[i] = &others[i][0];
    num[i] = i;
    num2[i] = i;
  }
  // Processor time, not wall time: the bound separates n log n from a quadratic
  // exchange sort (hours at this size) and must hold on a loaded machine.
  std::clock_t t0 = std::clock();
  StringSort_map3(n, kp.data(), op.data(), num.data(), num2.data());
  double seconds = double(std::clock() - t0) / CLOCKS_PER_SEC;
  for (int i = 0; i + 1 < n; i++) {
    int c = std::strcmp(kp[i], kp[i + 1]);
    ASSERT_LE(c, 0);
    if (c == 0) {
      ASSERT_LT(num2[i], num2[i + 1]);  // equal genes keep file order
    }
    ASSERT_EQ(std::strcmp(op[i] + 2, std::to_string(num2[i]).c_str()), 0);
  }
#if !defined(__SANITIZE_ADDRESS__) && defined(NDEBUG)
  EXPECT_LT(seconds, 10.0);
#endif
  std::printf("sorted %d mapping rows in %.3f s\n", n, seconds);
}

TEST(KillQuorvexDeathTest, PrintsStopTextBetweenEmptyLinesAndExitsWithOne) {
  EXPECT_EXIT(
      run_to_exit([&] {
        std::fflush(stdout);
        dup2(fileno(stderr), fileno(stdout));  // the death test matches standard error
        kill_QUORVEX();
      }),
      ::testing::ExitedWithCode(1), "^\nQUORVEX was stopped due to error\\(s\\) listed above\\.\n\n$");
}

}  // namespace
