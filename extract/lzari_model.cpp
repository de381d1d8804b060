// The LZARI models, shared by the decoder and the encoder so that both adapt identically.
#include "lzari.h"

void InitSymbolModel(SymbolModel* model)
{
    model->cumulative[LZ_SYMBOLS] = 0;
    for (u32 s = LZ_SYMBOLS; s >= 1; s--) {
        u32 c = s - 1;
        model->charToSymbol[c] = (u16)s;
        model->symbolToChar[s] = (u16)c;
        model->frequency[s] = 1;
        model->cumulative[s - 1] = (u16)(model->cumulative[s] + 1);
    }
    model->frequency[0] = 0;
    model->symbolToChar[0] = 0;
}

// Entry: 1 <= s <= 314 and the total below 0x8000. Return: the same holds, frequencies
// still never increase with the index, the two maps are still inverse permutations.
void UpdateSymbolModel(SymbolModel* model, u32 s)
{
    u16* frequency = model->frequency;
    u16* cumulative = model->cumulative;
    if (cumulative[0] >= LZ_RESCALE_LIMIT) {
        u32 c = 0;
        for (u32 i = LZ_SYMBOLS; i >= 1; i--) {
            cumulative[i] = (u16)c;
            frequency[i] = (u16)((frequency[i] + 1) >> 1);
            c += frequency[i];
        }
        cumulative[0] = (u16)c;
    }
    // The sentinel frequency[0] = 0 stops the walk at 1 at the latest.
    u32 i = s;
    while (frequency[i] == frequency[i - 1])
        i--;
    if (i < s) {
        u16 ci = model->symbolToChar[i];
        u16 cs = model->symbolToChar[s];
        model->symbolToChar[i] = cs;
        model->symbolToChar[s] = ci;
        model->charToSymbol[ci] = (u16)s;
        model->charToSymbol[cs] = (u16)i;
    }
    frequency[i]++;
    while (i > 0)
        cumulative[--i]++;
}

u32 SearchSymbol(const SymbolModel* model, u32 key)
{
    u16 x = (u16)key;
    u32 lo = 1, hi = LZ_SYMBOLS;
    while (lo < hi) {
        u32 k = (lo + hi) >> 1;
        if (model->cumulative[k] > x)
            lo = k + 1;
        else
            hi = k;
    }
    return lo;
}

void InitPositionModel(u16* positionCumulative)
{
    positionCumulative[LZ_RING_SIZE] = 0;
    for (u32 i = LZ_RING_SIZE; i >= 1; i--)
        positionCumulative[i - 1] = (u16)(positionCumulative[i] + 10000 / (i + 200));
}

u32 SearchPosition(const u16* positionCumulative, u32 key)
{
    u16 x = (u16)key;
    u32 lo = 1, hi = LZ_RING_SIZE;
    while (lo < hi) {
        u32 k = (lo + hi) >> 1;
        if (positionCumulative[k] > x)
            lo = k + 1;
        else
            hi = k;
    }
    return lo - 1;
}
