"""Where each coded block of a PLIX body ends, found with the format's code
tables written out here, apart from the codec. Used to know, for a file cut at
a given byte, how many blocks lie wholly before the cut."""

DC0 = {0x00: '000', 0x01: '1110', 0x02: '001', 0x03: '010', 0x04: '011', 0x05: '100',
       0x06: '101', 0x07: '110', 0x08: '111100', 0x09: '1111010', 0x0F: '1111011'}
DC0.update({0x10 + i: format(0b111110000 + i, '09b') for i in range(16)})
DC1 = {0: '00', 1: '01', 2: '10', 3: '110', 4: '1110', 5: '11110', 6: '111110',
       7: '1111110', 8: '11111110', 9: '11111111'}

# symbol: (class 0 code, class 1 code); None where the symbol is in the 12-bit group.
SHORT = {0x00: ('11111', '11111'), 0x01: ('00', '00'), 0x02: ('01', '01'),
         0x03: ('100', '1010'), 0x04: ('1010', '11000'), 0x05: ('11000', '1110010'),
         0x06: ('110110', None), 0x07: ('111011100', None), 0x11: ('1011', '100'),
         0x12: ('11001', '11001'), 0x13: ('1110100', '1110011'), 0x21: ('11010', '1011'),
         0x22: ('1110101', '1110100'), 0x31: ('110111', '11010'), 0x32: (None, '111011100'),
         0x41: ('111000', '11011'), 0x51: ('111001', '111000'), 0x61: ('1110110', '1110101'),
         0x71: ('111011101', '1110110'), 0x81: (None, '111011101')}


def ac_table(cls):
    codes = {s: c[cls] for s, c in SHORT.items() if c[cls] is not None}
    for run in range(16):
        codes[run * 16 + 9] = format(0b11101111000 + run, '011b')
    nxt = 0b111100010000
    for sym in range(256):
        if 1 <= sym & 15 <= 8 and sym not in codes:
            codes[sym] = format(nxt, '012b')
            nxt += 1
    codes[0x10] = '111101111111'
    return codes


def decoder(codes):
    return {code: sym for sym, code in codes.items()}


TABLES = [(decoder(DC0), decoder(ac_table(0))), (decoder(DC1), decoder(ac_table(1)))]


def block_ends(data):
    """Bit positions (from the body's start) where each block ends, for the
    blocks that end within the file's data."""
    width = int.from_bytes(data[12:16], 'little', signed=True)
    height = int.from_bytes(data[8:12], 'little', signed=True)
    body = data[16 + data[7]:]
    bits = ''.join(format(b, '08b') for b in body)
    total = 3 * ((width + 7) // 8) * ((height + 7) // 8)
    pos = 0
    ends = []

    def symbol(table):
        nonlocal pos
        for n in range(1, 13):
            code = bits[pos:pos + n]
            if len(code) < n:
                raise EOFError
            if code in table:
                pos += n
                return table[code]
        raise ValueError('no code at bit %d' % pos)

    def take(n):
        nonlocal pos
        if pos + n > len(bits):
            raise EOFError
        pos += n

    try:
        for i in range(total):
            dc, ac = TABLES[0 if i % 3 == 0 else 1]
            take(symbol(dc))
            p = 1
            while p <= 63:
                s = symbol(ac)
                if s == 0x00:
                    break
                if s == 0x10:
                    p += 16
                    continue
                p += s >> 4
                if p > 63:
                    break
                take(s & 15)
                p += 1
            ends.append(pos)
    except EOFError:
        pass
    return ends, total
