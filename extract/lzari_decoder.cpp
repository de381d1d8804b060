// The LZARI decoder: one process-wide instance, used by the worker thread only.
#include "lzari.h"

#include "../archive/commands.h"
#include "../archive/context.h"
#include "../archive/messages.h"
#include "../archive/volume.h"
#include "worker.h"

// Decoder state. Everything is static: the decoder allocates nothing.
static u32 low, high, value;            // arithmetic decoder, unsigned 32-bit
static u16 inputByte;                   // current input byte, zero-extended
static u16 bitMask;                     // next bit of inputByte; 0: take a fresh byte
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
    value = 0;
    inputByte = 0;
    bitMask = 0;
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

u32 NextBit()
{
    bitMask >>= 1;
    if (bitMask == 0) {
        InstallContext* c = &context;
        // The common case of ReadStream, without the call.
        if (c->readPos < c->readFill)
            inputByte = c->readBuffer[c->readPos++];
        else
            inputByte = ReadStream(1, 0);
        bitMask = 0x80;
    }
    return (inputByte & bitMask) ? 1 : 0;
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

// Entry: low < high, high - low > 0x8000 after the previous step. Return: the same, with
// the interval doubled until it straddles the half or spans more than the middle half.
static void Normalise()
{
    for (;;) {
        if (low >= LZ_HALF) {
            value -= LZ_HALF;
            low -= LZ_HALF;
            high -= LZ_HALF;
        } else if (low >= LZ_FIRST_QUARTER && high <= LZ_THIRD_QUARTER) {
            value -= LZ_FIRST_QUARTER;
            low -= LZ_FIRST_QUARTER;
            high -= LZ_FIRST_QUARTER;
        } else if (high > LZ_HALF) {
            return;
        }
        low += low;
        high += high;
        value = 2 * value + NextBit();
    }
}

static u32 DecodeCharacter()
{
    u32 range = high - low;
    u32 total = symbols.cumulative[0];
    u32 x = ((value - low + 1) * total - 1) / range;
    u32 s = SearchSymbol(&symbols, x);
    high = low + (range * symbols.cumulative[s - 1]) / total;
    low = low + (range * symbols.cumulative[s]) / total;
    Normalise();
    u32 c = symbols.symbolToChar[s];
    UpdateSymbolModel(&symbols, s);
    return c;
}

static u32 DecodePosition()
{
    u32 range = high - low;
    u32 total = positionCumulative[0];
    u32 x = ((value - low + 1) * total - 1) / range;
    u32 p = SearchPosition(positionCumulative, x);
    high = low + (range * positionCumulative[p]) / total;
    low = low + (range * positionCumulative[p + 1]) / total;
    Normalise();
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
    for (u32 i = 0; i < LZ_INITIAL_BITS; i++)
        value = 2 * value + NextBit();
    InitSymbolModel(&symbols);
    InitPositionModel(positionCumulative);
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
