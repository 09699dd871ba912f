#ifndef QUORVEX_STATS_SORTS_H
#define QUORVEX_STATS_SORTS_H

// Stable string sorts of the gene-to-variant mapping.
//
// The sorts order the N rows ascending by strcmp of stringArray1 (bytes
// compared as unsigned values, a prefix before any longer string), keep
// rows with equal keys in their input order and move the companion arrays
// (index 0..N-1) with their row. Only pointers and values are moved; the
// strings themselves are not touched. The result is exactly that of the
// stable neighbour-exchange sort, obtained in O(N log N): the rows are
// grouped by key, the distinct keys sorted, the rows placed by a counting
// sort of key ranks (file order within a key) and every array permuted once.

void StringSort_map(int N, char **stringArray1, char **stringArray2);
void StringSort_map2(int N, char **stringArray1, char **stringArray2, double *numericArray);
void StringSort_map3(int N, char **stringArray1, char **stringArray2, double *numericArray,
                     int *numericArray2);

#endif
