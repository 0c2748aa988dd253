#include "sfx_inflate.h"

#include <stdlib.h>
#include <string.h>

#include "sfx_result.h"

#define MAX_BITS 15
#define MAX_LITLEN 288 /* 286 usable, 288 in the fixed code */
#define MAX_DIST 32    /* 30 usable, 32 in the fixed code */
#define WINDOW 32768u
#define INBUF 4096u

#define FAST_BITS 9

/* Canonical Huffman code: how many codes of each length, and the symbols
   ordered by code. Codes of up to FAST_BITS bits are looked up in `fast`
   (symbol << 4 | length, 0 for longer codes); the rest are decoded by
   walking the lengths one bit at a time. */
typedef struct Huffman {
    uint16_t count[MAX_BITS + 1];
    uint16_t symbol[MAX_LITLEN];
    uint16_t fast[1u << FAST_BITS];
} Huffman;

typedef struct State {
    SfxReadFn read;
    void* read_ctx;
    SfxWriteFn write;
    void* write_ctx;
    uint64_t limit;
    uint64_t total;   /* bytes decoded */
    uint64_t written; /* bytes handed to the output */
    unsigned char in[INBUF];
    size_t in_pos, in_len;
    int eof; /* the input has no more bytes */
    uint32_t bitbuf;
    unsigned bitcnt;
    unsigned wpos; /* fill of the window since the last flush */
    int error;     /* first failure; decoding stops at it */
    unsigned char window[WINDOW];
} State;

static const uint16_t kLengthBase[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                         15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                         67, 83, 99, 115, 131, 163, 195, 227, 258};
static const uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                         2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
static const uint16_t kDistBase[30] = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
static const uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                       6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
static const uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                             11, 4,  12, 3, 13, 2, 14, 1, 15};

static int fail(State* s, int code) {
    if (s->error == 0) {
        s->error = code;
    }
    return s->error;
}

/* Refills the input buffer; 0 when bytes are there, else the end of input
   is noted (or the failure recorded) and -1 returned. */
static int refill(State* s) {
    long got;
    if (s->eof || s->error != 0) {
        return -1;
    }
    got = s->read(s->read_ctx, s->in, INBUF);
    if (got < 0) {
        fail(s, (int)got);
        return -1;
    }
    if (got == 0) {
        s->eof = 1;
        return -1;
    }
    s->in_pos = 0;
    s->in_len = (size_t)got;
    return 0;
}

/* Loads whole bytes into the bit buffer until it holds `need` bits or the
   input ends; running out here is no failure (the look-ahead of the table
   decoder may reach past the last code). */
static void fill(State* s, unsigned need) {
    while (s->bitcnt < need) {
        if (s->in_pos == s->in_len && refill(s) != 0) {
            return;
        }
        s->bitbuf |= (uint32_t)s->in[s->in_pos++] << s->bitcnt;
        s->bitcnt += 8;
    }
}

/* Up to 16 bits, least significant first; 0 bits on failure (checked by the
   caller via s->error). Input that ends here is damaged data. */
static unsigned bits(State* s, unsigned need) {
    unsigned value;
    fill(s, need);
    if (s->bitcnt < need) {
        fail(s, SFX_E_DATA); /* the stream ends before its final block */
        return 0;
    }
    value = (unsigned)(s->bitbuf & ((1u << need) - 1u));
    s->bitbuf >>= need;
    s->bitcnt -= need;
    return value;
}

static int flush(State* s) {
    if (s->wpos > 0 && s->error == 0) {
        const int rc = s->write(s->write_ctx, s->window, s->wpos);
        if (rc != SFX_OK) {
            return fail(s, rc);
        }
        s->written += s->wpos;
    }
    return s->error;
}

static int put(State* s, unsigned char byte) {
    if (s->total >= s->limit) {
        return fail(s, SFX_E_TOOBIG);
    }
    s->window[s->wpos++] = byte;
    s->total++;
    if (s->wpos == WINDOW) {
        if (flush(s) != SFX_OK) {
            return s->error;
        }
        s->wpos = 0;
    }
    return SFX_OK;
}

/* The look-up table: every code of up to FAST_BITS bits, bit-reversed (the
   stream sends codes most significant bit first into a buffer read from its
   least significant end), repeated for every value of the bits after it. */
static void fill_fast(Huffman* h, const uint8_t* lengths, unsigned n) {
    uint16_t next[MAX_BITS + 2];
    unsigned len, sym, code = 0;
    memset(h->fast, 0, sizeof h->fast);
    for (len = 1; len <= MAX_BITS; ++len) {
        code = (code + (len > 1 ? h->count[len - 1] : 0u)) << 1; /* count[0]: unused symbols */
        next[len] = (uint16_t)code;
    }
    for (sym = 0; sym < n; ++sym) {
        const unsigned l = lengths[sym];
        unsigned c, rev = 0, i;
        if (l == 0) {
            continue;
        }
        c = next[l]++;
        if (l > FAST_BITS) {
            continue;
        }
        for (i = 0; i < l; ++i) {
            rev = (rev << 1) | ((c >> i) & 1u);
        }
        for (i = rev; i < (1u << FAST_BITS); i += 1u << l) {
            h->fast[i] = (uint16_t)((sym << 4) | l);
        }
    }
}

