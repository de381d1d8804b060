// The LZARI decoder: one process-wide instance, used by the worker thread only.
#include "lzari.h"

#include "../archive/commands.h"
#include "../archive/context.h"
#include "../archive/held.h"
#include "../archive/messages.h"
#include "../archive/volume.h"
#include "../archive/abort.h"
#include "worker.h"

// Decoder state. Everything is static: the decoder allocates nothing.
//
// The arithmetic state is held as low, high and offset = value - low. Normalising only ever
// subtracts the same amount from all three or doubles them and shifts a bit into value, so
// the offset is untouched by the subtractions and the steps can be counted on low and high
// alone, taking the bits they need in one go. Bytes are still taken one at a time and only
// when a bit of them is needed, so the input stands where a bit-by-bit decoder leaves it.
//
// DecodeFile works on local copies of these (a Coder) and stores them back when the file
// is done; the calls it makes on its way (reading, writing, progress) do not use them.
//
// QUILL_DECODER_SMALL (the installer's default) leaves out the shortcuts marked below (the
// bytes taken three at a time, the position table, the copy without masks) and the symbol
// model's (lzari.h). Each gives the same result as the plain path beside it; under Wine the
// installer's speed is bounded by its window messages, not by these, and the program's
// bytes are scarce. The native tools keep them, and the sanitizer build runs the tests
// without them.
struct Coder {
    u32 low, high, offset;              // arithmetic decoder, unsigned 32-bit
    u32 bitBuffer;                      // bytes taken; its low bitCount bits are unread
    u32 bitCount;                       // 0..7 between symbols: unread bits of the last byte
};
static Coder state;
static u32 decodedCount;                // bytes decoded so far (a match may overshoot)
static InstallContext* install;         // output handle and buffer, entry name, bytesDone
// What the loop reaches at every symbol, together: DecodeFile holds its address (held.h).
static struct Tables {
    u32 outputCount;                    // bytes waiting in outputBuffer
    u32 progressThreshold;              // next progress report when decodedCount passes it
    u32 uncompressedSize;               // of the current file
    u8 ring[LZ_RING_SIZE];              // zero at start; 4036..4095 carried between files
    SymbolModel symbols;
    u16 positionCumulative[LZ_RING_SIZE + 1];
} tables;

void ResetDecoder(InstallContext* target)
{
    state.low = 0;
    state.high = LZ_FULL_RANGE;
    state.offset = 0;
    state.bitBuffer = 0;
    state.bitCount = 0;
    tables.outputCount = 0;
    tables.progressThreshold = 0;
    tables.uncompressedSize = 0;
    decodedCount = 0;
    install = target;
}

u32 DecodedCount()
{
    return decodedCount;
}

u8 LastInputByte()
{
    return (u8)state.bitBuffer;  // bytes enter it from the right
}

// The next count bits (0..17), most significant first. Takes the 0..3 bytes they need
// and no more; while three bytes wait in the read buffer it does so without a branch.
static inline u32 TakeBits(Coder& c, u32 count)
{
    u32 bytes = (count + 7 - c.bitCount) >> 3;  // bitCount <= 7 on entry
#ifndef QUILL_DECODER_SMALL
    InstallContext* x = &context;
    if (x->readFill - x->readPos >= 3) {
        const u8* p = x->readBuffer + x->readPos;
        u32 next = (u32)p[0] << 16 | (u32)p[1] << 8 | p[2];
        u32 shift = 8 * bytes;
        c.bitBuffer = (c.bitBuffer << shift) | (next >> (24 - shift));
        c.bitCount += shift;
        x->readPos += bytes;
    } else
#endif
    {
        // Byte by byte: near the end of the buffer (always in the small build); ReadStream
        // refills it and moves on to the next volume.
        for (; bytes; bytes--) {
            c.bitBuffer = (c.bitBuffer << 8) | ReadStream(1, 0);
            c.bitCount += 8;
        }
    }
    c.bitCount -= count;
    return (c.bitBuffer >> c.bitCount) & ((1u << count) - 1);
}

u32 NextBit()
{
    return TakeBits(state, 1);
}

static void WriteOutput()
{
    FileHandle file = install->outputHandle;
    if (PlatWrite(file, install->outputBuffer, tables.outputCount) != tables.outputCount)
        AbortWorker(MSG_WRITE_ERROR, install->entryName);
    tables.outputCount = 0;
}

void PutByte(u8 byte)
{
    if (tables.outputCount >= STREAM_BUFFER_SIZE)
        WriteOutput();
    install->outputBuffer[tables.outputCount++] = byte;
}

// Narrows the interval to [total - cumulativeLow, total - cumulativeHigh) of the model's
// total, measured from the top as the models store it, then normalises.
// Entry: high - low > 0x8000 > total, so every symbol's share is at least 1 and no
// division is by zero. Return: the same holds again.
static inline void Narrow(Coder& c, u32 range, u32 upper, u32 lower, u32 total)
{
    u32 newLow = c.low + (range * lower) / total;
    c.high = c.low + (range * upper) / total;
    c.offset -= newLow - c.low;
    c.low = newLow;
    // The narrowed range is at least 1 and normalising stops once it exceeds 0x8000, so
    // there are at most 17 steps: within what TakeBits serves at once.
    u32 steps = NormaliseInterval(&c.low, &c.high);
    c.offset = (c.offset << steps) | TakeBits(c, steps);
}

