#ifndef QUORVEX_DRIVER_GENOTYPE_TOKENS_H
#define QUORVEX_DRIVER_GENOTYPE_TOKENS_H

// The tokenizer of genotype rows, shared by the loading of the genotype file
// and the common-variant pass: one walk over a line's blank-separated tokens
// in which a one-character token (the usual 0, 1 or 2) takes a fast path.

#include "driver/text_file.h"

// Walks the tokens of the line [q, e) in order: one(c) for a token of the one
// character c, many(tb, te) for a longer token [tb, te). Returns the number
// of tokens. Each caller applies its own reading of a token.
template <class One, class Many>
inline long for_each_row_token(const char *q, const char *e, One &&one, Many &&many) {
  long n = 0;
  for (;;) {
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
