#ifndef QUORVEX_DRIVER_GENOTYPE_TOKENS_H
#define QUORVEX_DRIVER_GENOTYPE_TOKENS_H

// The tokenizer of genotype rows, shared by the loading of the genotype file
// and the common-variant pass: one walk over a line's blank-separated tokens
// in which a one-character token (the usual 0, 1 or 2) takes a fast path.

#include <cstdint>
#include <cstring>

#include "driver/text_file.h"

namespace row_tokens_detail {

// Whether the eight bytes at p are tab, digit, tab, digit, tab, digit, tab,
// digit with every digit 0, 1 or 2. The bytes are read as a little-endian
// word (p[0] lowest); each digit is tested in its own 16-bit lane, where
// adding 0xD0 sets bit 8 exactly when the digit byte is at least '0' and
// adding 0xCD exactly when it is above '2'.
inline bool tab_digit_quad(const char *p) {
  std::uint64_t w;
  std::memcpy(&w, p, sizeof w);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  w = __builtin_bswap64(w);
#endif
  const std::uint64_t kLow = 0x00FF00FF00FF00FFull, kBit8 = 0x0100010001000100ull;
  if ((w & kLow) != 0x0009000900090009ull) return false;
  const std::uint64_t d = (w >> 8) & kLow;
  return ((d + 0x00D000D000D000D0ull) & kBit8) == kBit8 && ((d + 0x00CD00CD00CD00CDull) & kBit8) == 0;
}

}  // namespace row_tokens_detail

// Walks the tokens of the line [q, e) in order: one(c) for a token of the one
// character c, many(tb, te) for a longer token [tb, te). Returns the number
// of tokens. Each caller applies its own reading of a token.
template <class One, class Many>
inline long for_each_row_token(const char *q, const char *e, One &&one, Many &&many) {
  long n = 0;
  for (;;) {
    // Fastest path: a tab and a digit 0, 1 or 2, four times, then a blank or
    // the end of the line: four one-character tokens, handed out in order
    // exactly as four turns of the loop below would.
    while (e - q >= 8 && row_tokens_detail::tab_digit_quad(q) && (e - q == 8 || is_blank(q[8]))) {
      one(q[1]);
      one(q[3]);
      one(q[5]);
      one(q[7]);
      n += 4;
      q += 8;
    }
    while (q < e && is_blank(*q)) q++;
    if (q == e) break;
    n++;
    if (q + 1 == e || is_blank(q[1])) {
      one(*q);
      q++;
    } else {
      const char *tb = q;
      while (q < e && !is_blank(*q)) q++;
      many(tb, q);
    }
  }
  return n;
}

#endif
