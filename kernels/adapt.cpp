#include "kernels/adapt.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include "numeric/spare_threads.h"

// Subregion-adaptive cubature (Genz and Malik 1980, Genz's degree-7 fully
// symmetric rule with three null rules). Positions in the comments are
// 1-based, as in the storage layout; the code indexes 0-based arrays.

namespace {

const int kNumNull = 4;  // basic rule plus three comparison rules

// The engine's state below is thread_local: each thread integrates on its own.

// Rule parameters, recomputed by every bsinit_ call.
thread_local double lam1, lam2, lam3, lamp, rulcon;
thread_local int rulpts[6];

// Storage partition and sizes of the current integration.
thread_local int lenrul, rulcls, mxrgns, sbrgns;
thread_local int inerrs, invals, inptrs, inlwrs, inuprs, inmshs, inwgts, inpnts, inlowr, inuppr, inwdth,
    inmesh, inwork;

// State of the adaptive loop; divaxn carries over into continuation calls.
thread_local int divaxn, funcls, rgncls, nwrgns, top, difcls;

// Recording of the call's decisions, and the count a resumed call starts
// from (-1: an ordinary call).
thread_local AdaptTrace *trace = nullptr;
thread_local int resume_funcls = -1;

// Values evaluated at once for the cells of one step (32 MiB of them); a
// region with more cells is evaluated in groups of cells of at most this
// many values (batch_limit: the same, or a test's smaller limit).
const size_t kMaxCellsBatch = 1u << 22;
size_t batch_limit = kMaxCellsBatch;

// Ordered evaluation: the points of one batch (row t at batch_pts[t*ndim])
// and their values.
bool ordered = true;  // a switch for tests, set before any integration
thread_local std::vector<double> batch_pts, batch_vals;
// Sizes of the sign-change groups in recording order, and the number of
// groups up to the end of each generator.
thread_local std::vector<int> batch_groups, batch_generator_end;
// Evaluation order (recording positions) for batches of batch_order_size
// points of dimension batch_order_ndim: every rule application of one
// dimension records its points in the same pattern, so the order found for
// the first serves them all (any order gives the same values).
thread_local std::vector<int> batch_order;
thread_local int batch_order_ndim = 0;
thread_local size_t batch_order_size = 0;

// How a spare thread takes over the integrand of this thread's integration
// (none: every point is evaluated here).
thread_local adapt_share share_fn = nullptr;
thread_local const void *share_context = nullptr;

// The points of generator g around center, permutation by permutation and
// within one permutation sign change by sign change: visit(x) for each point,
// visit(nullptr) after each permutation's group. g is restored on return.
template <class Visit>
void walk_fully_symmetric(int n, const double *center, const double *hwidth, double *x,
                          double *g, Visit &&visit) {
  for (;;) {
    // The sign changes of this permutation (one centrally symmetric group).
    for (int i = 0; i < n; i++) x[i] = center[i] + g[i] * hwidth[i];
    for (;;) {
      visit(x);
      bool next = false;
      for (int i = 0; i < n; i++) {
        g[i] = -g[i];
        x[i] = center[i] + g[i] * hwidth[i];
        if (g[i] < 0.0) {
          next = true;
          break;
        }
      }
      if (!next) break;
    }
    visit(nullptr);
    // Next distinct permutation in reverse lexicographic order (1-based i).
    bool permuted = false;
    for (int i = 2; i <= n; i++) {
      if (g[i - 2] > g[i - 1]) {
        const double gi = g[i - 1];
        int ixchng = i - 1;
        int lxchng = 1;
        for (int l = 1; l <= (i - 1) / 2; l++) {
          const double gl = g[l - 1];
          g[l - 1] = g[i - l - 1];
          g[i - l - 1] = gl;
          if (gl <= gi) ixchng--;
          if (g[l - 1] > gi) lxchng = l;
        }
        if (g[ixchng - 1] <= gi) ixchng = lxchng;
        g[i - 1] = g[ixchng - 1];
        g[ixchng - 1] = gi;
        permuted = true;
        break;
      }
    }
    if (!permuted) break;
  }
  // Restore the generator's stored order.
  for (int i = 1; i <= n / 2; i++) {
    const double gi = g[i - 1];
    g[i - 1] = g[n - i];
    g[n - i] = gi;
  }
}

// Sort key of a recorded point: the first and second coordinates where it
// differs from the reference point (its cell's centre) and its values there;
// a point that differs in more coordinates is ordered by all of them.
struct BatchKey {
  int i, j;
  double xi, xj;
  int more;  // differs in a third coordinate
  int t;     // recording position
};
thread_local std::vector<BatchKey> batch_keys;

bool same_bits(double x, double y) { return std::memcmp(&x, &y, sizeof x) == 0; }

void find_order(int nd, size_t count, const double *pts, const double *center);

// A batch is split between threads only in parts of at least this many
// coordinates (points times dimension): about 100 microseconds of
// integrand work, several times what handing a part to a waiting thread
// costs.
const long kMinPartWork = 4000;

// Parts to evaluate a batch of count points of dimension nd in: one (this
// thread alone) unless spare threads wait now and the batch is large.
int split_parts(int nd, size_t count) {
  if (!share_fn) return 1;
  const int spare = spare_threads_waiting();
  if (spare == 0) return 1;
  const long work = static_cast<long>(count) * nd;
  const long most = work / kMinPartWork;
  return static_cast<int>(std::min<long>(spare + 1, most));
}

// The points of many mesh cells (a group of cells is up to seconds of work)
// go in up to kCellPartsPerThread parts per thread, each of at least
// kMinCellPartWork coordinates (over a millisecond, where handing a part on
// costs microseconds): the parts are claimed in turn, so a thread that the
// machine runs slower for a while (other programs on its CPU) takes fewer.
const int kCellPartsPerThread = 8;
const long kMinCellPartWork = 16 * kMinPartWork;

int cell_parts(int nd, size_t count) {
  const int parts = split_parts(nd, count);
  if (parts <= 1) return parts;
  const long finer = static_cast<long>(count) * nd / kMinCellPartWork;
  return static_cast<int>(
      std::max<long>(parts, std::min<long>(static_cast<long>(parts) * kCellPartsPerThread, finer)));
}

// vals[t] = functn(point t) for the count points of dimension nd at pts,
// taken in the order order[0 .. count-1] (null: 0 .. count-1), in `parts`
// contiguous ranges of that order, each evaluated in order by one thread
// (this one, or a spare one that takes over the integrand). Every value
// lands in its own cell, and the sums that follow take them in the rule's
// order, so the results are the same bits as on one thread.
void evaluate_split(int nd, size_t count, int parts, const int *order, const double *pts,
                    double *vals, adapt_integrand functn) {
  const adapt_share share = share_fn;
  const void *context = share_context;
  const std::thread::id caller = std::this_thread::get_id();
  run_chunks(parts, [=](int part) {
    const size_t lo = count * static_cast<size_t>(part) / static_cast<size_t>(parts);
    const size_t hi = count * static_cast<size_t>(part + 1) / static_cast<size_t>(parts);
    const bool spare = std::this_thread::get_id() != caller;
    if (spare) share(context, true);
    int dim = nd;
    for (size_t k = lo; k < hi; k++) {
      const size_t t = order ? static_cast<size_t>(order[k]) : k;
      vals[t] = functn(&dim, const_cast<double *>(pts) + t * static_cast<size_t>(nd));
    }
    if (spare) share(context, false);
  });
}

// Evaluates functn at every recorded point into batch_vals (recording
// order). The points are visited grouped by their first and second
// coordinates off the centre (and in lexicographic order where they differ
// in more), so that consecutive points share long prefixes of coordinates.
void batch_evaluate(int *ndim, adapt_integrand functn, const double *center) {
  const int nd = *ndim;
  const size_t count = batch_pts.size() / static_cast<size_t>(nd);
  batch_vals.resize(count);
  double *pts = batch_pts.data();
  if (batch_order_ndim != nd || batch_order_size != count) {
    find_order(nd, count, pts, center);
    batch_order_ndim = nd;
    batch_order_size = count;
  }
  const int parts = split_parts(nd, count);
  if (parts > 1) {
    // The thread_local storage of this thread goes by address: a spare
    // thread must not name its own.
    evaluate_split(nd, count, parts, batch_order.data(), pts, batch_vals.data(), functn);
    return;
  }
  for (int t : batch_order)
    batch_vals[static_cast<size_t>(t)] = functn(ndim, pts + static_cast<size_t>(t) * nd);
}

// batch_order for the recorded points: sorted by their keys.
void find_order(int nd, size_t count, const double *pts, const double *center) {
  batch_keys.resize(count);
  for (size_t t = 0; t < count; t++) {
    const double *x = pts + t * nd;
    BatchKey k{nd, nd, 0.0, 0.0, 0, static_cast<int>(t)};
    int found = 0;
    for (int c = 0; c < nd && found < 3; c++) {
      if (same_bits(x[c], center[c])) continue;
      if (found == 0) {
        k.i = c;
        k.xi = x[c];
      } else if (found == 1) {
        k.j = c;
        k.xj = x[c];
      } else {
        k.more = 1;
      }
      found++;
    }
    batch_keys[t] = k;
  }
  std::sort(batch_keys.begin(), batch_keys.end(), [pts, nd](const BatchKey &u, const BatchKey &v) {
    if (u.more != v.more) return u.more < v.more;
    if (u.more) {
      const double *x = pts + static_cast<size_t>(u.t) * nd;
      const double *y = pts + static_cast<size_t>(v.t) * nd;
      for (int c = 0; c < nd; c++) {
        if (x[c] < y[c]) return true;
        if (y[c] < x[c]) return false;
      }
      return u.t < v.t;
    }
    if (u.i != v.i) return u.i < v.i;
    if (u.xi != v.xi) return u.xi < v.xi;
    if (u.j != v.j) return u.j < v.j;
    if (u.xj != v.xj) return u.xj < v.xj;
    return u.t < v.t;
  });
  batch_order.resize(count);
  for (size_t k = 0; k < count; k++) batch_order[k] = batch_keys[k].t;
}

size_t evaluate_regions(int nd, int lr, int nregions, const double *const *a,
                        const double *const *b, const double *width, double *g, double *z__,
                        adapt_integrand functn);
size_t region_cells(int nd, const double *a, const double *b, const double *width);
void basrul_values(int *ndim, double *a, double *b, double *width, adapt_integrand functn,
                   double *w, int *lenrul_, double *g, double *center, double *z__,
                   double *rgnert, double *basest, const double *given, size_t given_per_cell);

// Ordered evaluation pays from this dimension on; below it the points share
// too little for the recording to be worth it (the values are the same).
const int kOrderedMinDim = 3;
bool use_batches(int nd) { return ordered && nd >= kOrderedMinDim; }

// rgncls * (m + 1) / m truncated, without integer overflow.
int grow_count(int count, double m) {
  const long long mi = static_cast<long long>(m);
  return static_cast<int>(static_cast<long long>(count) * (mi + 1) / mi);
}

// The adaptive loop on the partitioned storage (all arrays 0-based views of
// their blocks; region r's corner on axis i at lowers[(r-1)*ndim + i-1]).
void adbase_(int *ndim, int *mincls, int *maxcls, adapt_integrand functn, double *fabsreq,
             double *relreq, double *fabsest, double *finest, int *sbrgns_, int *mxrgns_,
             int *rulcls_, int *lenrul_, double *errors, double *values, double *pontrs,
             double *lowers, double *uppers, double *meshes, double *weghts, double *points,
             double *lower, double *upper, double *width, double *mesh, double *work,
             int *inform__) {
  const int nd = *ndim;
  double *center = work;
  double *scratch = work + nd;
  *inform__ = 2;
  funcls = 0;
  bsinit_(ndim, weghts, lenrul_, points);
  if (resume_funcls >= 0) {
    funcls = resume_funcls;
  } else if (*mincls >= 0) {
    // Fresh start: the whole cube, its mesh refined while the minimum count
    // allows, then split into one region per mesh cell if the store holds them.
    *sbrgns_ = 0;
    pontrs[0] = 0.0;  // no stale region number may look like the heap's top
    for (int i = 0; i < nd; i++) {
      lower[i] = 0.0;
      mesh[i] = 1.0;
      width[i] = 1.0 / (2.0 * mesh[i]);
      upper[i] = 1.0;
    }
    divaxn = 0;
    rgncls = *rulcls_;
    nwrgns = 1;
    for (;;) {
      differ_(ndim, lower, upper, width, center, scratch, functn, &divaxn, &difcls);
      funcls += difcls;
      const double m = mesh[divaxn - 1];
      if (static_cast<long long>(funcls) + grow_count(rgncls, m) > *mincls) break;
      rgncls = grow_count(rgncls, m);
      nwrgns = grow_count(nwrgns, m);
      mesh[divaxn - 1] = m + 1.0;
      width[divaxn - 1] = 1.0 / (2.0 * mesh[divaxn - 1]);
    }
    const bool split = nwrgns <= *mxrgns_;
    if (split) {
      for (int i = 0; i < nd; i++) {
        upper[i] = lower[i] + 2.0 * width[i];
        mesh[i] = 1.0;
      }
    }
    for (;;) {
      ++*sbrgns_;
      const int r = *sbrgns_;
      basrul_(ndim, lower, upper, width, functn, weghts, lenrul_, points, center, scratch,
              &errors[r - 1], &values[r - 1]);
      trestr_(sbrgns_, sbrgns_, pontrs, errors);
      for (int i = 0; i < nd; i++) {
        lowers[(r - 1) * nd + i] = lower[i];
        uppers[(r - 1) * nd + i] = upper[i];
        meshes[(r - 1) * nd + i] = mesh[i];
      }
      bool more = false;
      for (int i = 0; i < nd; i++) {
        lower[i] = upper[i];
        upper[i] = lower[i] + 2.0 * width[i];
        if (lower[i] + width[i] < 1.0) {
          more = true;
          break;
        }
        lower[i] = 0.0;
        upper[i] = lower[i] + 2.0 * width[i];
      }
      if (!more) break;
    }
    // Count what was evaluated: one rule application per region, or the
    // whole mesh of the single region kept when the store is too small.
    funcls += split ? *sbrgns_ * *rulcls_ : rgncls;
  }
  for (;;) {
    // Termination test on sums taken afresh in region order.
    *finest = 0.0;
    *fabsest = 0.0;
    for (int i = 0; i < *sbrgns_; i++) {
      *finest += values[i];
      *fabsest += errors[i];
    }
    if (*fabsest <= std::fmax(*fabsreq, *relreq * std::fabs(*finest)) && funcls >= *mincls) {
      *inform__ = 0;
      if (trace) {
        trace->stop = 0;
        trace->stop_error = *fabsest;
      }
      break;
    }
    if (trace && funcls >= *mincls && *fabsest < trace->min_missed) trace->min_missed = *fabsest;
    // The region of largest error, its division axis and the cost of
    // applying the rule to its two halves (or to its refined mesh).
    top = static_cast<int>(pontrs[0]);
    long long cls = *rulcls_;
    for (int i = 0; i < nd; i++) {
      lower[i] = lowers[(top - 1) * nd + i];
      upper[i] = uppers[(top - 1) * nd + i];
      mesh[i] = meshes[(top - 1) * nd + i];
      width[i] = (upper[i] - lower[i]) / (2.0 * mesh[i]);
      cls *= static_cast<long long>(mesh[i]);
    }
    differ_(ndim, lower, upper, width, center, scratch, functn, &divaxn, &difcls);
    funcls += difcls;
    const long long md = static_cast<long long>(mesh[divaxn - 1]);
    cls = cls * (md + 1) / md;
    if (funcls + cls > *maxcls) {
      *inform__ = 1;
      if (trace) {
        trace->stop = 1;
        trace->stop_cls = funcls + cls;
      }
      break;
    }
    if (trace && funcls + cls > trace->max_passed) trace->max_passed = funcls + cls;
    rgncls = static_cast<int>(cls);
    if (*sbrgns_ < *mxrgns_) {
      // Bisect along divaxn into top and a new region sbrgns + 1.
      nwrgns = 1;
      width[divaxn - 1] /= 2.0;
      const int r = *sbrgns_ + 1;
      for (int i = 0; i < nd; i++) {
        lowers[(r - 1) * nd + i] = lower[i];
        uppers[(r - 1) * nd + i] = upper[i];
        meshes[(r - 1) * nd + i] = mesh[i];
      }
      uppers[(top - 1) * nd + divaxn - 1] = lower[divaxn - 1] + 2.0 * width[divaxn - 1];
      lowers[(r - 1) * nd + divaxn - 1] = uppers[(top - 1) * nd + divaxn - 1];
    } else {
      // Store full: one more mesh cell along divaxn in place.
      nwrgns = 0;
      width[divaxn - 1] = width[divaxn - 1] * mesh[divaxn - 1] / (mesh[divaxn - 1] + 1.0);
      meshes[(top - 1) * nd + divaxn - 1] = mesh[divaxn - 1] + 1.0;
    }
    funcls += rgncls;
    // The rule on the changed region and the new one. When spare threads
    // wait, the points of both are evaluated in one split first (the heap
    // updates read no estimate of the new region before its own turn).
    double *region_lower[2] = {&lowers[(top - 1) * nd], nwrgns ? &lowers[*sbrgns_ * nd] : nullptr};
    double *region_upper[2] = {&uppers[(top - 1) * nd], nwrgns ? &uppers[*sbrgns_ * nd] : nullptr};
    size_t per_cell = 0, top_cells = 0;
    if (use_batches(nd) && share_fn && spare_threads_waiting() > 0) {
      per_cell = evaluate_regions(nd, *lenrul_, 1 + nwrgns, region_lower, region_upper, width,
                                  points, scratch, functn);
      if (per_cell > 0) top_cells = region_cells(nd, region_lower[0], region_upper[0], width);
    }
    const double *vals = per_cell > 0 ? batch_vals.data() : nullptr;
    basrul_values(ndim, region_lower[0], region_upper[0], width, functn, weghts, lenrul_, points,
                  center, scratch, &errors[top - 1], &values[top - 1], vals, per_cell);
    trestr_(&top, sbrgns_, pontrs, errors);
    for (int r = *sbrgns_ + 1; r <= *sbrgns_ + nwrgns; r++) {
      basrul_values(ndim, region_lower[1], region_upper[1], width, functn, weghts, lenrul_,
                    points, center, scratch, &errors[r - 1], &values[r - 1],
                    vals ? vals + top_cells * per_cell : nullptr, per_cell);
      int rr = r;
      trestr_(&rr, &rr, pontrs, errors);
    }
    *sbrgns_ += nwrgns;
  }
  *mincls = funcls;
}

}  // namespace