/* Builds a code from code lengths. Over-subscribed sets are refused;
   incomplete ones only when they hold a single code (a stream with one
   distance), as any other gap would be a code that cannot be decoded. */
static int build(Huffman* h, const uint8_t* lengths, unsigned n) {
    uint16_t offs[MAX_BITS + 1];
    unsigned len, sym, used = 0;
    int left = 1;
    memset(h->count, 0, sizeof h->count);
    for (sym = 0; sym < n; ++sym) {
        h->count[lengths[sym]]++;
    }
    for (len = 1; len <= MAX_BITS; ++len) {
        left <<= 1;
        left -= h->count[len];
        used += h->count[len];
        if (left < 0) {
            return SFX_E_DATA;
        }
    }
    if (left > 0 && !(used == 1 && h->count[1] == 1) && used != 0) {
        return SFX_E_DATA;
    }
    offs[1] = 0;
    for (len = 1; len < MAX_BITS; ++len) {
        offs[len + 1] = (uint16_t)(offs[len] + h->count[len]);
    }
    for (sym = 0; sym < n; ++sym) {
        if (lengths[sym] != 0) {
            h->symbol[offs[lengths[sym]]++] = (uint16_t)sym;
        }
    }
    fill_fast(h, lengths, n);
    return SFX_OK;
}

static int decode(State* s, const Huffman* h) {
    int code = 0, first = 0, index = 0;
    unsigned len, entry;
    fill(s, FAST_BITS);
    entry = h->fast[s->bitbuf & ((1u << FAST_BITS) - 1u)];
    if (entry != 0 && (entry & 15u) <= s->bitcnt) {
        s->bitbuf >>= entry & 15u;
        s->bitcnt -= entry & 15u;
        return (int)(entry >> 4);
    }
    for (len = 1; len <= MAX_BITS; ++len) {
        int count;
        code |= (int)bits(s, 1);
        if (s->error != 0) {
            return -1;
        }
        count = h->count[len];
        if (code - count < first) {
            return h->symbol[index + (code - first)];
        }
        index += count;
        first += count;
        first <<= 1;
        code <<= 1;
    }
    fail(s, SFX_E_DATA); /* a code that is not in the set */
    return -1;
}

static int codes(State* s, const Huffman* lencode, const Huffman* distcode) {
    for (;;) {
        int sym = decode(s, lencode);
        if (sym < 0) {
            return s->error;
        }
        if (sym < 256) {
            if (put(s, (unsigned char)sym) != SFX_OK) {
                return s->error;
            }
        } else if (sym == 256) {
            return SFX_OK;
        } else {
            unsigned len, dist;
            sym -= 257;
            if (sym >= 29) {
                return fail(s, SFX_E_DATA);
            }
            len = kLengthBase[sym] + bits(s, kLengthExtra[sym]);
            sym = decode(s, distcode);
            if (sym < 0) {
                return s->error;
            }
            if (sym >= 30) {
                return fail(s, SFX_E_DATA);
            }
            dist = kDistBase[sym] + bits(s, kDistExtra[sym]);
            if (s->error != 0) {
                return s->error;
            }
            if ((uint64_t)dist > s->total) {
                return fail(s, SFX_E_DATA); /* reaches before the start of the output */
            }
            while (len-- > 0) {
                const unsigned from = (s->wpos + WINDOW - dist) & (WINDOW - 1u);
                if (put(s, s->window[from]) != SFX_OK) {
                    return s->error;
                }
            }
        }
    }
}

static int stored(State* s) {
    unsigned len, nlen, i;
    bits(s, s->bitcnt & 7u); /* drop the bits up to the byte boundary */
    len = bits(s, 16);
    nlen = bits(s, 16);
    if (s->error != 0) {
        return s->error;
    }
    if (len != (~nlen & 0xFFFFu)) {
        return fail(s, SFX_E_DATA);
    }
    for (i = 0; i < len; ++i) {
        const unsigned byte = bits(s, 8);
        if (s->error != 0 || put(s, (unsigned char)byte) != SFX_OK) {
            return s->error;
        }
    }
    return SFX_OK;
}

static int fixed(State* s) {
    /* Built on every call (cheap) so that nothing is shared between threads. */
    Huffman lc, dc;
    uint8_t lengths[MAX_LITLEN];
    unsigned sym;
    for (sym = 0; sym < 144; ++sym)
        lengths[sym] = 8;
    for (; sym < 256; ++sym)
        lengths[sym] = 9;
    for (; sym < 280; ++sym)
        lengths[sym] = 7;
    for (; sym < MAX_LITLEN; ++sym)
        lengths[sym] = 8;
    build(&lc, lengths, MAX_LITLEN);
    for (sym = 0; sym < MAX_DIST; ++sym)
        lengths[sym] = 5;
    build(&dc, lengths, MAX_DIST);
    return codes(s, &lc, &dc);
}

