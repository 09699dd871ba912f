#ifndef QUORVEX_KERNELS_ADAPT_H
#define QUORVEX_KERNELS_ADAPT_H

#include <cstddef>
#include <vector>

// Globally adaptive cubature over the unit cube [0,1]^ndim (Genz and Malik
// 1980; Genz's subregion-adaptive method with a degree-7 fully symmetric
// rule and null-rule error estimates). The regions, their estimates and a
// heap of them by error live in the caller's storage, so a later call can
// continue the same integration. Working state is per thread: one
// integration at a time on each thread, not re-entrant (spare threads that
// help with one evaluate points only). Arrays are 0-based on the C side;
// positions in work are described 1-based (work[lenwrk] is its last cell).

// Integrand: value at z[0..ndim-1].
typedef double (*adapt_integrand)(int *ndim, double *z);

// Estimate of the integral of functn over [0,1]^ndim.
//   mincls  in: >= 0 starts afresh and asks for at least that many
//           evaluations; < 0 continues the integration kept in work.
//           out: evaluations used by this call (the rule size when refused).
//   maxcls  budget of evaluations for this call.
//   fabsreq, relreq  tolerance max(fabsreq, relreq*|finest|).
//   lenwrk, work     caller's storage (work[0..lenwrk-1]), unchanged between
//           the calls of one integration.
//   fabsest, finest  error estimate and estimate.
//   inform__ 0 tolerance met, 1 budget too small, 2 refused (storage below
//           lenrul*(ndim+4) + 10*ndim + 3, maxcls below one rule application
//           or mincls above maxcls: nothing evaluated, outputs untouched).
void adapt_(int *ndim, int *mincls, int *maxcls, adapt_integrand functn, double *fabsreq,
            double *relreq, int *lenwrk, double *work, double *fabsest, double *finest,
            int *inform__);

// Where one engine call stopped and which of its decisions a budget or a
// tolerance could have turned: a caller compares another budget and
// tolerance with these to know whether that call would take the same steps.
struct AdaptTrace {
  long long max_passed;  // largest evaluation count found within the budget (-1: none)
  long long stop_cls;    // evaluation count found above the budget (budget stop), else -1
  double min_missed;     // smallest error estimate found above the tolerance (inf: none)
  double stop_error;     // error estimate found within the tolerance (tolerance stop)
  int stop;              // 0 tolerance met, 1 budget spent, -1 no decision (refused)
};

// The following calls record into *trace (null: no recording).
void adapt_trace(AdaptTrace *trace);

// Continues an integration from inside a call that stopped with inform__ 0:
// the state kept in work is that call's, funcls0 the evaluations it had made
// and mincls its own minimum, so the same loop goes on as if the tolerance
// had been smaller. Arguments otherwise as adapt_ (mincls out: evaluations
// of the whole resumed call, funcls0 included).
void adapt_resume_(int *ndim, int *mincls, int *maxcls, adapt_integrand functn, double *fabsreq,
                   double *relreq, int *lenwrk, double *work, double *fabsest, double *finest,
                   int *inform__, int funcls0);

// The engine's state between two calls of one integration: the live cells
// of work (regions, estimates, heap, count of regions) and the division axis.
struct AdaptCheckpoint {
  std::vector<double> cells;
  int divaxn = 0;
};
void adapt_save(int ndim, int lenwrk, const double *work, AdaptCheckpoint *checkpoint);
void adapt_restore(int ndim, int lenwrk, double *work, const AdaptCheckpoint &checkpoint);

// Order of evaluation. When on (the default), the points of one rule
// application on one mesh cell are evaluated grouped by the coordinates
// where they leave the cell's centre, so consecutive points share long
// prefixes of coordinates (an integrand may reuse a prefix's work); the sums
// still take the values in the rule's own order, so the results are the
// same bits either way. The integrand must not depend on the order of calls.
void adapt_set_ordered(bool ordered);

// Most values evaluated at once for the mesh cells of one step when spare
// threads share an integration (0: the default, 4M); a region with more
// cells is evaluated in groups of cells within the limit. A switch for
// tests, set before any integration; the results are the same bits for
// any limit.
void adapt_set_batch_limit(size_t values);

// Spare threads (numeric/spare_threads.h). When a share function is set,
// the points of a large batch are evaluated in contiguous ranges of the
// evaluation order by this thread and by spare threads waiting at that
// moment; the values are then summed in the rule's order as always, so the
// results are the same bits for any number of threads. A spare thread calls
// share(context, true) before it evaluates a range, to take over the state
// the integrand reads (set up on this thread), and share(context, false)
// after it. The integrand must give the same value for a point whatever it
// evaluated before on its thread. Null (the default): every point here.
typedef void (*adapt_share)(const void *context, bool enter);
void adapt_share_with(adapt_share share, const void *context);

// Building blocks of the engine, used by adapt_ and exposed for testing.
// Arrays follow the Fortran layout: w is lenrul x 4 column-major
// (w[(k-1)*lenrul + i-1] = W(i,k)), g is ndim x lenrul column-major.

// Rule weights w and generators g for dimension ndim (lenrul generators).
void bsinit_(int *ndim, double *w, int *lenrul, double *g);

// Turns columns 2..numnul of w into orthogonal null rules of the norm of the
// basic rule (column 1), then divides them by rulcon.
void rulnrm_(int *lenrul, int *numnul, int *rulpts, double *w, double *rulcon);

// Basic rule and error estimate on the region a..b divided into mesh cells
// of half-widths width; center and z__ are ndim scratch vectors.
void basrul_(int *ndim, double *a, double *b, double *width, adapt_integrand functn, double *w,
             int *lenrul, double *g, double *center, double *z__, double *rgnert, double *basest);

// Sum of f over the fully symmetric point set of generator g (all distinct
// permutations and sign changes) around center, scaled by hwidth; x is an s
// vector of scratch. g is restored on return.
double fulsum_(int *s, double *center, double *hwidth, double *x, double *g,
               adapt_integrand f);

// Fourth differences of functn along each axis over the mesh cells of a..b;
// chooses the division axis divaxn (starting from the cyclic successor of
// the previous one); dif and z__ are ndim scratch vectors; difcls receives
// the evaluations made.
void differ_(int *ndim, double *a, double *b, double *width, double *z__, double *dif,
             adapt_integrand functn, int *divaxn, int *difcls);

// Restores the max-heap pontrs[0..sbrgns-1] of region numbers keyed by
// rgners (1-based region numbers) after region pointr changed at the top
// or was appended at position sbrgns.
void trestr_(int *pointr, int *sbrgns, double *pontrs, double *rgners);

#endif