void adapt_(int *ndim, int *mincls, int *maxcls, adapt_integrand functn, double *fabsreq,
            double *relreq, int *lenwrk, double *work, double *fabsest, double *finest,
            int *inform__) {
  const int nd = *ndim;
  // Rule size; 2^ndim is computed in floating point and truncated.
  if (nd == 1) {
    lenrul = 5;
    rulcls = 9;
  } else if (nd < 12) {
    lenrul = 6;
    rulcls = static_cast<int>(std::pow(2.0, nd)) + 2 * nd * (nd + 2) + 1;
  } else {
    lenrul = 6;
    rulcls = 2 * nd * (2 * nd + 1) + 1;
  }
  if (*lenwrk >= lenrul * (nd + 4) + nd * 10 + 3 && rulcls <= *maxcls && *mincls <= *maxcls) {
    // Partition of the storage (1-based positions).
    mxrgns = (*lenwrk - lenrul * (nd + 4) - nd * 7) / (nd * 3 + 3);
    inerrs = 1;
    invals = inerrs + mxrgns;
    inptrs = invals + mxrgns;
    inlwrs = inptrs + mxrgns;
    inuprs = inlwrs + mxrgns * nd;
    inmshs = inuprs + mxrgns * nd;
    inwgts = inmshs + mxrgns * nd;
    inpnts = inwgts + lenrul * 4;
    inlowr = inpnts + lenrul * nd;
    inuppr = inlowr + nd;
    inwdth = inuppr + nd;
    inmesh = inwdth + nd;
    inwork = inmesh + nd;
    if (*mincls < 0 || resume_funcls >= 0) sbrgns = static_cast<int>(work[*lenwrk - 1]);
    adbase_(ndim, mincls, maxcls, functn, fabsreq, relreq, fabsest, finest, &sbrgns, &mxrgns,
            &rulcls, &lenrul, &work[inerrs - 1], &work[invals - 1], &work[inptrs - 1],
            &work[inlwrs - 1], &work[inuprs - 1], &work[inmshs - 1], &work[inwgts - 1],
            &work[inpnts - 1], &work[inlowr - 1], &work[inuppr - 1], &work[inwdth - 1],
            &work[inmesh - 1], &work[inwork - 1], inform__);
    work[*lenwrk - 1] = sbrgns;
  } else {
    *inform__ = 2;
    *mincls = rulcls;
  }
}

