#!/usr/bin/env python3
"""Fixed LZARI test vectors, derived by hand from token lists.

A vector is a list of tokens written out by hand: a literal byte, or a match
(position 0..4095, length 3..60). This script turns each list into the payload
the installer reads (u32 size, bit stream, four zero bytes) with its own small
arithmetic coder, and works out the decoded bytes separately by replaying the
tokens on a ring. It shares no code with the C++ encoder or decoder, so a fault
common to those two shows up as a difference from these vectors.

The coder mirrors the installer's decoder step for step: the same adaptive
314-symbol model (halving at a total of 0x7FFF before the raise), the same fixed
position model, the same interval arithmetic and the same normalisation order,
with the middle-half case resolved later through pending bits.

    python3 lzari_tokens.py            print the C++ literals of every vector
    python3 lzari_tokens.py NAME ...   print only the named vectors
    python3 lzari_tokens.py --decode PAYLOAD EXPECTED ...
                                       decode payload files (each as the first file
                                       of a run) and compare them with the expected
                                       files; exit status 1 on any difference

Each vector is also decoded here by a plain transcription of the decoder, which
must give back the replayed bytes and stop reading inside the zero padding;
the script refuses to print a vector that fails this.
"""

import sys

RING_SIZE = 4096
RING_MASK = 0xFFF
LONGEST_MATCH = 60
THRESHOLD = 2
SYMBOLS = 314
FIRST_WRITE = RING_SIZE - LONGEST_MATCH  # 4036
QUARTER = 0x8000
HALF = 0x10000
THREE_QUARTERS = 0x18000
FULL = 0x20000
RESCALE_LIMIT = 0x7FFF
INITIAL_BITS = 17
PADDING = 4


# --- Tokens -----------------------------------------------------------------

def lit(text):
    """Literal tokens for each byte of text (str or bytes)."""
    data = text.encode("latin-1") if isinstance(text, str) else bytes(text)
    return [("lit", b) for b in data]


def match(position, length):
    """A match: copy length bytes starting position + 1 bytes behind the write index."""
    assert 0 <= position < RING_SIZE and THRESHOLD < length <= LONGEST_MATCH
    return [("match", position, length)]


def describe(tokens):
    """Token list in a short form for the C++ comments: literal runs as text,
    repeated matches counted."""
    parts = []
    for t in tokens:
        if t[0] == "lit":
            if parts and isinstance(parts[-1], bytearray):
                parts[-1].append(t[1])
            else:
                parts.append(bytearray([t[1]]))
        else:
            text = "match(%d,%d)" % (t[1], t[2])
            if parts and isinstance(parts[-1], list) and parts[-1][0] == text:
                parts[-1][1] += 1
            else:
                parts.append([text, 1])
    words = []
    for part in parts:
        if isinstance(part, bytearray):
            if len(part) <= 60:
                words.append(repr(bytes(part))[1:])
            else:
                words.append("%s...(%d literals)" % (repr(bytes(part[:32]))[1:], len(part)))
        else:
            words.append(part[0] if part[1] == 1 else "%s x%d" % (part[0], part[1]))
    return " ".join(words) if words else "(none)"


# --- The ring: what the tokens decode to --------------------------------------

UNKNOWN = None  # a carried ring byte this archive never wrote


def first_ring():
    """The ring as a file finds it: 0..4035 spaces; 4036..4095 hold whatever the
    process decoded last (zero only in a fresh process), so vectors must not read
    them before writing them."""
    return [0x20] * FIRST_WRITE + [UNKNOWN] * LONGEST_MATCH


def next_ring(previous):
    """The ring as the next file of the same run finds it: the prefix is spaces
    again, 4036..4095 are carried over."""
    return [0x20] * FIRST_WRITE + previous[FIRST_WRITE:]


def replay(tokens, ring):
    """The decoded bytes of tokens, and the ring they leave (ring is not changed)."""
    ring = list(ring)
    out = bytearray()
    r = FIRST_WRITE
    for t in tokens:
        if t[0] == "lit":
            out.append(t[1])
            ring[r] = t[1]
            r = (r + 1) & RING_MASK
        else:
            _, position, length = t
            source = (r - position - 1) & RING_MASK
            for k in range(length):
                b = ring[(source + k) & RING_MASK]
                if b is UNKNOWN:
                    raise ValueError("token %r reads ring byte %d, which depends on earlier tests"
                                     % (t, (source + k) & RING_MASK))
                out.append(b)
                ring[r] = b
                r = (r + 1) & RING_MASK
    return bytes(out), ring


# --- Models -------------------------------------------------------------------

