#ifndef QUORVEX_KERNELS_QFC_H
#define QUORVEX_KERNELS_QFC_H

// Distribution function P(Q < c) of Q = sum_j lb[j] chi2(n[j], nc[j]) + sigma X
// by Davies' algorithm (AS 155). Every argument by address; lb1, nc1, n1
// hold r1 terms. trace[0..6] receives diagnostics, ifault the fault code
// (0 success, 1 accuracy not reached, 2 rounding, 3 bad parameters,
// 4 integration parameters not found, 5 out of memory), res the
// probability (-1 on faults 1, 3, 4 and 5).
void qfc(double *lb1, double *nc1, int *n1, int *r1, double *sigma, double *c1, int *lim1,
         double *acc, double *trace, int *ifault, double *res);

#endif