static inline u32 DecodeCharacter(Coder& c, Tables& t)
{
    u32 range = c.high - c.low;
    u32 total = t.symbols.cumulative[0];
    u32 s = SearchSymbol(&t.symbols, ((c.offset + 1) * total - 1) / range);
    Narrow(c, range, t.symbols.cumulative[s - 1], t.symbols.cumulative[s], total);
    u32 character = t.symbols.symbolToChar[s];
    UpdateSymbolModel(&t.symbols, s);
    return character;
}

// The position model never changes: its total is a constant (divisions become
// multiplications) and a table of where each run of POSITION_BUCKET keys starts replaces the
// binary search by a step or two. Same result as SearchPosition for every key.
#ifndef QUILL_DECODER_SMALL
enum { POSITION_BUCKET_BITS = 2 };
static u16 positionStart[(LZ_POSITION_TOTAL >> POSITION_BUCKET_BITS) + 1];

static void InitPositionStart()
{
    u32 p = 0;
    for (u32 b = 0; b <= (LZ_POSITION_TOTAL >> POSITION_BUCKET_BITS); b++) {
        // Largest key of the bucket: its position is the smallest any key of it can have.
        u32 key = (b << POSITION_BUCKET_BITS) + (1u << POSITION_BUCKET_BITS) - 1;
        while (p > 0 && tables.positionCumulative[p] <= key)
            p--;
        while (p < LZ_RING_SIZE - 1 && tables.positionCumulative[p + 1] > key)
            p++;
        positionStart[b] = (u16)p;
    }
}

#endif

static inline u32 DecodePosition(Coder& c, Tables& t)
{
    u32 range = c.high - c.low;
    u32 x = (u16)(((c.offset + 1) * LZ_POSITION_TOTAL - 1) / range);
#ifdef QUILL_DECODER_SMALL
    u32 p = SearchPosition(t.positionCumulative, x);
#else
    u32 p = 0;  // keys past the total only come from damaged streams; the search gives 0
    if (x < LZ_POSITION_TOTAL) {
        p = positionStart[x >> POSITION_BUCKET_BITS];
        while (t.positionCumulative[p + 1] > x)
            p++;
    }
#endif
    Narrow(c, range, t.positionCumulative[p], t.positionCumulative[p + 1], LZ_POSITION_TOTAL);
    return p;
}

// Entry: ResetDecoder has run and install->outputHandle is open. Return: the payload's
// bytes are written and the input stands behind the last byte the decoder took, which
// for a sound payload lies within the four zero bytes behind the bit stream.
u32 DecodeFile()
{
    Tables& t = *Held(&tables);
    // Read in place, as the record headers are (a little-endian host, format.h).
    ReadStream(4, &t.uncompressedSize);
    if (t.uncompressedSize == 0)
        return 0;
    Coder c = state;
    c.offset = TakeBits(c, LZ_INITIAL_BITS);  // value, with low still 0
    InitSymbolModel(&t.symbols);
    if (!t.positionCumulative[0]) {  // fixed for good: built once
        InitPositionModel(t.positionCumulative);
#ifndef QUILL_DECODER_SMALL
        InitPositionStart();
#endif
    }
    for (u32 i = 0; i < LZ_FIRST_WRITE; i++)
        t.ring[i] = ' ';
    u32 r = LZ_FIRST_WRITE;
    u32 done = 0;
    u8* out = install->outputBuffer;
    while (done < t.uncompressedSize) {
        u32 character = DecodeCharacter(c, t);
        // A literal is a match of one byte that starts where it is put.
        u32 i = r, j = 1;
        if (character < 256) {
            t.ring[r] = (u8)character;
        } else {
            i = (r - DecodePosition(c, t) - 1) & LZ_RING_MASK;
            j = character - (255 - LZ_THRESHOLD);
        }
        done += j;
        if (done < j)  // a damaged stream near 4 GiB must not wrap into a second pass
            done = 0xFFFFFFFF;
#ifndef QUILL_DECODER_SMALL
        if (i + j <= LZ_RING_SIZE && r + j <= LZ_RING_SIZE && t.outputCount + j <= STREAM_BUFFER_SIZE) {
            u8* to = out + t.outputCount;
            for (u32 k = 0; k < j; k++) {
                u8 b = t.ring[i + k];
                t.ring[r + k] = b;
                to[k] = b;
            }
            t.outputCount += j;
            r = (r + j) & LZ_RING_MASK;
        } else
#endif
        {
            for (u32 k = 0; k < j; k++) {
                u8 b = t.ring[(i + k) & LZ_RING_MASK];
                if (t.outputCount >= STREAM_BUFFER_SIZE)
                    WriteOutput();
                out[t.outputCount++] = b;
                t.ring[r] = b;
                r = (r + 1) & LZ_RING_MASK;
            }
        }
        if (done > t.progressThreshold) {
            decodedCount = done;
            PlatBarCommand(BAR_SETPOS, install->bytesDone + t.progressThreshold);
            t.progressThreshold += LZ_PROGRESS_STEP;
            if (PlatWorkerSafePoint())
                BreakWorker();
        }
    }
    state = c;
    decodedCount = done;
    if (t.outputCount)
        WriteOutput();
    return t.uncompressedSize;
}
