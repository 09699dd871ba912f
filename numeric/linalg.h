#ifndef QUORVEX_NUMERIC_LINALG_H
#define QUORVEX_NUMERIC_LINALG_H

// Dense linear algebra on 1-based index-range matrices a[1..n][1..n]:
// Crout LU decomposition with partial pivoting and implicit row scaling
// (Numerical Recipes ludcmp/lubksb), an exact zero pivot replaced by 1e-40,
// ties in the pivot search going to the last row.

// a is replaced by its LU factors, indx[1..n] by the interchanges; an
// all-zero row ends the run through nrerror("Sigmatrix in ludcmp").
void ludcmp(double **a, int n, int *indx);

// As ludcmp, and *d = parity of the interchanges (+1 or -1). An all-zero
// row sets *d = 0.0 and returns with a and indx untouched.
void ludcmp2(double **a, int n, int *indx, double *d);

// Solves the factored system in place: b[1..n] holds the right-hand side on
// entry and the solution on return.
void lubksb(double **a, int n, int *indx, double *b);

// Replaces fma[1..nn][1..nn] by its inverse.
void invv(double **fma, int nn);

// Determinant of a[1..n][1..n]; a is destroyed (left holding its LU
// factors, or unchanged when a row is all zero, which gives 0.0).
double Determinant(double **a, int n);

// Rank check of a design x[0..N-1][0..p-1] (0-based) by Gram-Schmidt QR in
// column order with reorthogonalization (each projection done twice):
// every column is scaled to unit length (through its largest absolute value
// first, so nothing overflows), and the first column whose residual after
// projection on the columns before it is shorter than tol makes the design
// rank-deficient (the rule of LINPACK's dqrdc2, which defers such columns).
// Returns that column d and sets involved[c] (c < p) to 1 for d and for every
// earlier column with a coefficient above 1e-6 in d's least-squares
// combination of them, else 0; returns -1 for a design of full rank. A
// column of zeros has length 0 and is dependent on any columns before it.
int dependent_column(double **x, long N, int p, double tol, int *involved);

#endif
