#include "kernels/normal.h"

#include <cmath>

namespace {

// Hart et al. (1968), algorithm 5666: coefficients of P (degree 6) and Q
// (degree 7) in Phi(-t) = exp(-t^2/2) P(t) / Q(t) for 0 <= t < 10/sqrt(2).
const double kHartP[7] = {220.2068679123761,  221.2135961699311,  112.0792914978709,
                          33.91286607838300,  6.373962203531650,  0.7003830644436881,
                          0.03526249659989109};
const double kHartQ[8] = {440.4137358247522,  793.8265125199484, 637.3336333788311,
                          296.5642487796737,  86.78073220294608, 16.06417757920695,
                          1.755667163182642,  0.08838834764831844};
const double kHartCutoff = 7.071067811865475;   // 10/sqrt(2)
const double kHartRootTwoPi = 2.506628274631001;

// Wichura (1988), AS 241 (PPND16): central region |q| <= 0.425.
const double kA[8] = {3.3871328727963666080e0,     1.3314166789178437745e+2,
                      1.9715909503065514427e+3,    1.3731693765509461125e+4,
                      4.5921953931549871457e+4,    6.7265770927008700853e+4,
                      3.3430575583588128105e+4,    2.5090809287301226727e+3};
const double kB[8] = {1.0,                         4.2313330701600911252e+1,
                      6.8718700749205790830e+2,    5.3941960214247511077e+3,
                      2.1213794301586595867e+4,    3.9307895800092710610e+4,
                      2.8729085735721942674e+4,    5.2264952788528545610e+3};
// Intermediate region, r <= 5, in the variable r - 1.6.
const double kC[8] = {1.42343711074968357734e0,    4.63033784615654529590e0,
                      5.76949722146069140550e0,    3.64784832476320460504e0,
                      1.27045825245236838258e0,    2.41780725177450611770e-1,
                      2.27238449892691845833e-2,   7.74545014278341407640e-4};
const double kD[8] = {1.0,                         2.05319162663775882187e0,
                      1.67638483018380384940e0,    6.89767334985100004550e-1,
                      1.48103976427480074590e-1,   1.51986665636164571966e-2,
                      5.47593808499534494600e-4,   1.05075007164441684324e-9};
// Far tail, r > 5, in the variable r - 5.
const double kE[8] = {6.65790464350110377720e0,    5.46378491116411436990e0,
                      1.78482653991729133580e0,    2.96560571828504891230e-1,
                      2.65321895265761230930e-2,   1.24266094738807843860e-3,
                      2.71155556874348757815e-5,   2.01033439929228813265e-7};
const double kF[8] = {1.0,                         5.99832206555887937690e-1,
                      1.36929880922735805310e-1,   1.48753612908506148525e-2,
                      7.86869131145613259100e-4,   1.84631831751005468180e-5,
                      1.42151175831644588870e-7,   2.04426310338993978564e-15};

// Gauss-Legendre nodes in (-1, 0) and weights of the 6-, 12- and 20-point
// rules (Drezner and Wesolowsky 1990, 16-digit values of Genz 2004); row g
// holds rule g (3, 6 or 10 entries used).
const double kGaussX[3][10] = {
    {-0.9324695142031522, -0.6612093864662647, -0.2386191860831970},
    {-0.9815606342467191, -0.9041172563704750, -0.7699026741943050, -0.5873179542866171,
     -0.3678314989981802, -0.1252334085114692},
    {-0.9931285991850949, -0.9639719272779138, -0.9122344282513259, -0.8391169718222188,
     -0.7463319064601508, -0.6360536807265150, -0.5108670019508271, -0.3737060887154196,
     -0.2277858511416451, -0.07652652113349733}};
const double kGaussW[3][10] = {
    {0.1713244923791705, 0.3607615730481384, 0.4679139345726904},
    {0.04717533638651177, 0.1069393259953183, 0.1600783285433464, 0.2031674267230659,
     0.2334925365383547, 0.2491470458134029},
    {0.01761400713915212, 0.04060142980038694, 0.06267204833410906, 0.08327674157670475,
     0.1019301198172404, 0.1181945319615184, 0.1316886384491766, 0.1420961093183821,
     0.1491729864726037, 0.1527533871307259}};
const int kGaussHalf[3] = {3, 6, 10};

// Thresholds on |r| held in single precision and widened to double.
const double kSmallCorrelation = 0.30000001192092896;
const double kMediumCorrelation = 0.75;
const double kLargeCorrelation = 0.925000011920929;

const double kFourPi = 12.566370614359172;
const double kTwoPi = 6.283185307179586;
const double kRootTwoPi = 2.5066282746310002;

// Polynomial c[0] + c[1] t + ... + c[7] t^7 by Horner's rule.
double poly7(const double *c, double t) {
  return ((((((c[7] * t + c[6]) * t + c[5]) * t + c[4]) * t + c[3]) * t + c[2]) * t + c[1]) * t +
         c[0];
}

double phi_of(double z) { return phi_(&z); }

double bvnu_of(double h, double k, double r) { return bvnu_(&h, &k, &r); }

}  // namespace

double phi_(double *z__) {
  const double z = *z__;
  const double zabs = std::fabs(z);
  double p;
  if (zabs > 37.0) {
    p = 0.0;
  } else {
    const double expntl = std::exp(-zabs * zabs / 2.0);
    if (zabs < kHartCutoff) {
      const double *c = kHartP;
      const double *d = kHartQ;
      p = expntl *
          ((((((c[6] * zabs + c[5]) * zabs + c[4]) * zabs + c[3]) * zabs + c[2]) * zabs + c[1]) *
               zabs +
           c[0]) /
          (((((((d[7] * zabs + d[6]) * zabs + d[5]) * zabs + d[4]) * zabs + d[3]) * zabs + d[2]) *
                zabs +
            d[1]) *
               zabs +
           d[0]);
    } else {
      p = expntl / (zabs + 1.0 / (zabs + 2.0 / (zabs + 3.0 / (zabs + 4.0 / (zabs + 0.65))))) /
          kHartRootTwoPi;
    }
  }
  if (z > 0.0) p = 1.0 - p;
  return p;
}

