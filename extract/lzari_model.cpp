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
    model->cumulative[LZ_SYMBOLS + 1] = 0;  // spare: only ever has 0 added
}

void HalveSymbolModel(SymbolModel* model)
{
    u32 c = 0;
    for (u32 i = LZ_SYMBOLS; i >= 1; i--) {
        model->cumulative[i] = (u16)c;
        model->frequency[i] = (u16)((model->frequency[i] + 1) >> 1);
        c += model->frequency[i];
    }
    model->cumulative[0] = (u16)c;
}

void InitPositionModel(u16* positionCumulative)
{
    positionCumulative[LZ_RING_SIZE] = 0;
    for (u32 i = LZ_RING_SIZE; i >= 1; i--)
        positionCumulative[i - 1] = (u16)(positionCumulative[i] + 10000 / (i + 200));
}

__attribute__((noinline)) u32 SearchNotAbove(const u16* table, u32 n, u32 key)
{
    u16 x = (u16)key;
    u32 lo = 1, hi = n;
    while (lo < hi) {
        u32 k = (lo + hi) >> 1;
        if (table[k] > x)
            lo = k + 1;
        else
            hi = k;
    }
    return lo;
}

u32 SearchPosition(const u16* positionCumulative, u32 key)
{
    return SearchNotAbove(positionCumulative, LZ_RING_SIZE, key) - 1;
}
