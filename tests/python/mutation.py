"""The seeded text mutation of the fuzz tests."""


def mutate(r, text, alphabet, tokens):
    """One to five edits of the bytes `text`, drawn from the random.Random `r`: a byte of
    `alphabet` inserted or written over one, bytes deleted, a piece of the text repeated, or one
    of `tokens` inserted."""
    data = bytearray(text)
    for _ in range(r.choice([1, 1, 2, 3, 5])):
        at = r.randint(0, len(data))
        op = r.randrange(6)
        if op == 0:
            data.insert(at, r.choice(alphabet))
        elif op == 1 and data:
            del data[at % len(data)]
        elif op == 2 and data:
            data[at % len(data)] = r.choice(alphabet)
        elif op == 3:
            begin = r.randint(0, len(data))
            data[at:at] = data[begin:begin + r.randint(1, 12)]
        elif op == 4:
            data[at:at] = r.choice(tokens)
        else:
            del data[at:at + r.randint(1, 6)]
    return bytes(data)
