// The LZARI encoder, for the packer and the tests; never linked into the installer. It
// writes what the decoder in lzari_decoder.cpp reads, with the models of lzari_model.cpp.
#ifndef QUILL_PACK_LZARI_ENCODER_H
#define QUILL_PACK_LZARI_ENCODER_H

#include <stddef.h>

#include <functional>
#include <vector>

#include "../archive/format.h"

// Appends one file payload to out: the u32 little-endian size, the bit stream (none when
// size is 0) and PADDING_SIZE zero bytes. Every call starts from fresh models, so payloads
// can be joined in any order. The decoder's read-ahead ends within the zero bytes, and no
// match reaches the ring bytes that the previous file left behind. size fits in a u32.
// Tells the benchmark, which is also built against older trees, that effort can be given.
#define LZARI_ENCODER_EFFORT 1
enum LzariEffort {
    LZARI_NORMAL,  // lazy matching priced by the live model: fast
    LZARI_BEST     // a parse that minimises the coded size under the adaptive model
};
void LzariEncodePayload(const u8* data, size_t size, std::vector<u8>& out, LzariEffort effort = LZARI_NORMAL);

// The same payload coded as a stream, in memory that does not grow with the input: the
// encoder holds what a match can reach (the 4096-byte ring), a lookahead and its match
// finder, and hands its output on in pieces. read places up to max bytes at to and returns
// how many; it must deliver size bytes in all (or throw), and a 0 before then is taken as
// an input that ended early (std::runtime_error). write receives the payload's bytes in
// order: size field, bit stream, padding.
typedef std::function<size_t(u8* to, size_t max)> LzariRead;
typedef std::function<void(const u8* data, size_t size)> LzariWrite;
void LzariEncodeStream(u64 size, const LzariRead& read, const LzariWrite& write, LzariEffort effort = LZARI_NORMAL);

#endif