double phinv_(double *p) {
  const double q = (*p * 2.0 - 1.0) / 2.0;
  if (std::fabs(q) <= 0.425) {
    const double r = 0.180625 - q * q;
    return q * poly7(kA, r) / poly7(kB, r);
  }
  double r = std::fmin(*p, 1.0 - *p);
  double x;
  if (r > 0.0) {
    r = std::sqrt(-std::log(r));
    if (r <= 5.0) {
      r -= 1.6;
      x = poly7(kC, r) / poly7(kD, r);
    } else {
      r -= 5.0;
      x = poly7(kE, r) / poly7(kF, r);
    }
  } else {
    x = 9.0;
  }
  return q < 0.0 ? -x : x;
}

double bvnu_(double *sh, double *sk, double *r__) {
  const double r = *r__;
  const double ar = std::fabs(r);
  int ng;
  if (ar < kSmallCorrelation) {
    ng = 0;
  } else if (ar < kMediumCorrelation) {
    ng = 1;
  } else {
    ng = 2;
  }
  const int lg = kGaussHalf[ng];
  const double *x = kGaussX[ng];
  const double *w = kGaussW[ng];

  const double h = *sh;
  double k = *sk;
  double hk = h * k;
  double bvn = 0.0;
  if (ar < kLargeCorrelation) {
    const double hs = (h * h + k * k) / 2.0;
    const double asr = std::asin(r);
    for (int i = 0; i < lg; i++) {
      double sn = std::sin(asr * (1.0 + x[i]) / 2.0);
      bvn += w[i] * std::exp((sn * hk - hs) / (1.0 - sn * sn));
      sn = std::sin(asr * (1.0 - x[i]) / 2.0);
      bvn += w[i] * std::exp((sn * hk - hs) / (1.0 - sn * sn));
    }
    return bvn * asr / kFourPi + phi_of(-h) * phi_of(-k);
  }
  if (r < 0.0) {
    k = -k;
    hk = -hk;
  }
  if (ar < 1.0) {
    const double as = (1.0 - r) * (1.0 + r);
    double a = std::sqrt(as);
    const double bs = (h - k) * (h - k);
    const double c = (4.0 - hk) / 8.0;
    const double d = (12.0 - hk) / 16.0;
    bvn = a * std::exp(-(bs / as + hk) / 2.0) *
          (1.0 - c * (bs - as) * (1.0 - d * bs / 5.0) / 3.0 + c * d * as * as / 5.0);
    if (hk > -160.0) {
      const double b = std::sqrt(bs);
      bvn -= std::exp(-hk / 2.0) * kRootTwoPi * phi_of(-b / a) * b *
             (1.0 - c * bs * (1.0 - d * bs / 5.0) / 3.0);
    }
    a /= 2.0;
    for (int i = 0; i < lg; i++) {
      double xs = a * (1.0 + x[i]);
      xs *= xs;
      double rs = std::sqrt(1.0 - xs);
      bvn += a * w[i] *
             (std::exp(-bs / (2.0 * xs) - hk / (1.0 + rs)) / rs -
              std::exp(-(bs / xs + hk) / 2.0) * (1.0 + c * xs * (1.0 + d * xs)));
      const double u = 1.0 - x[i];
      xs = as * (u * u) / 4.0;
      rs = std::sqrt(1.0 - xs);
      bvn += a * w[i] * std::exp(-(bs / xs + hk) / 2.0) *
             (std::exp(-hk * (1.0 - rs) / (2.0 * (1.0 + rs))) / rs -
              (1.0 + c * xs * (1.0 + d * xs)));
    }
    bvn = -bvn / kTwoPi;
  }
  if (r > 0.0) return bvn + phi_of(-std::fmax(h, k));
  return std::fmax(0.0, phi_of(-h) - phi_of(-k)) - bvn;
}

double bvn_(double *lower, double *upper, int *infin, double *correl) {
  const double r = *correl;
  const double l1 = lower[0], l2 = lower[1], u1 = upper[0], u2 = upper[1];
  const int c1 = infin[0], c2 = infin[1];
  if (c1 == 2 && c2 == 2)
    return bvnu_of(l1, l2, r) - bvnu_of(u1, l2, r) - bvnu_of(l1, u2, r) + bvnu_of(u1, u2, r);
  if (c1 == 2 && c2 == 1) return bvnu_of(l1, l2, r) - bvnu_of(u1, l2, r);
  if (c1 == 1 && c2 == 2) return bvnu_of(l1, l2, r) - bvnu_of(l1, u2, r);
  if (c1 == 2 && c2 == 0) return bvnu_of(-u1, -u2, r) - bvnu_of(-l1, -u2, r);
  if (c1 == 0 && c2 == 2) return bvnu_of(-u1, -u2, r) - bvnu_of(-u1, -l2, r);
  if (c1 == 1 && c2 == 0) return bvnu_of(l1, -u2, -r);
  if (c1 == 0 && c2 == 1) return bvnu_of(-u1, l2, -r);
  if (c1 == 1 && c2 == 1) return bvnu_of(l1, l2, r);
  if (c1 == 0 && c2 == 0) return bvnu_of(-u1, -u2, r);
  return 0.0;  // codes outside 0..2: no defined result, the caller never passes them
}