static int dynamic(State* s) {
    uint8_t lengths[MAX_LITLEN + MAX_DIST];
    Huffman lc, dc;
    unsigned nlen, ndist, ncode, index;
    nlen = bits(s, 5) + 257;
    ndist = bits(s, 5) + 1;
    ncode = bits(s, 4) + 4;
    if (s->error != 0) {
        return s->error;
    }
    if (nlen > 286 || ndist > 30) {
        return fail(s, SFX_E_DATA);
    }
    memset(lengths, 0, sizeof lengths);
    for (index = 0; index < ncode; ++index) {
        lengths[kCodeLengthOrder[index]] = (uint8_t)bits(s, 3);
    }
    if (s->error != 0) {
        return s->error;
    }
    if (build(&lc, lengths, 19) != SFX_OK) {
        return fail(s, SFX_E_DATA);
    }
    index = 0;
    while (index < nlen + ndist) {
        int sym = decode(s, &lc);
        unsigned len = 0, repeat;
        if (sym < 0) {
            return s->error;
        }
        if (sym < 16) {
            lengths[index++] = (uint8_t)sym;
            continue;
        }
        if (sym == 16) {
            if (index == 0) {
                return fail(s, SFX_E_DATA); /* nothing to repeat */
            }
            len = lengths[index - 1];
            repeat = 3 + bits(s, 2);
        } else if (sym == 17) {
            repeat = 3 + bits(s, 3);
        } else {
            repeat = 11 + bits(s, 7);
        }
        if (s->error != 0) {
            return s->error;
        }
        if (index + repeat > nlen + ndist) {
            return fail(s, SFX_E_DATA);
        }
        while (repeat-- > 0) {
            lengths[index++] = (uint8_t)len;
        }
    }
    if (lengths[256] == 0) {
        return fail(s, SFX_E_DATA); /* no end-of-block code */
    }
    if (build(&lc, lengths, nlen) != SFX_OK || build(&dc, lengths + nlen, ndist) != SFX_OK) {
        return fail(s, SFX_E_DATA);
    }
    return codes(s, &lc, &dc);
}

int sfx_inflate(SfxReadFn read, void* read_ctx, SfxWriteFn write, void* write_ctx, uint64_t limit,
                uint64_t* produced) {
    State* s = (State*)malloc(sizeof(State));
    int last = 0, rc;
    if (produced != NULL) {
        *produced = 0;
    }
    if (s == NULL) {
        return SFX_E_MEMORY;
    }
    memset(s, 0, offsetof(State, window));
    s->read = read;
    s->read_ctx = read_ctx;
    s->write = write;
    s->write_ctx = write_ctx;
    s->limit = limit;
    while (!last && s->error == 0) {
        unsigned type;
        last = (int)bits(s, 1);
        type = bits(s, 2);
        if (s->error != 0) {
            break;
        }
        if (type == 0) {
            stored(s);
        } else if (type == 1) {
            fixed(s);
        } else if (type == 2) {
            dynamic(s);
        } else {
            fail(s, SFX_E_DATA);
        }
    }
    flush(s);
    rc = s->error;
    if (produced != NULL) {
        *produced = s->written;
    }
    free(s);
    return rc;
}

typedef struct MemIn {
    const unsigned char* data;
    size_t size, pos;
} MemIn;

typedef struct MemOut {
    unsigned char* data;
    size_t capacity, size;
} MemOut;

static long mem_read(void* ctx, unsigned char* buf, size_t size) {
    MemIn* in = (MemIn*)ctx;
    size_t n = in->size - in->pos;
    if (n > size) {
        n = size;
    }
    if (n > 0) {
        memcpy(buf, in->data + in->pos, n);
    }
    in->pos += n;
    return (long)n;
}

static int mem_write(void* ctx, const unsigned char* buf, size_t size) {
    MemOut* out = (MemOut*)ctx;
    if (size > out->capacity - out->size) {
        return SFX_E_TOOBIG; /* cannot happen: the limit is the capacity */
    }
    memcpy(out->data + out->size, buf, size);
    out->size += size;
    return SFX_OK;
}

int sfx_inflate_memory(const unsigned char* in, size_t in_size, unsigned char* out, size_t capacity,
                       size_t* produced) {
    MemIn mi;
    MemOut mo;
    int rc;
    mi.data = in;
    mi.size = in_size;
    mi.pos = 0;
    mo.data = out;
    mo.capacity = capacity;
    mo.size = 0;
    rc = sfx_inflate(mem_read, &mi, mem_write, &mo, capacity, NULL);
    *produced = mo.size;
    return rc;
}
