// The LZARI encoder: hash chains over the 4096-byte window find the matches, a lazy parse
// priced by the live models chooses between them, and an arithmetic coder with a
// pending-bit counter writes what the decoder's Normalise reads back.
#include "lzari_encoder.h"

#include <assert.h>
#include <math.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

#include "../extract/lzari.h"

namespace {

enum {
    HASH_BITS = 14,
    HASH_SIZE = 1 << HASH_BITS,
    CHAIN_DEPTH = 48,      // candidates tried per search: speed against ratio
    NICE_LENGTH = 32,      // a match this long is taken without looking a byte further
    BEST_CHAIN_DEPTH = 512, // candidates tried per position by the cost-based parse
    BEST_BLOCK = 4096,     // positions the cost-based parse plans at once
    BEST_NICE_LENGTH = 40, // the cost-based parse does not search within a match this long
    PRICE_BITS = 6,        // prices are in 1/64 bit
    NO_POSITION = -1
};

// Prices from the models, in 1/64 bit: what coding a symbol costs with the model as it
// stands. Computed once; the position model never changes.
struct PriceTables {
    u16 log2[LZ_RESCALE_LIMIT + 1];  // log2(x) for x = 1..0x7FFF; [0] unused
    u16 position[LZ_RING_SIZE];      // cost of position p
    u16 positionCumulative[LZ_RING_SIZE + 1];
};

const PriceTables& Tables()
{
    static const PriceTables* tables = [] {
        static PriceTables t;
        t.log2[0] = 0;
        for (u32 x = 1; x <= LZ_RESCALE_LIMIT; x++)
            t.log2[x] = (u16)lround(log2((double)x) * (1 << PRICE_BITS));
        InitPositionModel(t.positionCumulative);
        assert(t.positionCumulative[0] == LZ_POSITION_TOTAL);
        double total = t.positionCumulative[0];
        for (u32 p = 0; p < LZ_RING_SIZE; p++) {
            double weight = t.positionCumulative[p] - t.positionCumulative[p + 1];
            t.position[p] = (u16)lround(log2(total / weight) * (1 << PRICE_BITS));
        }
        return &t;
    }();
    return *tables;
}

// The arithmetic coder. low and high are the decoder's, step for step; the decoder folds
// an underflow step into value at once, the coder cannot know the bit yet and counts it
// in pending until the next settled bit, which is followed by pending opposite bits.
struct Coder {
    u32 low;
    u32 high;
    u32 pending;              // underflow steps whose bit is still open
    u32 bitCount;             // 0..31 bits waiting in the low end of `bits`
    u64 bits;                 // output bits, the first one highest; above bitCount: stale
    std::vector<u8>* out;     // the stream goes to (*out)[at...]; grown as needed
    size_t at;
    const LzariWrite* sink;   // when set, out is a buffer whose bytes go on to it
};

enum { SINK_PIECE = 1 << 16 };  // bytes the coder gathers before it hands them on

// Room for 4096 more bytes at c.at. The capacity doubles when it must grow, so that
// appending payload after payload to one large archive stays linear.
__attribute__((noinline)) void GrowOutput(Coder& c)
{
    std::vector<u8>& out = *c.out;
    if (c.sink && c.at >= SINK_PIECE) {
        (*c.sink)(out.data(), c.at);
        c.at = 0;
    }
    size_t wanted = c.at + 4096;
    if (wanted > out.capacity())
        out.reserve(std::max(wanted, out.capacity() * 2));
    out.resize(wanted);
}

// Appends the count (1..32) low bits of value, the highest first. Whole 32-bit words go
// out at once; the vector is grown ahead so the common path is a store.
inline void PutBits(Coder& c, u32 value, u32 count)
{
    c.bits = (c.bits << count) | value;
    c.bitCount += count;
    if (c.bitCount >= 32) {
        c.bitCount -= 32;
        u32 word = (u32)(c.bits >> c.bitCount);
        if (c.at + 4 > c.out->size())
            GrowOutput(c);
        u8* to = c.out->data() + c.at;
        to[0] = (u8)(word >> 24);
        to[1] = (u8)(word >> 16);
        to[2] = (u8)(word >> 8);
        to[3] = (u8)word;
        c.at += 4;
    }
}

// The bit, then pending opposite bits: 1 0...0 or 0 1...1.
inline void SettleBit(Coder& c, u32 bit)
{
    u32 n = c.pending;
    c.pending = 0;
    if (n < 31) {
        PutBits(c, bit ? 1u << n : (1u << n) - 1, n + 1);
        return;
    }
    PutBits(c, bit, 1);
    u32 fill = bit ? 0 : 0xFFFFFFFFu;
    for (; n >= 32; n -= 32)
        PutBits(c, fill, 32);
    if (n)
        PutBits(c, fill >> (32 - n), n);
}

// Entry: high - low > 0x8000 and cumLow < cumHigh <= total <= 0x7FFF, so the products fit
// in 32 bits and the new interval is not empty. Return: the interval is narrowed exactly
// as the decoder narrows it and doubled as often as its Normalise doubles it, each
// doubling having written one bit or added one to pending.
//
// The doublings are counted rather than looped over, which spares a mispredicted branch
// per bit. With h = high - 1, both 17 bits wide: Normalise first doubles while the top
// bits of low and h agree (high <= half, or low >= half), settling that bit; then, with
// low = 01.. and h = 10.., it doubles once per further bit where low has a 1 and h a 0
// (the middle half), each an underflow step that drops bit 15 of both; then it stops.
// Doubling shifts a 0 into low and a 1 into h. Where two cases hold at once (low in the
// second quarter, high at most half) the decoder takes the underflow step and the coder
// settles a 0. Their intervals then differ by a half, so neither straddles the half and
// both double alike; they agree again by the time the doubling stops, and the decoder's
// value moves with its interval, so it decodes the same symbols.
template <u32 FixedTotal>
inline void EncodeInterval(Coder& state, u32 cumHigh, u32 cumLow, u32 total)
{
    Coder c = state;
    u32 low = c.low;
    u32 range = c.high - low;
    u32 h, lowStep;
    if (FixedTotal) {
        // A constant divisor: the compiler multiplies instead of dividing.
        h = low + range * cumHigh / FixedTotal - 1;
        lowStep = range * cumLow / FixedTotal;
    } else {
        h = low + range * cumHigh / total - 1;
        lowStep = range * cumLow / total;
    }
    low += lowStep;
    // Leading bits that agree: 0..17 (17 only when low == h).
    u32 k = (u32)__builtin_clz(((low ^ h) << 15) | 0x4000);
    if (k) {
        u32 settled = low >> (17 - k);
        SettleBit(c, settled >> (k - 1));
        if (k > 1)
            PutBits(c, settled & ((1u << (k - 1)) - 1), k - 1);
        low = (low << k) & 0x1FFFF;
        h = ((h << k) | ((1u << k) - 1)) & 0x1FFFF;
    }
    // Underflow steps: from bit 15 down, the run of bits with low 1 and h 0 (at most 16;
    // none when k was 17, where low is 0).
    u32 u = (u32)__builtin_clz(~((low & ~h) << 16));
    if (u) {
        c.pending += u;
        low = (low & LZ_HALF) | ((low << u) & 0xFFFF);
        h = (h & LZ_HALF) | (((h << u) | ((1u << u) - 1)) & 0xFFFF);
    }
    c.low = low;
    c.high = h + 1;
    state = c;
}

// Ends the stream. After normalising, low < half < high, so the half itself is a code
// value inside every interval coded: a 1 and the pending 0s. The decoder's 17-bit window
// then reaches 16 bits beyond them, into the first two of the four zero bytes that follow,
// which also supply the zeros that the half is made of.
void FinishCoder(Coder& c)
{
    SettleBit(c, 1);
    // Pad to whole bytes with zeros, then give back the bytes not used.
    u32 tail = (8 - (c.bitCount & 7)) & 7;
    if (tail)
        PutBits(c, 0, tail);
    if (c.at + 4 > c.out->size())
        GrowOutput(c);
    for (; c.bitCount; c.bitCount -= 8)
        (*c.out)[c.at++] = (u8)(c.bits >> (c.bitCount - 8));
    c.out->resize(c.at);
    if (c.sink && c.at)
        (*c.sink)(c.out->data(), c.at);
}

inline u32 Hash3(const u8* p)
{
    u32 x = (u32)p[0] << 16 | (u32)p[1] << 8 | p[2];
    return (x * 2654435761u) >> (32 - HASH_BITS);
}

// Length of the common prefix of a and b, at most limit. a lies before b, both within
// the window buffer for limit bytes.
inline u32 CommonLength(const u8* a, const u8* b, u32 limit)
{
    u32 n = 0;
    while (n + 8 <= limit) {
        u64 x, y;
        memcpy(&x, a + n, 8);
        memcpy(&y, b + n, 8);
        if (x != y)
            return n + ((u32)__builtin_ctzll(x ^ y) >> 3);  // little-endian: lowest byte first
        n += 8;
    }
    while (n < limit && a[n] == b[n])
        n++;
    return n;
}

struct Match {
    u32 length;    // 0 when there is none of at least 3 bytes
    u32 distance;  // 1..4096: the decoder's position is distance - 1
};

// One payload. The window buffer is the decoder's ring unrolled: 4036 spaces (the ring
// prefix every file starts with), then the data, so buffer index v and ring index
// v mod 4096 hold the same byte. The ring's last 60 bytes from the previous file lie before
// index 0 and are never a match source.
//
// The data streams through the window: when the lookahead runs short, everything more than
// a ring behind the coding position is dropped (a multiple of 4096 bytes, so that buffer
// and ring indices still agree), the match finder's indices move down with it, and more
// input is read behind. So the memory held does not grow with the input.
class PayloadEncoder {
public:
    PayloadEncoder(u64 size, const LzariRead& read, std::vector<u8>& out, const LzariWrite* sink);
    PayloadEncoder(const PayloadEncoder&) = delete;
    PayloadEncoder& operator=(const PayloadEncoder&) = delete;
    void Run();
    // The cost-based parse (LZARI_BEST) in place of Run's lazy one.
    void RunBest();

private:
    enum {
        WINDOW_SIZE = 1 << 18,          // bytes of window buffer
        LOOKAHEAD = 2 * LZ_LONGEST_MATCH + 8,  // what the lazy parse looks at beyond v
        SPARE = 8                       // zero bytes behind the data: Hash3 reads past it
    };
    // Makes at least need bytes from v available, or all that is left; may move the
    // window, so v is passed and returned as a buffer index.
    u32 Fill(u32 v, u32 need = LOOKAHEAD);
    // Every match at v that is longer than all nearer ones, nearest first, lengths up to
    // limit: for each length the nearest (cheapest) distance that reaches it. Returns the
    // number found (at most 58).
    u32 FindMatches(u32 v, u32 limit, Match* found) const;
    void Insert(u32 v);
    Match FindMatch(u32 v) const;
    u32 LiteralPrice(u32 c) const;
    u32 MatchPrice(const Match& m) const;
    bool Postpone(const Match& match, u32 skip, const Match& later, u32 v) const;
    void EncodeLiteral(u32 c);
    void EncodeMatch(const Match& m);