void adapt_resume_(int *ndim, int *mincls, int *maxcls, adapt_integrand functn, double *fabsreq,
                   double *relreq, int *lenwrk, double *work, double *fabsest, double *finest,
                   int *inform__, int funcls0) {
  resume_funcls = funcls0;
  adapt_(ndim, mincls, maxcls, functn, fabsreq, relreq, lenwrk, work, fabsest, finest, inform__);
  resume_funcls = -1;
}

void adapt_trace(AdaptTrace *t) { trace = t; }

void adapt_set_ordered(bool on) { ordered = on; }

void adapt_set_batch_limit(size_t values) { batch_limit = values > 0 ? values : kMaxCellsBatch; }

void adapt_share_with(adapt_share share, const void *context) {
  share_fn = share;
  share_context = context;
}

namespace {

// The live blocks of work for ndim, lenwrk and sbrgns regions, as (first
// 0-based cell, length) pairs: errors, values and heap, then corners and
// meshes of the regions, then the count of regions in the last cell.
std::vector<std::pair<int, int>> live_blocks(int nd, int lenwrk, int regions) {
  const int lr = nd == 1 ? 5 : 6;
  const int mx = (lenwrk - lr * (nd + 4) - nd * 7) / (nd * 3 + 3);
  std::vector<std::pair<int, int>> blocks;
  for (int k = 0; k < 3; k++) blocks.emplace_back(k * mx, regions);
  for (int k = 0; k < 3; k++) blocks.emplace_back(3 * mx + k * mx * nd, regions * nd);
  blocks.emplace_back(lenwrk - 1, 1);
  return blocks;
}

}  // namespace

