#include "stats/sorts.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace {

// One row's sort key: its first sixteen bytes as two big-endian numbers
// (zero padded after the terminator, so unsigned comparison of the numbers
// is strcmp order on those bytes), the key itself for longer keys and the
// row index that breaks ties.
struct SortEntry {
  std::uint64_t head, tail;
  const char *key;
  int index;
};

std::uint64_t eight_bytes(const char *key, bool *ended) {
  std::uint64_t v = 0;
  int i = 0;
  if (!*ended)
    for (; i < 8 && key[i] != '\0'; i++) v = (v << 8) | static_cast<unsigned char>(key[i]);
  if (i < 8) *ended = true;
  return i == 0 ? 0 : v << (8 * (8 - i));
}

SortEntry make_entry(const char *key, int index) {
  bool ended = false;
  std::uint64_t head = eight_bytes(key, &ended);
  std::uint64_t tail = eight_bytes(key + (ended ? 0 : 8), &ended);
  return SortEntry{head, tail, key, index};
}

// strcmp order of the keys, then the entry index: a strict total order.
bool entry_before(const SortEntry &a, const SortEntry &b) {
  if (a.head != b.head) return a.head < b.head;
  if (a.tail != b.tail) return a.tail < b.tail;
  if ((a.tail & 0xffu) != 0) {  // both keys go on beyond sixteen bytes
    int c = std::strcmp(a.key + 16, b.key + 16);
    if (c != 0) return c < 0;
  }
  return a.index < b.index;
}

// Row indices 0..N-1 in stable ascending strcmp order of their keys. The
// rows are grouped by equal keys (hashing), only the distinct keys are
// sorted, and a counting sort by key rank places the rows, in input order
// within each key.
std::vector<int> stable_order(int N, char **keys) {
  const std::size_t n = static_cast<std::size_t>(N);
  std::unordered_map<std::string_view, int> group_of;
  group_of.reserve(n);
  std::vector<int> group(n);
  std::vector<SortEntry> distinct;
  for (std::size_t i = 0; i < n; i++) {
    auto inserted = group_of.emplace(std::string_view(keys[i]), static_cast<int>(distinct.size()));
    if (inserted.second) distinct.push_back(make_entry(keys[i], static_cast<int>(distinct.size())));
    group[i] = inserted.first->second;
  }
  std::sort(distinct.begin(), distinct.end(), entry_before);
  std::vector<std::size_t> rank(distinct.size());  // rank of each group's key
  for (std::size_t r = 0; r < distinct.size(); r++) rank[static_cast<std::size_t>(distinct[r].index)] = r;
  // Counting sort of the rows by key rank; rows of one key keep their order.
  std::vector<int> start(distinct.size() + 1, 0);
  for (std::size_t i = 0; i < n; i++) start[rank[static_cast<std::size_t>(group[i])] + 1]++;
  for (std::size_t r = 0; r < distinct.size(); r++) start[r + 1] += start[r];
  std::vector<int> order(n);
  for (std::size_t i = 0; i < n; i++) {
    int &next = start[rank[static_cast<std::size_t>(group[i])]];
    order[static_cast<std::size_t>(next++)] = static_cast<int>(i);
  }
  return order;
}

// array[i] = old array[order[i]] for i = 0..N-1.
template <typename T>
void permute(const std::vector<int> &order, T *array) {
  std::vector<T> copy(order.size());
  for (std::size_t i = 0; i < order.size(); i++) copy[i] = array[order[i]];
  std::copy(copy.begin(), copy.end(), array);
}

}  // namespace

void StringSort_map(int N, char **stringArray1, char **stringArray2) {
  if (N < 2) return;
  std::vector<int> order = stable_order(N, stringArray1);
  permute(order, stringArray1);
  permute(order, stringArray2);
}

void StringSort_map2(int N, char **stringArray1, char **stringArray2, double *numericArray) {
  if (N < 2) return;
  std::vector<int> order = stable_order(N, stringArray1);
  permute(order, stringArray1);
  permute(order, stringArray2);
  permute(order, numericArray);
}

void StringSort_map3(int N, char **stringArray1, char **stringArray2, double *numericArray,
                     int *numericArray2) {
  if (N < 2) return;
  std::vector<int> order = stable_order(N, stringArray1);
  permute(order, stringArray1);
  permute(order, stringArray2);
  permute(order, numericArray);
  permute(order, numericArray2);
}