    const PriceTables& tables;
    const LzariRead& read;
    u64 unread;                // input bytes not yet read into the window
    std::vector<u8> window;
    u32 end;                   // window index behind the last data byte read
    int head[HASH_SIZE];       // newest window index per hash, NO_POSITION when none
    int previous[LZ_RING_SIZE];// older index of the same hash, by index mod 4096
    SymbolModel model;
    Coder coder;
};

PayloadEncoder::PayloadEncoder(u64 size, const LzariRead& reader, std::vector<u8>& out, const LzariWrite* sink)
    : tables(Tables()), read(reader), unread(size)
{
    // A small file takes a window of its own size: a pack of many small files would
    // otherwise clear the whole window for each.
    window.assign(std::min<u64>(WINDOW_SIZE, LZ_FIRST_WRITE + size) + SPARE, 0);
    memset(window.data(), ' ', LZ_FIRST_WRITE);
    end = LZ_FIRST_WRITE;
    for (u32 i = 0; i < HASH_SIZE; i++)
        head[i] = NO_POSITION;
    InitSymbolModel(&model);
    coder = Coder{0, LZ_FULL_RANGE, 0, 0, 0, &out, sink ? 0 : out.size(), sink};
}

u32 PayloadEncoder::Fill(u32 v, u32 need)
{
    if (end - v >= need || unread == 0)
        return v;
    if (v >= 2 * LZ_RING_SIZE) {
        // Keep from the ring's reach back from v on: the chains stop there anyway.
        u32 drop = (v - LZ_RING_SIZE) & ~(u32)LZ_RING_MASK;
        memmove(window.data(), window.data() + drop, end - drop);
        end -= drop;
        v -= drop;
        for (int& index : head)
            index = index >= (int)drop ? index - (int)drop : NO_POSITION;
        for (int& index : previous)
            index = index >= (int)drop ? index - (int)drop : NO_POSITION;
    }
    u32 capacity = (u32)window.size() - SPARE;
    while (unread && end < capacity) {
        size_t room = capacity - end;
        if (room > unread)
            room = (size_t)unread;
        size_t got = read(window.data() + end, room);
        if (got == 0 || got > room)
            throw std::runtime_error("LZARI encoder: the input ended before its size");
        end += (u32)got;
        unread -= got;
    }
    memset(window.data() + end, 0, SPARE);
    return v;
}

inline void PayloadEncoder::Insert(u32 v)
{
    u32 h = Hash3(&window[v]);
    previous[v & LZ_RING_MASK] = head[h];
    head[h] = (int)v;
}

// Entry: every index below v is inserted, none at or above. Return: the longest match at
// v of 3..60 bytes that ends by `end`, the nearest one among equally long ones. Chains run
// from near to far and stop at 4096 bytes back, so a link is never one that a newer index
// overwrote; sources stay at index 0 or later, in the data or the spaces.
Match PayloadEncoder::FindMatch(u32 v) const
{
    Match best = {0, 0};
    u32 limit = end - v;
    if (limit > LZ_LONGEST_MATCH)
        limit = LZ_LONGEST_MATCH;
    if (limit <= LZ_THRESHOLD)
        return best;
    const u8* w = window.data();
    const u8* here = w + v;
    int oldest = (int)v - LZ_RING_SIZE;
    u32 bestLength = LZ_THRESHOLD;
    int candidate = head[Hash3(here)];
    for (u32 depth = CHAIN_DEPTH; depth && candidate >= 0 && candidate >= oldest; depth--) {
        const u8* there = w + candidate;
        // One byte beyond the best length decides most candidates.
        if (there[bestLength] == here[bestLength]) {
            u32 length = CommonLength(there, here, limit);
            if (length > bestLength) {
                bestLength = length;
                best.length = length;
                best.distance = v - (u32)candidate;
                if (length == limit)
                    break;
            }
        }
        candidate = previous[candidate & LZ_RING_MASK];
    }
    return best;
}

inline u32 PayloadEncoder::LiteralPrice(u32 c) const
{
    return tables.log2[model.cumulative[0]] - tables.log2[model.frequency[model.charToSymbol[c]]];
}

inline u32 PayloadEncoder::MatchPrice(const Match& m) const
{
    u32 s = model.charToSymbol[m.length + (255 - LZ_THRESHOLD)];
    return tables.log2[model.cumulative[0]] - tables.log2[model.frequency[s]]
        + tables.position[m.distance - 1];
}

inline void PayloadEncoder::EncodeLiteral(u32 c)
{
    u32 s = model.charToSymbol[c];
    EncodeInterval<0>(coder, model.cumulative[s - 1], model.cumulative[s], model.cumulative[0]);
    UpdateSymbolModel(&model, s);
}

inline void PayloadEncoder::EncodeMatch(const Match& m)
{
    u32 s = model.charToSymbol[m.length + (255 - LZ_THRESHOLD)];
    EncodeInterval<0>(coder, model.cumulative[s - 1], model.cumulative[s], model.cumulative[0]);
    UpdateSymbolModel(&model, s);
    const u16* position = tables.positionCumulative;
    u32 p = m.distance - 1;
    EncodeInterval<LZ_POSITION_TOTAL>(coder, position[p], position[p + 1], LZ_POSITION_TOTAL);
}

// Whether coding skip literals and then later is cheaper, per byte covered, than coding
// match now. The later match must reach at least as far.
inline bool PayloadEncoder::Postpone(const Match& match, u32 skip, const Match& later, u32 v) const
{
    if (later.length < match.length)
        return false;
    u32 price = MatchPrice(later);
    for (u32 k = 0; k < skip; k++)
        price += LiteralPrice(window[v + k]);
    return (u64)price * match.length < (u64)MatchPrice(match) * (later.length + skip);
}

// The parse: at each position the longest match, or a literal when there is none or a
// 3-byte match costs more than its literals; before a match is taken, the matches one and
// two bytes on are priced against it and a literal or two is coded first when they win.
void PayloadEncoder::Run()
{
    // The data first: the last two spaces' hashes take in its first bytes.
    u32 v = Fill(LZ_FIRST_WRITE);
    for (u32 k = 0; k < LZ_FIRST_WRITE; k++)
        Insert(k);
    Match match = FindMatch(v);
    while (v < end) {
        // After a fill at least LOOKAHEAD bytes lie ahead (or the rest of the input), so
        // the matches looked for before the next fill (at v + 1, v + 2, or at most 62
        // bytes on) see all of the 60 bytes they may take: the same as with the whole
        // input in memory. A match carried across a move keeps its relative distance.
        v = Fill(v);
        const u8* w = window.data();
        if (match.length == LZ_THRESHOLD + 1 && MatchPrice(match) >= LiteralPrice(w[v])
                + LiteralPrice(w[v + 1]) + LiteralPrice(w[v + 2]))
            match.length = 0;
        Insert(v);
        if (match.length == 0) {
            EncodeLiteral(w[v]);
            v++;
            match = FindMatch(v);
            continue;
        }
        u32 inserted = 1;  // positions v.. already in the chains
        if (match.length < NICE_LENGTH && v + 2 < end) {
            Match later = FindMatch(v + 1);
            if (Postpone(match, 1, later, v)) {
                EncodeLiteral(w[v]);
                v++;
                match = later;
                continue;
            }
            Insert(v + 1);
            inserted = 2;
            later = FindMatch(v + 2);
            if (Postpone(match, 2, later, v)) {
                EncodeLiteral(w[v]);
                EncodeLiteral(w[v + 1]);
                v += 2;
                match = later;
                continue;
            }
        }
        EncodeMatch(match);
        for (u32 k = inserted; k < match.length; k++)
            Insert(v + k);
        v += match.length;
        match = FindMatch(v);
    }
    FinishCoder(coder);
}

u32 PayloadEncoder::FindMatches(u32 v, u32 limit, Match* found) const
{
    if (limit > LZ_LONGEST_MATCH)
        limit = LZ_LONGEST_MATCH;
    if (limit <= LZ_THRESHOLD)
        return 0;
    const u8* w = window.data();
    const u8* here = w + v;
    int oldest = (int)v - LZ_RING_SIZE;
    u32 bestLength = LZ_THRESHOLD, count = 0;
    int candidate = head[Hash3(here)];
    for (u32 depth = BEST_CHAIN_DEPTH; depth && candidate >= 0 && candidate >= oldest; depth--) {
        const u8* there = w + candidate;
        if (there[bestLength] == here[bestLength]) {
            u32 length = CommonLength(there, here, limit);
            if (length > bestLength) {
                bestLength = length;
                found[count++] = Match{length, v - (u32)candidate};
                if (length == limit)
                    break;
            }
        }
        candidate = previous[candidate & LZ_RING_MASK];
    }
    return count;
}

// The cost-based parse. Block by block, every match of every position is found first
// (for each length its nearest distance, the cheapest). Then the cheapest way through the
// block - literals, and every length of every match - is found as a shortest path, each
// position's cost being final once all positions before it have been tried. Prices come
// from the model; as the model adapts while the block is coded, a first path's symbols
// are counted and the path is found again with each symbol priced at the frequency it will
// have halfway through the block. The chosen tokens are then coded, which adapts the model
// for the next block. The last token may run past the block's end (it ends where the path
// is cheapest); the next block starts behind it.
void PayloadEncoder::RunBest()
{
    const u32 need = BEST_BLOCK + LZ_LONGEST_MATCH + 8;
    u32 v = Fill(LZ_FIRST_WRITE, need);
    for (u32 k = 0; k < LZ_FIRST_WRITE; k++)
        Insert(k);
    u32 uninserted = 0;  // positions just before v that the last token covered unsearched
    std::vector<u32> cost(BEST_BLOCK + LZ_LONGEST_MATCH + 1);
    std::vector<Match> step(BEST_BLOCK + LZ_LONGEST_MATCH + 1);  // how each position is best reached
    std::vector<Match> matches;                // the block's matches, position by position
    std::vector<u32> first(BEST_BLOCK + 1);    // position i's matches: first[i]..first[i + 1]
    std::vector<Match> tokens;
    u32 symbolPrice[LZ_SYMBOLS];               // by character code
    u32 used[LZ_SYMBOLS];
    Match found[LZ_LONGEST_MATCH];
    while (v < end) {
        v = Fill(v, need);
        const u8* w = window.data();
        for (; uninserted; uninserted--)
            Insert(v - uninserted);
        u32 n = std::min<u32>(BEST_BLOCK, end - v);
        u32 reach = std::min<u32>(n + LZ_LONGEST_MATCH, end - v);  // the last token may end there
        matches.clear();
        u32 covered = 0;  // positions within a long match are not searched
        for (u32 i = 0; i < n; i++) {
            first[i] = (u32)matches.size();
            if (i >= covered) {
                u32 count = FindMatches(v + i, reach - i, found);
                matches.insert(matches.end(), found, found + count);
                if (count && found[count - 1].length >= BEST_NICE_LENGTH)
                    covered = i + found[count - 1].length;
            }
            Insert(v + i);
        }
        first[n] = (u32)matches.size();

        for (u32 c = 0; c < LZ_SYMBOLS; c++)
            used[c] = 0;
        u32 stop = n;
        for (int pass = 0; pass < 2; pass++) {
            // Pass 0 prices by the model as it stands, pass 1 by the frequencies it will
            // have halfway through the block if pass 0's path is taken.
            u32 uses = 0;
            for (u32 c = 0; c < LZ_SYMBOLS; c++)
                uses += used[c];
            u32 total = std::min<u32>(LZ_RESCALE_LIMIT, model.cumulative[0] + uses);
            for (u32 c = 0; c < LZ_SYMBOLS; c++) {
                u32 f = std::min<u32>(total, model.frequency[model.charToSymbol[c]] + used[c]);
                symbolPrice[c] = tables.log2[total] - tables.log2[f];
            }
            cost[0] = 0;
            for (u32 i = 1; i <= reach; i++)
                cost[i] = 0xFFFFFFFFu;
            for (u32 i = 0; i < n; i++) {
                u32 here = cost[i];
                u32 literal = here + symbolPrice[w[v + i]];
                if (literal < cost[i + 1]) {
                    cost[i + 1] = literal;
                    step[i + 1] = Match{1, 0};
                }
                u32 shorter = LZ_THRESHOLD;
                for (u32 k = first[i]; k < first[i + 1]; k++) {
                    const Match& m = matches[k];
                    u32 base = here + tables.position[m.distance - 1];
                    for (u32 length = shorter + 1; length <= m.length; length++) {
                        u32 price = base + symbolPrice[length + (255 - LZ_THRESHOLD)];
                        if (price < cost[i + length]) {
                            cost[i + length] = price;
                            step[i + length] = Match{length, m.distance};
                        }
                    }
                    shorter = m.length;
                }
            }
            // The path ends at the cheapest position from the block's end on.
            stop = n;
            for (u32 e = n + 1; e <= reach; e++)
                if (cost[e] < cost[stop])
                    stop = e;
            tokens.clear();
            for (u32 i = stop; i > 0; i -= step[i].length)
                tokens.push_back(step[i]);
            if (pass == 0) {
                u32 at = v + stop;
                for (const Match& t : tokens) {
                    at -= t.length;
                    used[t.length == 1 ? w[at] : t.length + (255 - LZ_THRESHOLD)]++;
                }
            }
        }
        u32 at = v;
        for (size_t t = tokens.size(); t-- > 0;) {
            if (tokens[t].length == 1)
                EncodeLiteral(w[at]);
            else
                EncodeMatch(tokens[t]);
            at += tokens[t].length;
        }
        uninserted = stop - n;
        v += stop;
    }
    FinishCoder(coder);
}

}  // namespace