void adapt_save(int ndim, int lenwrk, const double *work, AdaptCheckpoint *checkpoint) {
  const int regions = static_cast<int>(work[lenwrk - 1]);
  checkpoint->cells.clear();
  for (const auto &b : live_blocks(ndim, lenwrk, regions))
    checkpoint->cells.insert(checkpoint->cells.end(), work + b.first, work + b.first + b.second);
  checkpoint->divaxn = divaxn;
}

void adapt_restore(int ndim, int lenwrk, double *work, const AdaptCheckpoint &checkpoint) {
  const int regions = static_cast<int>(checkpoint.cells.back());
  size_t at = 0;
  for (const auto &b : live_blocks(ndim, lenwrk, regions)) {
    std::copy(checkpoint.cells.begin() + static_cast<long>(at),
              checkpoint.cells.begin() + static_cast<long>(at + b.second), work + b.first);
    at += static_cast<size_t>(b.second);
  }
  divaxn = checkpoint.divaxn;
}

void bsinit_(int *ndim, double *w, int *lenrul_, double *g) {
  const int nd = *ndim;
  const int lr = *lenrul_;
  auto W = [&](int i, int k) -> double & { return w[(k - 1) * lr + (i - 1)]; };
  auto G = [&](int i, int j) -> double & { return g[(j - 1) * nd + (i - 1)]; };
  for (int j = 1; j <= lr; j++) {
    for (int i = 1; i <= nd; i++) G(i, j) = 0.0;
    for (int k = 1; k <= kNumNull; k++) W(j, k) = 0.0;
  }
  rulpts[4] = 2 * nd * (nd - 1);
  rulpts[3] = 2 * nd;
  rulpts[2] = 2 * nd;
  rulpts[1] = 2 * nd;
  rulpts[0] = 1;
  // 0.85 and 0.4707 held in single precision and widened; lam2 = 4/(15 - 5/lam3).
  lamp = 0.8500000238418579;
  lam3 = 0.4706999957561493;
  lam2 = 0.9137588164001152;
  W(5, 1) = 0.009708932700129751;  // (3 - 5 lam3)/(180 (lam2 - lam3) lam2^2)
  if (nd < 12) {
    lam1 = 0.16488248047920093;  // 8 lam3 (31 lam3 - 15)/((3 lam3 - 1)(5 lam3 - 3) 35)
    W(lr, 1) = 0.3551433219313008 / std::pow(2.0, nd);  // 1/(3 lam3)^3 / 2^ndim
  } else {
    // (35 (ndim-1)(lam2 - lam3)/9 + lam3 (15 - 21 lam2)) /
    // (35 (ndim-1)(lam2/lam3 - 1)/9 + lam3 (21 - 35 lam2))
    lam1 = (35.0 * (nd - 1) * 0.44305882064396596 / 9.0 - 1.9717317546930044) /
           (35.0 * (nd - 1) * 0.9412764492003456 / 9.0 - 5.169019574179603);
    W(6, 1) = 0.0887858304828252;  // 1/(4 (3 lam3)^3)
  }
  W(3, 1) = (15.0 - 21.0 * (lam3 + lam1) + 35.0 * lam3 * lam1) /
                (210.0 * lam2 * (lam2 - lam3) * (lam2 - lam1)) -
            2.0 * (nd - 1) * W(5, 1);
  W(2, 1) = (15.0 - 21.0 * (lam3 + lam2) + 35.0 * lam3 * lam2) /
            (210.0 * lam1 * (lam1 - lam3) * (lam1 - lam2));
  if (nd < 12) {
    rulpts[lr - 1] = static_cast<int>(std::pow(2.0, nd));
    lam3 = std::sqrt(lam3);
    for (int i = 1; i <= nd; i++) G(i, lr) = lam3;
  } else {
    const double t = 3.0 * lam3;
    W(6, 1) = 1.0 / (4.0 * (t * t * t));
    rulpts[5] = 2 * nd * (nd - 1);
    lam3 = std::sqrt(lam3);
    G(1, 6) = lam3;
    G(2, 6) = lam3;
  }
  if (nd > 1) {
    W(5, 2) = 1.0 / ((6.0 * lam2) * (6.0 * lam2));
    W(5, 3) = 1.0 / ((6.0 * lam2) * (6.0 * lam2));
  }
  W(3, 2) = (3.0 - 5.0 * lam1) / (30.0 * lam2 * (lam2 - lam1)) - 2.0 * (nd - 1) * W(5, 2);
  W(2, 2) = (3.0 - 5.0 * lam2) / (30.0 * lam1 * (lam1 - lam2));
  W(4, 3) = (3.0 - 5.0 * lam2) / (30.0 * lamp * (lamp - lam2));
  W(3, 3) = (3.0 - 5.0 * lamp) / (30.0 * lam2 * (lam2 - lamp)) - 2.0 * (nd - 1) * W(5, 3);
  W(2, 4) = 1.0 / (6.0 * lam1);
  lamp = std::sqrt(lamp);
  lam2 = std::sqrt(lam2);
  lam1 = std::sqrt(lam1);
  G(1, 2) = lam1;
  G(1, 3) = lam2;
  G(1, 4) = lamp;
  if (nd > 1) {
    G(1, 5) = lam2;
    G(2, 5) = lam2;
  }
  for (int k = 1; k <= kNumNull; k++) {
    W(1, k) = 1.0;
    for (int i = 2; i <= lr; i++) W(1, k) -= rulpts[i - 1] * W(i, k);
  }
  rulcon = 2.0;
  int numnul = kNumNull;
  rulnrm_(lenrul_, &numnul, rulpts, w, &rulcon);
}

