#include "stats/sorts.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// Row indices 0..N-1 in stable ascending strcmp order of their keys.
std::vector<int> stable_order(int N, char **keys) {
  std::vector<int> order(static_cast<std::size_t>(N > 0 ? N : 0));
  for (int i = 0; i < N; i++) order[static_cast<std::size_t>(i)] = i;
  std::stable_sort(order.begin(), order.end(),
                   [keys](int a, int b) { return std::strcmp(keys[a], keys[b]) < 0; });
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

void kill_QUORVEX() {
  std::puts("\nQUORVEX was stopped due to error(s) listed above.\n");
  std::exit(1);
}
