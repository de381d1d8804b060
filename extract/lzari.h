// LZARI: LZSS over a 4096-byte ring (matches of 3..60 bytes) with adaptive arithmetic
// coding of literals and match lengths (one 314-symbol model) and a fixed model for match
// positions. Every constant, width and order here is part of the coded format; the
// encoder (tools) and the decoder (installer) share the model code below.
#ifndef QUILL_EXTRACT_LZARI_H
#define QUILL_EXTRACT_LZARI_H

#include "../archive/format.h"

struct InstallContext;

enum {
    LZ_RING_SIZE = 4096,
    LZ_RING_MASK = 0xFFF,
    LZ_LONGEST_MATCH = 60,
    LZ_THRESHOLD = 2,            // matches are at least THRESHOLD + 1 bytes
    LZ_SYMBOLS = 314,            // 256 literals + 58 lengths
    LZ_FIRST_WRITE = 4036,       // ring index of every file's first byte
    LZ_FIRST_QUARTER = 0x8000,
    LZ_HALF = 0x10000,
    LZ_THIRD_QUARTER = 0x18000,
    LZ_FULL_RANGE = 0x20000,
    LZ_RESCALE_LIMIT = 0x7FFF,   // model total at which frequencies are halved
    LZ_INITIAL_BITS = 17,
    LZ_PROGRESS_STEP = 0x3E00,
    LZ_POSITION_TOTAL = 28568    // position model total
};

// The adaptive model of literals and match lengths. Symbol s (1..314) stands for a
// character code symbolToChar[s] (0..313; 256 + k is a match of k + 3 bytes).
struct SymbolModel {
    // [s] = sum of frequency[s+1..314]; [0] is the total. Word-aligned, with one spare
    // entry, so that AddOneBelow may add to whole words of entries.
    alignas(8) u16 cumulative[LZ_SYMBOLS + 2];
    u16 frequency[LZ_SYMBOLS + 1];     // [0] is a sentinel 0; never increasing with s
    u16 symbolToChar[LZ_SYMBOLS + 1];  // [0] unused
    u16 charToSymbol[LZ_SYMBOLS];      // inverse of symbolToChar
};

void InitSymbolModel(SymbolModel* model);
// Halves every frequency (rounding up) and rebuilds the cumulative table.
void HalveSymbolModel(SymbolModel* model);

// The model's hot operations are inline: the decoder's symbol loop and the encoder's
// coding loop run them once per symbol. They do the same as the plain rules (a walk down
// the run of equal frequencies, a binary search, a loop adding one entry at a time) with
// searches of a fixed number of steps and word-wide adds, so that the branches they take
// do not depend on the data and cost no mispredictions. The installer's decoder, built
// for size (QUILL_DECODER_SMALL), takes the plain rules instead.

// Smallest index k in base..base + N - 1 with table[k] <= x, for a table that never
// increases with k and has such an index there. Halves the candidates N times over at
// compile time (314, 157, 79, 40, 20, 10, 5, 3, 2, 1 for the symbol model), each step a
// conditional move rather than a branch.
template <u32 N>
struct FirstNotAbove {
    static inline u32 Find(const u16* table, u32 x, u32 base)
    {
        const u32 half = N / 2;
        base += table[base + half - 1] > x ? half : 0;
        return FirstNotAbove<N - half>::Find(table, x, base);
    }
};
template <>
struct FirstNotAbove<1> {
    static inline u32 Find(const u16*, u32, u32 base) { return base; }
};

// Four 16-bit model entries, added or compared at once. The table is 8-byte aligned.
typedef unsigned long long __attribute__((may_alias)) ModelQuad;
const ModelQuad MODEL_LANES = 0x0001000100010001ull;  // 1 in each entry

// 1 in each of the first n (0..4) entries of a quad, 0 in the others.
static inline ModelQuad FirstLanes(u32 n)
{
    return MODEL_LANES & ((((ModelQuad)1 << (8 * n)) << (8 * n)) - 1);
}

// Adds 1 to cumulative[0..count-1], count <= LZ_SYMBOLS, four entries at a time: no entry
// carries into the next, as every one stays below 0x8000.
static inline void AddOneBelow(u16* cumulative, u32 count)
{
    ModelQuad* quad = (ModelQuad*)cumulative;
    u32 whole = count / 4;
    for (u32 w = 0; w < whole; w++)
        quad[w] += MODEL_LANES;
    quad[whole] += FirstLanes(count % 4);  // within the table: it has a spare entry
}

// Adapts the model after symbol s was coded: halving at the limit, then s moves to the
// front of its run of equal frequencies and that frequency is raised.
// Entry: 1 <= s <= 314 and the total below 0x8000. Return: the same holds, frequencies
// still never increase with the index, the two maps are still inverse permutations.
static inline void UpdateSymbolModel(SymbolModel* model, u32 s)
{
    if (model->cumulative[0] >= LZ_RESCALE_LIMIT)
        HalveSymbolModel(model);
    u16* frequency = model->frequency;
    // The front of s's run: the first index whose frequency is not above s's. Frequent
    // symbols rarely share theirs, so the search is skipped when s's neighbour differs.
    u32 f = frequency[s];
    u32 i = s;
#ifdef QUILL_DECODER_SMALL
    while (frequency[i - 1] == f)  // frequency[0] is 0, below every symbol's
        i--;
#else
    if (frequency[s - 1] == f)
        i = FirstNotAbove<LZ_SYMBOLS>::Find(frequency, f, 1);
#endif
    if (i < s) {
        u16 ci = model->symbolToChar[i];
        u16 cs = model->symbolToChar[s];
        model->symbolToChar[i] = cs;
        model->symbolToChar[s] = ci;
        model->charToSymbol[ci] = (u16)s;
        model->charToSymbol[cs] = (u16)i;
    }
    frequency[i]++;
#ifdef QUILL_DECODER_SMALL
    while (i)
        model->cumulative[--i]++;
#else
    AddOneBelow(model->cumulative, i);
#endif
}