void rulnrm_(int *lenrul_, int *numnul, int *rulpts_, double *w, double *rulcon_) {
  const int lr = *lenrul_;
  auto W = [&](int i, int k) -> double & { return w[(k - 1) * lr + (i - 1)]; };
  double normcf = 0.0;
  for (int i = 1; i <= lr; i++) normcf += rulpts_[i - 1] * W(i, 1) * W(i, 1);
  for (int k = 2; k <= *numnul; k++) {
    for (int i = 1; i <= lr; i++) W(i, k) -= W(i, 1);
    for (int j = 2; j <= k - 1; j++) {
      double alpha = 0.0;
      for (int i = 1; i <= lr; i++) alpha += rulpts_[i - 1] * W(i, j) * W(i, k);
      alpha = -alpha / normcf;
      for (int i = 1; i <= lr; i++) W(i, k) += alpha * W(i, j);
    }
    double normnl = 0.0;
    for (int i = 1; i <= lr; i++) normnl += rulpts_[i - 1] * W(i, k) * W(i, k);
    for (int i = 1; i <= lr; i++) W(i, k) *= std::sqrt(normcf / normnl);
  }
  for (int k = 2; k <= *numnul; k++)
    for (int i = 1; i <= lr; i++) W(i, k) /= *rulcon_;
}