class SymbolModel:
    """Symbols 1..314, kept sorted by falling frequency; symbol s codes the
    interval [cumulative[s], cumulative[s - 1]) of cumulative[0]."""

    def __init__(self):
        self.frequency = [0] * (SYMBOLS + 1)
        self.cumulative = [0] * (SYMBOLS + 1)
        self.symbol_to_char = [0] * (SYMBOLS + 1)
        self.char_to_symbol = [0] * SYMBOLS
        for s in range(SYMBOLS, 0, -1):
            self.char_to_symbol[s - 1] = s
            self.symbol_to_char[s] = s - 1
            self.frequency[s] = 1
            self.cumulative[s - 1] = self.cumulative[s] + 1
        self.updates = 0
        self.halvings = []  # (updates before, {char: frequency before}) of each halving

    def char_frequencies(self):
        return {self.symbol_to_char[s]: self.frequency[s] for s in range(1, SYMBOLS + 1)}

    def update(self, s):
        f, cum = self.frequency, self.cumulative
        # Halve first, rounding up, so no symbol drops to frequency 0.
        if cum[0] >= RESCALE_LIMIT:
            self.halvings.append((self.updates, self.char_frequencies()))
            c = 0
            for i in range(SYMBOLS, 0, -1):
                cum[i] = c
                f[i] = (f[i] + 1) // 2
                c += f[i]
            cum[0] = c
        # Move s to the front of its run of equal frequencies, then raise it.
        i = s
        while f[i] == f[i - 1]:
            i -= 1
        if i < s:
            ci, cs = self.symbol_to_char[i], self.symbol_to_char[s]
            self.symbol_to_char[i], self.symbol_to_char[s] = cs, ci
            self.char_to_symbol[ci], self.char_to_symbol[cs] = s, i
        f[i] += 1
        for k in range(i - 1, -1, -1):
            cum[k] += 1
        self.updates += 1
        assert cum[0] <= RESCALE_LIMIT


def position_cumulative():
    """Fixed position model: position p weighs 10000 // (p + 201)."""
    cum = [0] * (RING_SIZE + 1)
    for i in range(RING_SIZE, 0, -1):
        cum[i - 1] = cum[i] + 10000 // (i + 200)
    assert cum[0] == 28568
    return cum


# --- Encoder ------------------------------------------------------------------

class Encoder:
    def __init__(self):
        self.low, self.high = 0, FULL
        self.pending = 0  # middle-half doublings whose bit is not known yet
        self.bits = []

    def emit(self, bit):
        self.bits.append(bit)
        self.bits.extend([1 - bit] * self.pending)
        self.pending = 0

    def code(self, below, upto, total):
        """Narrow to [below, upto) of total exactly as the decoder narrows, then
        double in the decoder's order: upper half, middle half, stop, lower half."""
        span = self.high - self.low
        self.high = self.low + span * upto // total
        self.low = self.low + span * below // total
        while True:
            if self.low >= HALF:
                self.emit(1)
                self.low -= HALF
                self.high -= HALF
            elif self.low >= QUARTER and self.high <= THREE_QUARTERS:
                self.pending += 1
                self.low -= QUARTER
                self.high -= QUARTER
            elif self.high > HALF:
                break
            else:
                self.emit(0)
            self.low *= 2
            self.high *= 2
        assert self.high - self.low > QUARTER

    def finish(self):
        """Two more bits pick a point inside the last interval: 01 (a quarter)
        when low is below the first quarter, else 10 (the half); the rest of the
        code value is the zero bits and bytes that follow."""
        self.pending += 1
        self.emit(0 if self.low < QUARTER else 1)
        while len(self.bits) % 8:
            self.bits.append(0)
        return bytes(int("".join(map(str, self.bits[k:k + 8])), 2)
                     for k in range(0, len(self.bits), 8))


def encode(tokens, size, model=None):
    """The payload: u32 size, bit stream, zero padding; none of the latter two when
    size is 0. model, when given, is a fresh SymbolModel to code with (to inspect)."""
    payload = size.to_bytes(4, "little")
    if size == 0:
        return payload
    model = model or SymbolModel()
    positions, enc = position_cumulative(), Encoder()
    for t in tokens:
        c = t[1] if t[0] == "lit" else t[2] + (255 - THRESHOLD)
        s = model.char_to_symbol[c]
        enc.code(model.cumulative[s], model.cumulative[s - 1], model.cumulative[0])
        model.update(s)
        if t[0] == "match":
            p = t[1]
            enc.code(positions[p + 1], positions[p], positions[0])
    return payload + enc.finish() + bytes(PADDING)


# --- Check: the decoder's steps, transcribed ----------------------------------

