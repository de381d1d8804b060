// The LZARI decoder: one process-wide instance, used by the worker thread only.
#include "lzari.h"

#include "../archive/commands.h"
#include "../archive/context.h"
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
static u32 low, high, offset;           // arithmetic decoder, unsigned 32-bit
static u32 bitBuffer;                   // bytes taken; its low bitCount bits are unread
static u32 bitCount;                    // 0..7 between symbols: unread bits of the last byte
static u32 uncompressedSize;            // of the current file
static u32 decodedCount;                // bytes decoded so far (a match may overshoot)
static u32 outputCount;                 // bytes waiting in outputBuffer
static u32 progressThreshold;           // next progress report when decodedCount passes it
static InstallContext* install;         // output handle and buffer, entry name, bytesDone
static u8 ring[LZ_RING_SIZE];           // zero at start; 4036..4095 carried between files
static SymbolModel symbols;
static u16 positionCumulative[LZ_RING_SIZE + 1];

void ResetDecoder(InstallContext* target)
{
    low = 0;
    high = LZ_FULL_RANGE;
    offset = 0;
    bitBuffer = 0;
    bitCount = 0;
    outputCount = 0;
    progressThreshold = 0;
    uncompressedSize = 0;
    decodedCount = 0;
    install = target;
}

u32 DecodedCount()
{
    return decodedCount;
}

u8 LastInputByte()
{
    return (u8)bitBuffer;  // bytes enter it from the right
}

// The next count bits (at most 24), most significant first.
static inline u32 TakeBits(u32 count)
{
    while (bitCount < count) {
        InstallContext* c = &context;
        u32 byte;
        // The common case of ReadStream, without the call.
        if (c->readPos < c->readFill)
            byte = c->readBuffer[c->readPos++];
        else
            byte = ReadStream(1, 0);
        bitBuffer = (bitBuffer << 8) | byte;
        bitCount += 8;
    }
    bitCount -= count;
    return (bitBuffer >> bitCount) & ((1u << count) - 1);
}

u32 NextBit()
{
    return TakeBits(1);
}

static void WriteOutput()
{
    FileHandle file = install->outputHandle;
    if (PlatWrite(file, install->outputBuffer, outputCount) != outputCount)
        AbortWorker(MSG_WRITE_ERROR, install->entryName);
    outputCount = 0;
}

void PutByte(u8 byte)
{
    if (outputCount >= STREAM_BUFFER_SIZE)
        WriteOutput();
    install->outputBuffer[outputCount++] = byte;
}

// Narrows the interval to [total - cumulativeLow, total - cumulativeHigh) of the model's
// total, measured from the top as the models store it, then normalises.
// Entry: high - low > 0x8000 > total, so every symbol's share is at least 1 and no
// division is by zero. Return: the same holds again.
static inline void Narrow(u32 range, u32 upper, u32 lower, u32 total)
{
    u32 newLow = low + (range * lower) / total;
    high = low + (range * upper) / total;
    offset -= newLow - low;
    low = newLow;
    u32 steps = NormaliseInterval(&low, &high);
    // The narrowed range is at least 1 and the loop stops once it exceeds 0x8000, so
    // there are at most 17 steps: within what TakeBits serves at once.
    if (steps)
        offset = (offset << steps) | TakeBits(steps);
}

static u32 DecodeCharacter()
{
    u32 range = high - low;
    u32 total = symbols.cumulative[0];
    u32 key = (u16)(((offset + 1) * total - 1) / range);
    // Frequent symbols sit at the front: a short forward scan finds most of them with one
    // mispredicted branch, where the binary search pays for several.
    u32 s = 1;
    while (s < 16 && symbols.cumulative[s] > key)
        s++;
    if (symbols.cumulative[s] > key)
        s = SearchSymbol(&symbols, key);
    Narrow(range, symbols.cumulative[s - 1], symbols.cumulative[s], total);
    u32 c = symbols.symbolToChar[s];
    UpdateSymbolModel(&symbols, s);
    return c;
}

// The position model never changes: its total is a constant (divisions become
// multiplications) and a table of where each run of POSITION_BUCKET keys starts replaces the
// binary search by a step or two. Same result as SearchPosition for every key.
enum { POSITION_BUCKET_BITS = 2 };
static u16 positionStart[(LZ_POSITION_TOTAL >> POSITION_BUCKET_BITS) + 1];

static void InitPositionStart()
{
    u32 p = 0;
    for (u32 b = 0; b <= (LZ_POSITION_TOTAL >> POSITION_BUCKET_BITS); b++) {
        // Largest key of the bucket: its position is the smallest any key of it can have.
        u32 key = (b << POSITION_BUCKET_BITS) + (1u << POSITION_BUCKET_BITS) - 1;
        while (p > 0 && positionCumulative[p] <= key)
            p--;
        while (p < LZ_RING_SIZE - 1 && positionCumulative[p + 1] > key)
            p++;
        positionStart[b] = (u16)p;
    }
}

static u32 DecodePosition()
{
    u32 range = high - low;
    u32 x = (u16)(((offset + 1) * LZ_POSITION_TOTAL - 1) / range);
    u32 p = 0;  // keys past the total only come from damaged streams; the search gives 0
    if (x < LZ_POSITION_TOTAL) {
        p = positionStart[x >> POSITION_BUCKET_BITS];
        while (positionCumulative[p + 1] > x)
            p++;
    }
    Narrow(range, positionCumulative[p], positionCumulative[p + 1], LZ_POSITION_TOTAL);
    return p;
}

// Entry: ResetDecoder has run and install->outputHandle is open. Return: the payload's
// bytes are written and the input stands behind the last byte the decoder took, which
// for a sound payload lies within the four zero bytes behind the bit stream.
u32 DecodeFile()
{
    u8 size[4];
    ReadStream(4, size);
    uncompressedSize = (u32)size[0] | (u32)size[1] << 8 | (u32)size[2] << 16 | (u32)size[3] << 24;
    if (uncompressedSize == 0)
        return 0;
    offset = TakeBits(LZ_INITIAL_BITS);  // value, with low still 0
    InitSymbolModel(&symbols);
    if (!positionCumulative[0]) {  // fixed for good: built once
        InitPositionModel(positionCumulative);
        InitPositionStart();
    }
    for (u32 i = 0; i < LZ_FIRST_WRITE; i++)
        ring[i] = ' ';
    u32 r = LZ_FIRST_WRITE;
    decodedCount = 0;
    while (decodedCount < uncompressedSize) {
        u32 c = DecodeCharacter();
        if (c < 256) {
            PutByte((u8)c);
            ring[r] = (u8)c;
            r = (r + 1) & LZ_RING_MASK;
            decodedCount++;
        } else {
            u32 i = (r - DecodePosition() - 1) & LZ_RING_MASK;
            u32 j = c - (255 - LZ_THRESHOLD);
            decodedCount += j;
            if (decodedCount < j)  // a damaged stream near 4 GiB must not wrap into a second pass
                decodedCount = 0xFFFFFFFF;
            for (u32 k = 0; k < j; k++) {
                u8 b = ring[(i + k) & LZ_RING_MASK];
                PutByte(b);
                ring[r] = b;
                r = (r + 1) & LZ_RING_MASK;
            }
        }
        if (decodedCount > progressThreshold) {
            PlatBarCommand(BAR_SETPOS, install->bytesDone + progressThreshold);
            progressThreshold += LZ_PROGRESS_STEP;
            if (PlatWorkerSafePoint())
                BreakWorker();
        }
    }
    if (outputCount)
        WriteOutput();
    return uncompressedSize;
}