namespace {

// The next mesh cell of a region after center (false: none left; center
// back at the first).
bool next_cell(int nd, const double *a, const double *b, const double *width, double *center) {
  for (int i = 0; i < nd; i++) {
    center[i] += 2.0 * width[i];
    if (center[i] < b[i]) return true;
    center[i] = a[i] + width[i];
  }
  return false;
}

// Records the points of one rule application around center into batch_pts
// (appended) and, when groups is set, the sizes of its sign-change groups.
void record_cell(int nd, int lr, const double *center, const double *width, double *g,
                 double *z__, bool groups) {
  for (int i = 0; i < lr; i++) {
    int size = 0;
    walk_fully_symmetric(nd, center, width, z__, &g[i * nd], [&](double *point) {
      if (point) {
        batch_pts.insert(batch_pts.end(), point, point + nd);
        size++;
      } else if (groups) {
        batch_groups.push_back(size);
        size = 0;
      }
    });
    if (groups) batch_generator_end.push_back(static_cast<int>(batch_groups.size()));
  }
}

// The cells' centres, and the points of one rule application around the
// origin with unit half-widths in recording order (row k: the generator's
// coordinates with their signs at point k) for the generators in
// pattern_g. A point of a cell is its centre plus the row times the
// half-widths, coordinate by coordinate: the sum walk_fully_symmetric
// forms (a zero coordinate adds a zero), so the same bits, and a thread
// evaluating a range forms its points itself instead of the calling thread
// recording every point first.
thread_local std::vector<double> region_centers, pattern, pattern_g;

void make_pattern(int nd, int lr, double *g) {
  const size_t size = static_cast<size_t>(lr) * static_cast<size_t>(nd);
  if (pattern_g.size() == size && std::equal(g, g + size, pattern_g.begin(), same_bits) &&
      !pattern.empty())
    return;
  pattern_g.assign(g, g + size);
  pattern.clear();
  const std::vector<double> origin(static_cast<size_t>(nd), 0.0), unit(static_cast<size_t>(nd), 1.0);
  std::vector<double> x(static_cast<size_t>(nd)), gen(size);
  std::copy(g, g + size, gen.begin());  // a walk changes the signs of zeros
  for (int i = 0; i < lr; i++)
    walk_fully_symmetric(nd, origin.data(), unit.data(), x.data(), &gen[i * nd],
                         [&](double *point) {
                           if (point) pattern.insert(pattern.end(), point, point + nd);
                         });
}

// The generators g and the scratch vector z__ as `walks` more recordings
// (walks >= 1, the last around last_center) leave them: a walk restores the
// generators' values but may change the signs of their zero coordinates,
// which are part of the caller's storage. What a walk leaves depends only on
// the state it starts from, so the states s0, s1, ... of a generator repeat
// from the first one met twice (for 18 variables every 2, 10 or 210 walks).
// The cycles found are kept, and the state before the last walk is read off
// its cycle; a generator whose states do not repeat within kMaxCycleStates
// walks makes every walk.
const size_t kMaxCycleStates = 4096;

// Cycles of generator states: the states of one cycle in walk order (the
// walk of the last gives the first), ndim values each.
struct StateCycle {
  int nd;
  std::vector<double> states;
};
thread_local std::vector<StateCycle> state_cycles;

// The position of the state s of nd values in a kept cycle (false: none).
bool find_in_cycles(int nd, const double *s, const StateCycle **cycle, size_t *position) {
  const size_t n = static_cast<size_t>(nd);
  for (const StateCycle &c : state_cycles) {
    if (c.nd != nd) continue;
    for (size_t k = 0; k * n < c.states.size(); k++) {
      if (std::memcmp(s, &c.states[k * n], n * sizeof(double)) == 0) {
        *cycle = &c;
        *position = k;
        return true;
      }
    }
  }
  return false;
}

void advance_generators(int nd, int lr, double *g, size_t walks, const double *last_center,
                        const double *width, double *z__) {
  const std::vector<double> origin(static_cast<size_t>(nd), 0.0), unit(static_cast<size_t>(nd), 1.0);
  std::vector<double> x(static_cast<size_t>(nd));
  const size_t n = static_cast<size_t>(nd);
  const size_t before_last = walks - 1;
  std::vector<double> states;  // s0, s1, ... of the generator, while they are searched
  for (int i = 0; i < lr; i++) {
    double *gi = &g[i * nd];
    const StateCycle *cycle = nullptr;
    size_t position = 0;
    if (before_last > 0 && !find_in_cycles(nd, gi, &cycle, &position)) {
      states.assign(gi, gi + n);
      // gi holds state k.
      for (size_t k = 0; k < before_last;) {
        walk_fully_symmetric(nd, origin.data(), unit.data(), x.data(), gi, [](double *) {});
        k++;
        if (states.size() >= kMaxCycleStates * n) continue;
        size_t j = 0;
        while (j * n < states.size() && std::memcmp(gi, &states[j * n], n * sizeof(double)) != 0) j++;
        if (j * n < states.size()) {
          // State k is state j: from j on the states repeat every k - j
          // walks (the states j .. k-1 searched).
          StateCycle found{nd, std::vector<double>(states.begin() + static_cast<long>(j * n),
                                                   states.end())};
          const size_t at = (before_last - j) % (k - j);
          std::copy(&found.states[at * n], &found.states[at * n] + n, gi);
          state_cycles.push_back(std::move(found));
          break;
        }
        states.insert(states.end(), gi, gi + n);
      }
    }
    if (cycle) {
      const size_t period = cycle->states.size() / n;
      const size_t at = (position + before_last) % period;
      std::copy(&cycle->states[at * n], &cycle->states[at * n] + n, gi);
    }
    if (i == lr - 1)
      walk_fully_symmetric(nd, last_center, width, z__, gi, [](double *) {});
    else
      walk_fully_symmetric(nd, origin.data(), unit.data(), x.data(), gi, [](double *) {});
  }
}

// Evaluates the points of one rule application on each of `cells` mesh
// cells of half-widths width, cell j's centre at cen[j * nd], into
// batch_vals (cell j's values from j * per_cell on, in recording order),
// each cell in batch_order, in contiguous ranges split between this thread
// and the spare threads waiting now. A thread forms each point itself from
// its cell's centre and the pattern. batch_order and pattern must be those
// of the rule (per_cell points).
void evaluate_cells(int nd, size_t cells, size_t per_cell, const double *cen,
                    const double *width, adapt_integrand functn) {
  const size_t count = cells * per_cell;
  batch_vals.resize(count);
  // The thread_local storage of this thread goes by address: a spare thread
  // must not name its own.
  const int parts = std::max(1, cell_parts(nd, count));
  const adapt_share share = share_fn;
  const void *context = share_context;
  const std::thread::id caller = std::this_thread::get_id();
  const double *pat = pattern.data();
  const int *order = batch_order.data();
  double *vals = batch_vals.data();
  run_chunks(parts, [=](int part) {
    const size_t lo = count * static_cast<size_t>(part) / static_cast<size_t>(parts);
    const size_t hi = count * static_cast<size_t>(part + 1) / static_cast<size_t>(parts);
    const bool spare = std::this_thread::get_id() != caller;
    if (spare) share(context, true);
    std::vector<double> x(static_cast<size_t>(nd));
    int dim = nd;
    for (size_t q = lo; q < hi; q++) {
      const size_t j = q / per_cell;
      const size_t k = static_cast<size_t>(order[q % per_cell]);
      const double *c = cen + j * static_cast<size_t>(nd);
      const double *row = pat + k * static_cast<size_t>(nd);
      for (int i = 0; i < nd; i++) x[static_cast<size_t>(i)] = c[i] + row[i] * width[i];
      vals[j * per_cell + k] = functn(&dim, x.data());
    }
    if (spare) share(context, false);
  });
}

// Records the first cell's points around center (the sign-change groups
// for the sums) and makes the evaluation order and the pattern of the rule;
// returns the points per cell. The generators are walked once, as by the
// first cell's recording.
size_t start_cells(int nd, int lr, const double *center, const double *width, double *g,
                   double *z__) {
  batch_pts.clear();
  batch_groups.clear();
  batch_generator_end.clear();
  record_cell(nd, lr, center, width, g, z__, true);
  const size_t per_cell = batch_pts.size() / static_cast<size_t>(nd);
  if (batch_order_ndim != nd || batch_order_size != per_cell) {
    find_order(nd, per_cell, batch_pts.data(), center);
    batch_order_ndim = nd;
    batch_order_size = per_cell;
  }
  make_pattern(nd, lr, g);
  return per_cell;
}

// The points of the rule applications on every mesh cell of nregions
// regions a[k]..b[k] of the same half-widths (the two halves of a bisected
// region, or one region of many cells), evaluated in one split when spare
// threads wait (each cell in its own order), so that the threads meet once
// per step of the adaptive loop rather than once per cell. Returns the
// points per cell (batch_vals holds the values of the cells region by
// region, cell j of them all from j times that), or 0 when nothing was
// evaluated (one cell in all, too few points for a split, or more than
// batch_limit values): each region is then evaluated on its own.
size_t evaluate_regions(int nd, int lr, int nregions, const double *const *a,
                        const double *const *b, const double *width, double *g, double *z__,
                        adapt_integrand functn) {
  // Count first: regions too large for one batch record nothing here.
  size_t cells = 0;
  for (int r = 0; r < nregions; r++) cells += region_cells(nd, a[r], b[r], width);
  if (cells == 1) return 0;
  make_pattern(nd, lr, g);
  const size_t per_cell = pattern.size() / static_cast<size_t>(nd);
  if (cells * per_cell > batch_limit || split_parts(nd, cells * per_cell) <= 1) return 0;
  std::vector<double> &centers = region_centers;
  centers.clear();
  std::vector<double> center(static_cast<size_t>(nd));
  for (int r = 0; r < nregions; r++) {
    for (int i = 0; i < nd; i++) center[static_cast<size_t>(i)] = a[r][i] + width[i];
    do {
      centers.insert(centers.end(), center.begin(), center.end());
    } while (next_cell(nd, a[r], b[r], width, center.data()));
  }
  start_cells(nd, lr, centers.data(), width, g, z__);
  // The generators and the scratch vector as recording every cell leaves
  // them (the first cell is recorded).
  advance_generators(nd, lr, g, cells - 1, centers.data() + (cells - 1) * static_cast<size_t>(nd),
                     width, z__);
  evaluate_cells(nd, cells, per_cell, centers.data(), width, functn);
  return per_cell;
}

// The next `cells` cells of the region a..b from the cell centred at from,
// evaluated by evaluate_cells; region_centers keeps their centres.
void evaluate_group(int nd, size_t cells, size_t per_cell, const double *from, const double *a,
                    const double *b, const double *width, adapt_integrand functn) {
  std::vector<double> &centers = region_centers;
  centers.assign(from, from + nd);
  std::vector<double> center(from, from + nd);
  for (size_t j = 1; j < cells; j++) {
    next_cell(nd, a, b, width, center.data());
    centers.insert(centers.end(), center.begin(), center.end());
  }
  evaluate_cells(nd, cells, per_cell, centers.data(), width, functn);
}

// The cells of the region a..b of half-widths width.
size_t region_cells(int nd, const double *a, const double *b, const double *width) {
  std::vector<double> center(static_cast<size_t>(nd));
  for (int i = 0; i < nd; i++) center[static_cast<size_t>(i)] = a[i] + width[i];
  size_t cells = 1;
  while (next_cell(nd, a, b, width, center.data())) cells++;
  return cells;
}

// basrul_ with the values of the region's cells at vals (per_cell points a
// cell, evaluated by evaluate_regions), or, with vals null, evaluated here:
// when spare threads wait and the region has several cells, in groups of
// cells of at most batch_limit values, each group in one split; otherwise
// cell by cell.
void basrul_values(int *ndim, double *a, double *b, double *width, adapt_integrand functn,
                   double *w, int *lenrul_, double *g, double *center, double *z__,
                   double *rgnert, double *basest, const double *given, size_t given_per_cell) {
  const int nd = *ndim;
  const int lr = *lenrul_;
  double rgnvol = 1.0;
  for (int i = 0; i < nd; i++) {
    rgnvol = 2.0 * rgnvol * width[i];
    center[i] = a[i] + width[i];
  }
  *basest = 0.0;
  *rgnert = 0.0;
  const bool batches = use_batches(nd);
  size_t per_cell = given_per_cell;
  // The region's cells and the cells of a group (0: no groups).
  size_t cells = 0, in_group = 0;
  if (batches && !given && share_fn && spare_threads_waiting() > 0) {
    cells = region_cells(nd, a, b, width);
    if (cells > 1) {
      per_cell = start_cells(nd, lr, center, width, g, z__);
      in_group = std::max<size_t>(1, batch_limit / per_cell);
    }
  }
  for (size_t cell = 0;; cell++) {
    double rgnval = 0.0, rgnerr = 0.0, rgncmp = 0.0, rgncpt = 0.0;
    if (batches) {
      // Record the cell's points generator by generator, evaluate them in
      // order (or take the values evaluated for the whole region or for
      // the cell's group), then sum the values as fulsum_ does: within each
      // sign-change group, then the groups in turn.
      const double *vals;
      if (given) {
        vals = given + cell * per_cell;
      } else if (in_group > 0) {
        if (cell % in_group == 0)
          evaluate_group(nd, std::min(in_group, cells - cell), per_cell, center, a, b, width,
                         functn);
        vals = batch_vals.data() + (cell % in_group) * per_cell;
      } else {
        batch_pts.clear();
        batch_groups.clear();
        batch_generator_end.clear();
        record_cell(nd, lr, center, width, g, z__, true);
        batch_evaluate(ndim, functn, center);
        vals = batch_vals.data();
      }
      size_t t = 0, group = 0;
      for (int i = 0; i < lr; i++) {
        double fsymsm = 0.0;
        for (; group < static_cast<size_t>(batch_generator_end[i]); group++) {
          double intsum = 0.0;
          for (int k = 0; k < batch_groups[group]; k++) intsum += vals[t++];
          fsymsm += intsum;
        }
        rgnval += w[i] * fsymsm;
        rgnerr += w[lr + i] * fsymsm;
        rgncmp += w[2 * lr + i] * fsymsm;
        rgncpt += w[3 * lr + i] * fsymsm;
      }
    } else {
      for (int i = 0; i < lr; i++) {
        const double fsymsm = fulsum_(ndim, center, width, z__, &g[i * nd], functn);
        rgnval += w[i] * fsymsm;
        rgnerr += w[lr + i] * fsymsm;
        rgncmp += w[2 * lr + i] * fsymsm;
        rgncpt += w[3 * lr + i] * fsymsm;
      }
    }
    // Error from the three null rules, damped when they decrease fast.
    rgnerr = std::sqrt(rgncmp * rgncmp + rgnerr * rgnerr);
    rgncmp = std::sqrt(rgncpt * rgncpt + rgncmp * rgncmp);
    if (4.0 * rgnerr < rgncmp) rgnerr /= 2.0;
    if (2.0 * rgnerr > rgncmp) rgnerr = std::fmax(rgnerr, rgncmp);
    *rgnert += rgnvol * rgnerr;
    *basest += rgnvol * rgnval;
    // Next mesh cell of the region.
    if (!next_cell(nd, a, b, width, center)) break;
  }
  // The generators and the scratch vector as recording every cell leaves
  // them (the first cell was recorded; the last group's centres are kept).
  if (in_group > 0)
    advance_generators(nd, lr, g, cells - 1,
                       region_centers.data() + region_centers.size() - static_cast<size_t>(nd),
                       width, z__);
}

}  // namespace