def decode(payload, ring):
    """Decodes payload as the installer does; returns the bytes, the ring left and
    how many payload bytes were taken."""
    ring = list(ring)
    taken = [4]
    size = int.from_bytes(payload[:4], "little")
    if size == 0:
        return b"", ring, 4
    state = {"byte": 0, "mask": 0}

    def next_bit():
        state["mask"] >>= 1
        if state["mask"] == 0:
            state["byte"] = payload[taken[0]]  # IndexError: read past the padding
            taken[0] += 1
            state["mask"] = 0x80
        return 1 if state["byte"] & state["mask"] else 0

    low, high, value = 0, FULL, 0
    for _ in range(INITIAL_BITS):
        value = 2 * value + next_bit()
    model, positions = SymbolModel(), position_cumulative()

    def search(cum, top, x):
        lo, hi = 1, top
        while lo < hi:
            k = (lo + hi) // 2
            if cum[k] > x:
                lo = k + 1
            else:
                hi = k
        return lo

    def narrow(below, upto, total):
        nonlocal low, high, value
        span = high - low
        high = low + span * upto // total
        low = low + span * below // total
        while True:
            if low >= HALF:
                value, low, high = value - HALF, low - HALF, high - HALF
            elif low >= QUARTER and high <= THREE_QUARTERS:
                value, low, high = value - QUARTER, low - QUARTER, high - QUARTER
            elif high > HALF:
                return
            low, high = 2 * low, 2 * high
            value = 2 * value + next_bit()

    out = bytearray()
    r = FIRST_WRITE
    while len(out) < size:
        cum = model.cumulative
        x = ((value - low + 1) * cum[0] - 1) // (high - low)
        s = search(cum, SYMBOLS, x & 0xFFFF)
        narrow(cum[s], cum[s - 1], cum[0])
        c = model.symbol_to_char[s]
        model.update(s)
        if c < 256:
            out.append(c)
            ring[r] = c
            r = (r + 1) & RING_MASK
        else:
            x = ((value - low + 1) * positions[0] - 1) // (high - low)
            p = search(positions, RING_SIZE, x & 0xFFFF) - 1
            narrow(positions[p + 1], positions[p], positions[0])
            source = (r - p - 1) & RING_MASK
            for k in range(c - (255 - THRESHOLD)):
                b = ring[(source + k) & RING_MASK]
                out.append(b)
                ring[r] = b
                r = (r + 1) & RING_MASK
    return bytes(out), ring, taken[0]


# --- The vectors --------------------------------------------------------------

def halving_text():
    """32453 symbols bring the model total from 314 to 0x7FFF; the update of
    symbol 32453 (from 0) halves first. Before it: 'a' has been seen 30422 times,
    'b' 2028, 'X' once and 'Y' twice (frequencies 30423, 2029, 2, 3; 'Z' and the
    length-60 symbol still 1). Symbol 32453 is an 'a' of odd frequency, so halving
    before and after its raise give different frequencies; then every one of those
    frequencies is coded again, so rounding down (1 -> 0), or halving a symbol
    early or late, decodes differently."""
    before = ("a" * 15 + "b") * 2028 + "aa" + "XYY"
    assert len(before) == 32453
    after_tokens = (lit("aZXYba") + match(0, 60) + lit("ZZXXYY") + lit("ab" * 50))
    return lit(before) + after_tokens


def check_halving(tokens):
    """The model halves once, in the update of symbol 32453, with the frequencies
    that halving_text() relies on."""
    model = SymbolModel()
    encode(tokens, 1, model)  # any nonzero size: only the coding is wanted
    assert len(model.halvings) == 1
    updates, before = model.halvings[0]
    assert updates == 32453
    assert tokens[32453] == ("lit", ord("a"))
    counts = {c: before[ord(c)] for c in "abXYZ"}
    assert counts == {"a": 30423, "b": 2029, "X": 2, "Y": 3, "Z": 1}, counts
    assert before[313] == 1  # the length-60 symbol


def run(first, matches):
    """first as a literal, then distance-1 matches of the given lengths repeating it."""
    tokens = lit(first)
    for n in matches:
        tokens += match(0, n)
    return tokens