void LzariEncodeStream(u64 size, const LzariRead& read, const LzariWrite& write, LzariEffort effort)
{
    if (size > 0xFFFFFFFFu)
        throw std::runtime_error("LZARI encoder: a payload holds at most 4 GiB - 1 bytes");
    u32 n = (u32)size;
    u8 sizeField[4] = {(u8)n, (u8)(n >> 8), (u8)(n >> 16), (u8)(n >> 24)};
    write(sizeField, 4);
    if (n) {
        std::vector<u8> buffer;
        // About 350 KB of state: on the heap, not the caller's stack.
        std::unique_ptr<PayloadEncoder> encoder(new PayloadEncoder(size, read, buffer, &write));
        if (effort == LZARI_BEST)
            encoder->RunBest();
        else
            encoder->Run();
    }
    static const u8 padding[PADDING_SIZE] = {};
    write(padding, PADDING_SIZE);
}

void LzariEncodePayload(const u8* data, size_t size, std::vector<u8>& out, LzariEffort effort)
{
    assert(size <= 0xFFFFFFFFu);
    u32 n = (u32)size;
    u8 sizeField[4] = {(u8)n, (u8)(n >> 8), (u8)(n >> 16), (u8)(n >> 24)};
    out.insert(out.end(), sizeField, sizeField + 4);
    if (n) {
        size_t at = 0;
        LzariRead read = [&](u8* to, size_t max) {
            size_t count = std::min(max, size - at);
            memcpy(to, data + at, count);
            at += count;
            return count;
        };
        std::unique_ptr<PayloadEncoder> encoder(new PayloadEncoder(n, read, out, nullptr));
        if (effort == LZARI_BEST)
            encoder->RunBest();
        else
            encoder->Run();
    }
    out.insert(out.end(), PADDING_SIZE, (u8)0);
}