void basrul_(int *ndim, double *a, double *b, double *width, adapt_integrand functn, double *w,
             int *lenrul_, double *g, double *center, double *z__, double *rgnert,
             double *basest) {
  basrul_values(ndim, a, b, width, functn, w, lenrul_, g, center, z__, rgnert, basest, nullptr, 0);
}

double fulsum_(int *s, double *center, double *hwidth, double *x, double *g,
               adapt_integrand f) {
  double sum = 0.0, intsum = 0.0;
  walk_fully_symmetric(*s, center, hwidth, x, g, [&](double *point) {
    if (point) {
      intsum += f(s, point);
    } else {
      sum += intsum;
      intsum = 0.0;
    }
  });
  return sum;
}

namespace {

// The points of differ_ and their values, when they are evaluated apart.
thread_local std::vector<double> differ_pts, differ_vals;

// The cell-by-cell loop of differ_ from z__ at the first cell's centre,
// with value(z) the integrand at the point z (computed then, or recorded
// earlier); z__ ends at the first cell's centre again. Returns the number
// of points.
template <class Value>
int differ_cells(int nd, const double *a, const double *b, const double *width, double *z__,
                 double *dif, Value &&value) {
  int count = 0;
  for (;;) {
    const double funcen = value(z__);
    for (int i = 0; i < nd; i++) {
      const double widthi = width[i] / 5.0;
      double frthdf = 6.0 * funcen;
      z__[i] -= 4.0 * widthi;
      frthdf += value(z__);
      z__[i] += 2.0 * widthi;
      frthdf -= 4.0 * value(z__);
      z__[i] += 4.0 * widthi;
      frthdf -= 4.0 * value(z__);
      z__[i] += 2.0 * widthi;
      frthdf += value(z__);
      // Differences below round-off do not count.
      if (funcen + frthdf / 8.0 != funcen) dif[i] += std::fabs(frthdf) * width[i];
      z__[i] -= 4.0 * widthi;
    }
    count += 4 * nd + 1;
    bool more = false;
    for (int i = 0; i < nd; i++) {
      z__[i] += 2.0 * width[i];
      if (z__[i] < b[i]) {
        more = true;
        break;
      }
      z__[i] = a[i] + width[i];
    }
    if (!more) break;
  }
  return count;
}

}  // namespace

