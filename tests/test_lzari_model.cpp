// The models: searches find the symbol or position owning a key, the adaptation keeps the
// frequencies sorted and the maps inverse.
#include <gtest/gtest.h>

#include <random>

#include "extract/lzari.h"

TEST(LzariModel, SearchesFindTheSymbolOwningTheKey)
{
    SymbolModel model;
    InitSymbolModel(&model);
    std::mt19937 random(5);
    for (int round = 0; round < 40000; round++) {
        u32 total = model.cumulative[0];
        for (u32 key : {0u, total - 1, (u32)(random() % total)}) {
            u32 s = SearchSymbol(&model, key);
            ASSERT_LE(model.cumulative[s], key);
            ASSERT_GT(model.cumulative[s - 1], key);
        }
        UpdateSymbolModel(&model, 1 + (random() % 20 == 0 ? random() % LZ_SYMBOLS : random() % 8));
        for (u32 s = 1; s < LZ_SYMBOLS; s++)
            ASSERT_GE(model.frequency[s], model.frequency[s + 1]);
        ASSERT_LT(model.cumulative[0], 0x8000u);
    }
    for (u32 c = 0; c < LZ_SYMBOLS; c++)
        ASSERT_EQ(c, model.symbolToChar[model.charToSymbol[c]]);

    u16 positions[LZ_RING_SIZE + 1];
    InitPositionModel(positions);
    EXPECT_EQ((u32)LZ_POSITION_TOTAL, positions[0]);
    EXPECT_EQ(49u, (u32)(positions[0] - positions[1]));
    EXPECT_EQ(2u, (u32)(positions[LZ_RING_SIZE - 1] - positions[LZ_RING_SIZE]));
    for (u32 key = 0; key < LZ_POSITION_TOTAL; key++) {
        u32 p = SearchPosition(positions, key);
        ASSERT_LE(positions[p + 1], key);
        ASSERT_GT(positions[p], key);
    }
}
