// The models: searches find the symbol or position owning a key, the adaptation keeps the
// frequencies sorted and the maps inverse.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "extract/lzari.h"

namespace {

// The normalisation step by step, as the coding defines it.
u32 PlainNormalise(u32* low, u32* high)
{
    u32 steps = 0;
    for (;;) {
        if (*low >= LZ_HALF) {
            *low -= LZ_HALF;
            *high -= LZ_HALF;
        } else if (*low >= LZ_FIRST_QUARTER && *high <= LZ_THIRD_QUARTER) {
            *low -= LZ_FIRST_QUARTER;
            *high -= LZ_FIRST_QUARTER;
        } else if (*high > LZ_HALF) {
            return steps;
        }
        *low *= 2;
        *high *= 2;
        steps++;
    }
}

::testing::AssertionResult SameNormalisation(u32 low, u32 high)
{
    u32 plainLow = low, plainHigh = high, fastLow = low, fastHigh = high;
    u32 plainSteps = PlainNormalise(&plainLow, &plainHigh);
    u32 fastSteps = NormaliseInterval(&fastLow, &fastHigh);
    if (plainSteps == fastSteps && plainLow == fastLow && plainHigh == fastHigh)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << std::hex << "[" << low << ", " << high << "): steps "
                                         << plainSteps << " vs " << fastSteps << ", to [" << plainLow
                                         << ", " << plainHigh << ") vs [" << fastLow << ", " << fastHigh << ")";
}

// The model's adaptation step by step, as the coding defines it: halving at the limit, a
// walk down the run of equal frequencies, the exchange, the raise, one add per entry.
void PlainUpdate(SymbolModel* m, u32 s)
{
    if (m->cumulative[0] >= LZ_RESCALE_LIMIT) {
        u32 c = 0;
        for (u32 i = LZ_SYMBOLS; i >= 1; i--) {
            m->cumulative[i] = (u16)c;
            m->frequency[i] = (u16)((m->frequency[i] + 1) / 2);
            c += m->frequency[i];
        }
        m->cumulative[0] = (u16)c;
    }
    u32 i = s;
    while (m->frequency[i] == m->frequency[i - 1])
        i--;
    if (i < s) {
        u16 ci = m->symbolToChar[i], cs = m->symbolToChar[s];
        m->symbolToChar[i] = cs;
        m->symbolToChar[s] = ci;
        m->charToSymbol[ci] = (u16)s;
        m->charToSymbol[cs] = (u16)i;
    }
    m->frequency[i]++;
    for (u32 k = i; k-- > 0;)
        m->cumulative[k]++;
}

// The plain linear search for a key, as the coding defines it.
u32 PlainSearch(const u16* table, u32 key)
{
    u32 s = 1;
    while (table[s] > (u16)key)
        s++;
    return s;
}

}  // namespace

// The model's word-wide adds and fixed-step searches against the plain rules, table by
// table after every update, over symbol mixes that keep the model in long runs of equal
// frequencies (early in a file), in a few frequent symbols (text), and through several
// halvings. Every symbol and every key boundary is tried in some state.
TEST(LzariModel, AdaptationAndSearchEqualThePlainRules)
{
    std::mt19937 random(17);
    for (u32 spread : {(u32)LZ_SYMBOLS, 40u, 6u}) {
        SCOPED_TRACE(spread);
        SymbolModel fast, plain;
        InitSymbolModel(&fast);
        InitSymbolModel(&plain);
        for (int round = 0; round < 120000; round++) {
            u32 total = plain.cumulative[0];
            for (u32 key : {0u, total - 1, (u32)(random() % total), (u32)plain.cumulative[1 + random() % LZ_SYMBOLS]})
                ASSERT_EQ(PlainSearch(plain.cumulative, key), SearchSymbol(&fast, key)) << "key " << key;
            // Skewed towards the front, now and then anywhere.
            u32 s = random() % 16 == 0 ? 1 + random() % LZ_SYMBOLS : 1 + (random() % spread) * (random() % spread) / spread;
            PlainUpdate(&plain, s);
            UpdateSymbolModel(&fast, s);
            ASSERT_EQ(0, memcmp(plain.cumulative, fast.cumulative, sizeof(u16) * (LZ_SYMBOLS + 1))) << "round " << round;
            ASSERT_EQ(0, memcmp(plain.frequency, fast.frequency, sizeof(plain.frequency))) << "round " << round;
            ASSERT_EQ(0, memcmp(plain.symbolToChar + 1, fast.symbolToChar + 1, sizeof(u16) * LZ_SYMBOLS));
            ASSERT_EQ(0, memcmp(plain.charToSymbol, fast.charToSymbol, sizeof(plain.charToSymbol)));
            ASSERT_EQ(0u, fast.cumulative[LZ_SYMBOLS + 1]) << "the spare entry was added to";
        }
    }
}

TEST(LzariModel, NormalisationInRunsEqualsStepByStep)
{
    // Every narrow interval, every interval near the quarter marks, then random intervals
    // of every width class.
    for (u32 width = 1; width <= 64; width++)
        for (u32 low = 0; low + width <= LZ_FULL_RANGE; low += 1 + (low % 7))
            ASSERT_TRUE(SameNormalisation(low, low + width));
    const u32 marks[] = {0, LZ_FIRST_QUARTER, LZ_HALF, LZ_THIRD_QUARTER, LZ_FULL_RANGE};
    for (u32 a : marks)
        for (u32 b : marks)
            for (int da = -3; da <= 3; da++)
                for (int db = -3; db <= 3; db++) {
                    long low = (long)a + da, high = (long)b + db;
                    if (low >= 0 && low < high && high <= LZ_FULL_RANGE)
                        ASSERT_TRUE(SameNormalisation((u32)low, (u32)high));
                }
    std::mt19937 random(99);
    for (int i = 0; i < 2000000; i++) {
        u32 width = 1 + (random() % LZ_FULL_RANGE) % (1u << (random() % 18));
        u32 low = random() % (LZ_FULL_RANGE - width + 1);
        ASSERT_TRUE(SameNormalisation(low, low + width));
    }
}

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