void differ_(int *ndim, double *a, double *b, double *width, double *z__, double *dif,
             adapt_integrand functn, int *divaxn_, int *difcls_) {
  const int nd = *ndim;
  *difcls_ = 0;
  *divaxn_ = *divaxn_ % nd + 1;
  if (nd <= 1) return;
  for (int i = 0; i < nd; i++) {
    dif[i] = 0.0;
    z__[i] = a[i] + width[i];
  }
  if (share_fn && spare_threads_waiting() > 0) {
    // Spare threads wait: record the points (a first pass of the same loop
    // with dummy values), evaluate them, possibly split between threads, in
    // the order recorded, then run the loop again on the values.
    std::vector<double> &pts = differ_pts;
    pts.clear();
    differ_cells(nd, a, b, width, z__, dif, [&](const double *z) {
      pts.insert(pts.end(), z, z + nd);
      return 0.0;
    });
    for (int i = 0; i < nd; i++) dif[i] = 0.0;
    const size_t count = pts.size() / static_cast<size_t>(nd);
    std::vector<double> &vals = differ_vals;
    vals.resize(count);
    const int parts = split_parts(nd, count);
    if (parts > 1) {
      evaluate_split(nd, count, parts, nullptr, pts.data(), vals.data(), functn);
    } else {
      for (size_t k = 0; k < count; k++) vals[k] = functn(ndim, &pts[k * static_cast<size_t>(nd)]);
    }
    size_t k = 0;
    *difcls_ = differ_cells(nd, a, b, width, z__, dif, [&](const double *) { return vals[k++]; });
  } else {
    *difcls_ = differ_cells(nd, a, b, width, z__, dif, [&](double *z) { return functn(ndim, z); });
  }
  for (int i = 1; i <= nd; i++)
    if (dif[*divaxn_ - 1] < dif[i - 1]) *divaxn_ = i;
}

void trestr_(int *pointr, int *sbrgns_, double *pontrs, double *rgners) {
  const int p = *pointr;
  const double rgnerr = rgners[p - 1];
  int subrgn;
  // Region numbers are compared as stored doubles: a stale cell is never
  // converted to an integer.
  if (static_cast<double>(p) == pontrs[0]) {
    // The top region's error changed: sift it down.
    subrgn = 1;
    for (;;) {
      int subtmp = 2 * subrgn;
      if (subtmp > *sbrgns_) break;
      if (subtmp != *sbrgns_ &&
          rgners[static_cast<int>(pontrs[subtmp - 1]) - 1] <
              rgners[static_cast<int>(pontrs[subtmp]) - 1])
        subtmp++;
      if (!(rgnerr < rgners[static_cast<int>(pontrs[subtmp - 1]) - 1])) break;
      pontrs[subrgn - 1] = pontrs[subtmp - 1];
      subrgn = subtmp;
    }
  } else {
    // A region appended at position sbrgns: sift it up.
    subrgn = *sbrgns_;
    for (;;) {
      const int subtmp = subrgn / 2;
      if (subtmp < 1) break;
      if (!(rgnerr > rgners[static_cast<int>(pontrs[subtmp - 1]) - 1])) break;
      pontrs[subrgn - 1] = pontrs[subtmp - 1];
      subrgn = subtmp;
    }
  }
  pontrs[subrgn - 1] = p;
}