VECTORS = {
    # name: list of files, each a token list, decoded one after another in one archive
    "empty": [[]],
    "one_byte": [lit("A")],
    "distance_one_run": [lit("x") + match(0, 60)],
    "prefix_spaces": [match(5, 10)],
    "prefix_into_own_bytes": [lit("ab") + match(4, 10)],
    # Both ends of the position model and of the lengths: 60 literals fill 4036..4095
    # and r wraps to 0; position 4095 copies the byte about to be overwritten (prefix
    # spaces at 0..4), 4094 the one after it (6..8); at r = 8 position 68 copies 4035
    # (a space) and the file's first 59 bytes; position 2047 copies prefix spaces.
    "far_positions": [lit("0123456789" * 6) + match(4095, 5) + match(4094, 3)
                      + match(68, 60) + match(2047, 3) + lit("!")],
    # File 1 leaves its first 60 bytes ('@'..'{') in 4036..4095 and its last four in
    # 0..3. File 2 starts at 4036 again: position 4091 copies 4040..4059 (bytes 4..23
    # of file 1); then, at r = 4056, position 4061 copies 4090..4095 (bytes 54..59)
    # and runs on into 0..3, which must be spaces again, not file 1's bytes.
    "carry": [lit(bytes(range(0x40, 0x80))),
              match(4091, 20) + match(4061, 10) + lit(".")],
    # Progress: 1 + 529 * 60 + 3 = 31744 = 2 * 0x3E00 bytes, then 31745, then 1 byte.
    "progress": [run("x", [60] * 529 + [3]),
                 run("y", [60] * 529 + [4]),
                 lit("z")],
    "halving": [halving_text()],
}


def build(name):
    """Payloads and decoded bytes of a vector's files, checked by decoding."""
    if name == "halving":
        check_halving(VECTORS[name][0])
    files = []
    ring = first_ring()
    check_ring = [0x20] * FIRST_WRITE + [0] * LONGEST_MATCH
    for tokens in VECTORS[name]:
        expected, after = replay(tokens, ring)
        payload = encode(tokens, len(expected))
        decoded, check_ring, taken = decode(payload, check_ring)
        assert decoded == expected, name
        if expected:
            # The read-ahead ends inside the padding, never before it or past it.
            assert len(payload) - PADDING < taken <= len(payload), (name, taken, len(payload))
        else:
            assert taken == 4
        files.append((tokens, payload, expected, taken))
        ring = next_ring(after)
        check_ring = next_ring(check_ring)
    return files


def cpp_hex(data, column=4):
    """data as a C++ expression starting at column: Hex("...") strings in 4-byte
    groups, 32 bytes a line, and runs of 32 or more equal bytes as Repeat(byte, count),
    joined by Join({...}) when there is more than one piece."""
    pieces, k = [], 0
    while k < len(data):
        end = k
        while end < len(data) and data[end] == data[k]:
            end += 1
        if end - k >= 32:
            pieces.append(("run", data[k], end - k))
            k = end
            continue
        start = k
        while k < len(data):
            end = k
            while end < len(data) and data[end] == data[k]:
                end += 1
            if end - k >= 32:
                break
            k = end
        pieces.append(("hex", data[start:k]))
    joined = len(pieces) > 1
    inner = column + (len("Join({") if joined else 0)
    texts = []
    for piece in pieces:
        if piece[0] == "run":
            texts.append("Repeat(0x%02x, %d)" % (piece[1], piece[2]))
            continue
        chunk = piece[1]
        lines = ['"%s"' % " ".join(chunk[g:g + 4].hex() for g in range(line, min(line + 32, len(chunk)), 4))
                 for line in range(0, len(chunk), 32)]
        texts.append("Hex(" + ("\n" + " " * (inner + 4)).join(lines) + ")")
    if not joined:
        return " " * column + texts[0]
    return " " * column + "Join({" + (",\n" + " " * inner).join(texts) + "})"


def main(names):
    for name in names or VECTORS:
        for index, (tokens, payload, expected, taken) in enumerate(build(name)):
            print("// %s, file %d: %d bytes decoded, payload %d bytes (decoder takes %d)"
                  % (name, index + 1, len(expected), len(payload), taken))
            print("// tokens: %s" % describe(tokens))
            if len(expected) <= 80:
                print("// decodes to: %s" % repr(expected)[1:])
            print(cpp_hex(payload))
            print()


def check_payloads(paths):
    """Decodes each payload file with the transcription above and compares it with
    its expected file; the read-ahead must end inside the padding."""
    bad = 0
    for payload_path, expected_path in zip(paths[::2], paths[1::2]):
        payload = open(payload_path, "rb").read()
        expected = open(expected_path, "rb").read()
        try:
            decoded, _, taken = decode(payload, first_ring())
            decoded = bytes(decoded)  # a carried ring byte read before written fails here
        except (IndexError, TypeError, ValueError) as error:
            print("%s: cannot be decoded (%s)" % (payload_path, error))
            bad += 1
            continue
        if decoded != expected:
            print("%s: decodes to other bytes" % payload_path)
            bad += 1
        elif expected and not len(payload) - PADDING < taken <= len(payload):
            print("%s: the read-ahead ends at %d of %d bytes" % (payload_path, taken, len(payload)))
            bad += 1
    return 1 if bad or len(paths) % 2 else 0


if __name__ == "__main__":
    if sys.argv[1:2] == ["--decode"]:
        sys.exit(check_payloads(sys.argv[2:]))
    main(sys.argv[1:])