// Smallest k in 1..n with table[k] <= key (key cut to 16 bits, as the format does), for a
// table that never increases with k and has table[n] = 0: a binary search, the one both
// models' plain rules use.
u32 SearchNotAbove(const u16* table, u32 n, u32 key);

// Smallest s with cumulative[s] <= key (key cut to 16 bits, as the format does).
//
// Most symbols decoded are frequent ones near the front. The first 16 entries are
// compared with the key all at once, a word of entries at a time: with an entry e and
// the key x both below 0x8000, 0x8000 + x - e keeps within its 16 bits and its top bit
// says e <= x. As the table falls, the entries above the key are entries 0..s-1 (entry 0,
// the total, is above every key a sound stream gives), so when fewer than 16 are above
// it their number is s. Otherwise a search of the rest finds s.
static inline u32 SearchSymbol(const SymbolModel* model, u32 key)
{
#ifdef QUILL_DECODER_SMALL
    // A binary search of 1..314: cumulative[314] is 0, so there is always an answer.
    return SearchNotAbove(model->cumulative, LZ_SYMBOLS, key);
#else
    const ModelQuad* quad = (const ModelQuad*)model->cumulative;
    u32 x = (u16)key;
    if (x < model->cumulative[0]) {
        ModelQuad probe = (0x8000 + (ModelQuad)x) * MODEL_LANES;
        ModelQuad notAbove = 0;
        for (u32 w = 0; w < 4; w++)
            notAbove += ((probe - quad[w]) >> 15) & MODEL_LANES;
        u32 above = 16 - (u32)((notAbove * MODEL_LANES) >> 48);
        if (above < 16)
            return above;
    }
    return FirstNotAbove<LZ_SYMBOLS>::Find(model->cumulative, x, 1);
#endif
}

// The fixed position model: positionCumulative[p] for p = 0..4096, [4096] = 0.
void InitPositionModel(u16* positionCumulative);
// Position p with positionCumulative[p + 1] <= key < positionCumulative[p].
u32 SearchPosition(const u16* positionCumulative, u32 key);

// Normalises the interval [low, high) (0 <= low < high <= 0x20000) after a symbol: while it
// does not straddle the half, double it, first dropping the upper half or, when it lies in
// the middle half, the lower quarter. Returns the number of doublings: the bits value takes in.
//
// Each step drops one leading bit of low and of high - 1 (17 bits wide). While those
// leading bits agree the steps are plain shifts (a middle-half step inside the lower half
// ends where a shift and an upper-half step would), so the whole run is counted at once
// with a bit scan. Then low starts 0 and high - 1 starts 1, and a middle-half step is due
// while the next bits are 1 in low and 0 in high - 1: it drops that bit of both and leaves
// their first bits as they were, so a second scan counts those steps too. Same result as
// stepping bit by bit, with no branch at all.
static inline u32 NormaliseInterval(u32* low, u32* high)
{
    u32 a = *low, b = *high - 1;
    // Agreeing leading bits: 0..17 (17 only when a == b; the or-ed bit caps the scan).
    u32 run = (u32)__builtin_clz(((a ^ b) << 15) | 0x4000);
    a = (a << run) & 0x1FFFF;
    b = ((b << run) | ((1u << run) - 1)) & 0x1FFFF;
    // Middle-half steps: the leading run of bits (from bit 15 down) set in a and clear
    // in b, 0..16. None when run was 17: a is 0 then.
    u32 under = (u32)__builtin_clz(~((a & ~b) << 16));
    a = (a << under) & 0xFFFF;
    b = LZ_HALF | (((b << under) | ((1u << under) - 1)) & 0xFFFF);
    *low = a;
    *high = b + 1;
    return run + under;
}

// --- Decoder (worker thread only; one process-wide instance) ---

// Prepares the decoder for the next file: fresh arithmetic state and bit input, counts
// zeroed, and the install context whose output buffer, handles and bar it uses.
void ResetDecoder(InstallContext* install);
// Reads uncompressedSize and the bit stream through ReadStream and writes the decoded
// bytes to install->outputHandle. Ends the worker with MSG_WRITE_ERROR on a failed write.
// Returns the payload's uncompressedSize.
u32 DecodeFile();
// Appends a byte to the output buffer, writing the buffer out when it is full.
void PutByte(u8 byte);
// The next bit of the bit stream, most significant first.
u32 NextBit();

// What the last DecodeFile produced, for the tools' checks: bytes decoded (a match may
// run past uncompressedSize in a damaged stream) .
u32 DecodedCount();
// The last byte the decoder took: for a sound payload one of the zero bytes behind its bit
// stream, as the decoder reads ahead into them.
u8 LastInputByte();

#endif
