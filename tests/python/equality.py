"""The contract of == and hash for values used as dict keys (states, annotations)."""


def assert_equal_values(*values):
    """Each pair is equal both ways (== true, != false), every hash is the same non-negative
    64-bit value, and a set or a dict keeps one of them."""
    for a in values:
        for b in values:
            assert a == b and not a != b, f"{a!r} and {b!r} differ"
    hashes = {v.__hash__() for v in values}
    assert len(hashes) == 1, f"{len(hashes)} hashes for equal values"
    assert 0 <= hashes.pop() < 2**64
    assert len(set(values)) == 1 and len(dict.fromkeys(values)) == 1


def assert_distinct_values(*values):
    """Each pair of different places is unequal both ways, and a set keeps every one."""
    for i, a in enumerate(values):
        for j, b in enumerate(values):
            if i != j:
                assert a != b and not a == b, f"{a!r} and {b!r} are equal"
    assert len(set(values)) == len(values)
