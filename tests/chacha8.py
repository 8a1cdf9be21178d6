"""The simulator's random generator in plain Python, written from its definition: ChaCha with 8
rounds, seeded from a 64-bit seed, refilled four blocks at a time. An independent oracle for
exactly which draws a seeded sequence of calls makes."""

MASK32 = (1 << 32) - 1
MASK64 = (1 << 64) - 1
CONSTANTS = (0x61707865, 0x3320646E, 0x79622D32, 0x6B206574)


def _rotl(v, c):
    return ((v << c) | (v >> (32 - c))) & MASK32


def _quarter_round(x, a, b, c, d):
    x[a] = (x[a] + x[b]) & MASK32
    x[d] = _rotl(x[d] ^ x[a], 16)
    x[c] = (x[c] + x[d]) & MASK32
    x[b] = _rotl(x[b] ^ x[c], 12)
    x[a] = (x[a] + x[b]) & MASK32
    x[d] = _rotl(x[d] ^ x[a], 8)
    x[c] = (x[c] + x[d]) & MASK32
    x[b] = _rotl(x[b] ^ x[c], 7)


def block(key, counter):
    """The 16 output words of one 8-round block with stream 0."""
    state = [*CONSTANTS, *key, counter & MASK32, counter >> 32, 0, 0]
    x = list(state)
    for _ in range(4):
        for a, b, c, d in ((0, 4, 8, 12), (1, 5, 9, 13), (2, 6, 10, 14), (3, 7, 11, 15),
                           (0, 5, 10, 15), (1, 6, 11, 12), (2, 7, 8, 13), (3, 4, 9, 14)):
            _quarter_round(x, a, b, c, d)
    return [(w + s) & MASK32 for w, s in zip(x, state)]


def key_from_seed(seed):
    """Eight key words from a permuted congruential generator started at `seed`."""
    words, s = [], seed
    for _ in range(8):
        s = (s * 0x5851F42D4C957F2D + 0xA17654E46FBE17F3) & MASK64
        x = (((s >> 18) ^ s) >> 27) & MASK32
        r = s >> 59
        words.append(((x >> r) | (x << ((32 - r) & 31))) & MASK32)
    return words


class ChaCha8:
    def __init__(self, seed):
        self.key = key_from_seed(seed)
        self.counter = 0
        self.buffer = []
        self.pos = 64

    def _refill(self):
        self.buffer = [w for i in range(4) for w in block(self.key, self.counter + i)]
        self.counter += 4

    def next_u32(self):
        if self.pos >= 64:
            self._refill()
            self.pos = 0
        self.pos += 1
        return self.buffer[self.pos - 1]

    def next_u64(self):
        # Two words, low half first; with one word left the draw straddles the refill.
        low = self.next_u32()
        return low | (self.next_u32() << 32)

    def uniform_u8(self, low, high):
        """Uniform in [low, high) by widening multiplication, with one extra draw when the low
        half of the product falls in the biased zone."""
        span = high - low
        m = self.next_u32() * span
        result = m >> 32
        if (m & MASK32) > ((1 << 32) - span) & MASK32:
            if (m & MASK32) + ((self.next_u32() * span) >> 32) > MASK32:
                result += 1
        return low + result

    def bernoulli(self, p):
        if p == 0.0:
            return False
        if p == 1.0:
            return True
        return self.next_u64() < int(p * 18446744073709551616.0)

    def fair_coin(self):
        return bool(self.next_u64() >> 63)
