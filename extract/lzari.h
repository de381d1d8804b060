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
    u16 frequency[LZ_SYMBOLS + 1];     // [0] is a sentinel 0; never increasing with s
    u16 cumulative[LZ_SYMBOLS + 1];    // [s] = sum of frequency[s+1..314]; [0] is the total
    u16 symbolToChar[LZ_SYMBOLS + 1];  // [0] unused
    u16 charToSymbol[LZ_SYMBOLS];      // inverse of symbolToChar
};

void InitSymbolModel(SymbolModel* model);
// Adapts the model after symbol s was coded: halving at the limit, then s moves to the
// front of its run of equal frequencies and that frequency is raised.
void UpdateSymbolModel(SymbolModel* model, u32 s);
// Smallest s with cumulative[s] <= key (key cut to 16 bits, as the format does).
u32 SearchSymbol(const SymbolModel* model, u32 key);

// The fixed position model: positionCumulative[p] for p = 0..4096, [4096] = 0.
void InitPositionModel(u16* positionCumulative);
// Position p with positionCumulative[p + 1] <= key < positionCumulative[p].
u32 SearchPosition(const u16* positionCumulative, u32 key);

// Normalises the interval [low, high) (0 <= low < high <= 0x20000) after a symbol: while it
// does not straddle the half, double it, first dropping the upper half or, when it lies in
// the middle half, the lower quarter. Returns the number of doublings: the bits value takes in.
//
// Each step drops one leading bit of low and of high - 1. While those leading bits agree the
// steps are plain shifts (a middle-half step inside the lower half ends where a shift and
// an upper-half step would), so the whole run is counted at once with a bit scan; then
// middle-half steps follow one at a time until the interval stands across the half. Same
// result as stepping bit by bit, with far fewer branches to mispredict.
static inline u32 NormaliseInterval(u32* low, u32* high)
{
    u32 a = *low, b = *high - 1, steps = 0;
    for (;;) {
        u32 stops = (a ^ b) & 0x1FFFF;
        u32 run = stops ? (u32)__builtin_clz(stops) - 15 : 17;
        a = (a << run) & 0x1FFFF;
        b = ((b << run) | ((1u << run) - 1)) & 0x1FFFF;
        steps += run;
        if (a < LZ_FIRST_QUARTER || a >= LZ_HALF || b >= LZ_THIRD_QUARTER)
            break;
        a = (a - LZ_FIRST_QUARTER) << 1;
        b = ((b - LZ_FIRST_QUARTER) << 1) | 1;
        steps++;
    }
    *low = a;
    *high = b + 1;
    return steps;
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
