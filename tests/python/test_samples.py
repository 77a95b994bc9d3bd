import copy
import gc

import pytest

from orbandile import BSCount, BSSamples, FockState

CAST_ERROR = "^Unable to cast Python instance of type "


def states(count):
    return [FockState([i, 1]) for i in range(count)]


# BSSamples

def test_empty_samples():
    samples = BSSamples()
    assert (len(samples), bool(samples), str(samples), repr(samples)) == (0, False, "[  ]", "BSSamples[]")


@pytest.mark.parametrize("size, suffix", [(1, ""), (11, ""), (12, ", ... (size=12)"), (40, ", ... (size=40)")])
def test_samples_text_shows_at_most_eleven_states(size, suffix):
    samples = BSSamples(states(size))
    shown = ", ".join(str(s) for s in states(min(size, 11)))
    assert str(samples) == f"[ {shown}{suffix} ]"
    assert repr(samples) == "BSSamples[" + ", ".join(str(s) for s in states(size)) + "]"


def test_samples_iadd_appends_in_place():
    fs, gs = FockState([1, 0]), FockState([0, 1])
    samples = BSSamples([fs])
    alias = samples
    samples += [fs, gs]
    assert samples is alias
    assert list(samples) == [fs, fs, gs]
    samples += samples
    assert samples is alias
    assert list(samples) == [fs, fs, gs] * 2
    samples += BSSamples([gs])
    assert samples[-1] == gs and len(samples) == 7


def test_samples_iadd_keeps_what_it_appended_before_a_failure():
    fs = FockState([1, 0])
    samples = BSSamples()
    with pytest.raises(RuntimeError, match=CAST_ERROR):
        samples += [fs, "x"]
    assert list(samples) == [fs]
    with pytest.raises(RuntimeError, match=CAST_ERROR):
        samples += [None]
    with pytest.raises(RuntimeError, match=CAST_ERROR):
        samples.extend([fs, "x"])
    with pytest.raises(RuntimeError, match=CAST_ERROR):
        samples.extend([fs, None])
    assert list(samples) == [fs]
    with pytest.raises(TypeError):
        samples += (fs,)


def test_samples_extend_with_itself_doubles():
    samples = BSSamples(states(5))
    samples.extend(samples)
    assert list(samples) == states(5) * 2


def test_samples_copies_are_independent():
    samples = BSSamples(states(3))
    for duplicate in (copy.copy(samples), copy.deepcopy(samples), BSSamples(samples)):
        assert duplicate == samples
        duplicate.append(FockState([9, 9]))
        assert duplicate != samples and len(samples) == 3
    with pytest.raises(TypeError):
        samples.__deepcopy__([])


def test_samples_equality_and_hash():
    samples = BSSamples(states(3))
    assert samples != states(3) and not samples == states(3)
    assert samples == BSSamples(iter(states(3)))
    with pytest.raises(TypeError):
        hash(samples)


def test_samples_list_protocol():
    samples = BSSamples(states(4))
    assert samples[-1] == states(4)[-1]
    assert isinstance(samples[1:3], BSSamples) and list(samples[1:3]) == states(4)[1:3]
    with pytest.raises(IndexError):
        samples[len(samples)]
    with pytest.raises(IndexError):
        samples[-5]
    assert samples.count(states(4)[0]) == 1 and states(4)[0] in samples
    samples.remove(states(4)[0])
    with pytest.raises(ValueError):
        samples.remove(states(4)[0])
    with pytest.raises(TypeError):
        samples.count("x")
    with pytest.raises(TypeError):
        "x" in samples
    assert samples.pop() == states(4)[-1]


def test_samples_elements_stay_valid_after_the_list_changes():
    samples = BSSamples([FockState([9, 1])])
    first = samples[0]
    iterator = iter(samples)
    from_iterator = next(iterator)
    samples.extend(states(200) * 5)  # reallocates
    del samples[0]
    samples.clear()
    del samples
    gc.collect()
    assert str(first) == "|9,1>" and str(from_iterator) == "|9,1>"
    assert list(iterator) == []


def test_samples_iteration_follows_changes_safely():
    samples = BSSamples(states(3))
    seen = []
    for state in samples:
        seen.append(state)
        if len(samples) < 50:
            samples.append(state)  # reallocates under the running iterator
    assert len(seen) == 50 and seen == list(samples)
    samples = BSSamples(states(5))
    seen = []
    for state in samples:
        seen.append(state)
        samples.clear()
    assert seen == states(1)


# BSCount

def test_empty_count():
    counts = BSCount()
    assert (len(counts), bool(counts), counts.total(), str(counts), repr(counts)) == (0, False, 0, "{\n}", "BSCount{}")


def test_count_add_and_read():
    fs, gs = FockState([1, 0]), FockState([0, 1])
    counts = BSCount()
    counts.add(fs, 0)
    assert len(counts) == 0 and fs not in counts
    counts.add(fs, 2)
    counts.add(fs, 3)
    counts.add(fs, 0)
    assert counts[fs] == 5 and counts.total() == 5
    assert str(counts) == "{\n  |1,0>: 5\n}" and repr(counts) == "BSCount{|1,0>: 5}"
    assert counts[gs] == 0
    assert gs in counts and len(counts) == 2
    assert str(counts) in ("{\n  |1,0>: 5\n  |0,1>: 0\n}", "{\n  |0,1>: 0\n  |1,0>: 5\n}")


def test_count_wraps_at_64_bits():
    fs = FockState([1])
    counts = BSCount()
    counts.add(fs, 2**64 - 1)
    counts.add(FockState([2]), 3)
    assert counts.total() == 2
    counts.add(fs, 2)
    assert counts[fs] == 1


@pytest.mark.parametrize("value", [-1, 1.0, 2**64, "1"])
def test_count_add_refuses_what_is_not_a_count(value):
    with pytest.raises(TypeError):
        BSCount().add(FockState([1]), value)


def test_count_set_and_delete():
    fs = FockState([1, 0])
    counts = BSCount()
    counts[fs] = 0
    assert fs in counts and counts[fs] == 0 and len(counts) == 1
    del counts[fs]
    assert fs not in counts
    with pytest.raises(KeyError):
        del counts[fs]
    assert "x" not in counts


def test_count_from_dict():
    fs, gs = FockState([1, 0]), FockState([0, 1])
    zero = BSCount({fs: 0})
    assert len(zero) == 1 and zero != BSCount()
    counts = BSCount({fs: 3, gs: 2})
    assert counts.total() == 5 and counts == BSCount({gs: 2, fs: 3})


@pytest.mark.parametrize("bad, message", [
    ({FockState([1]): -1}, CAST_ERROR),
    ({FockState([1]): 1.5}, CAST_ERROR),
    ({"x": 1}, CAST_ERROR),
    ({None: 1}, CAST_ERROR),
])
def test_count_from_dict_refuses_unconvertible_items(bad, message):
    with pytest.raises(RuntimeError, match=message):
        BSCount(bad)


def test_count_copies_are_independent():
    fs = FockState([1, 0])
    counts = BSCount({fs: 4})
    for duplicate in (BSCount(counts), copy.copy(counts), copy.deepcopy(counts)):
        assert duplicate == counts
        duplicate.add(fs, 1)
        assert duplicate != counts and counts[fs] == 4
    with pytest.raises(TypeError):
        counts.__deepcopy__(None)


def test_count_equality_and_hash():
    a, b = BSCount(), BSCount()
    for i in range(5):
        a[FockState([i, 1])] = i
    for i in reversed(range(5)):
        b[FockState([i, 1])] = i
    assert a == b and not a != b
    assert (BSCount() == {}) is False and (BSCount() != {}) is True
    with pytest.raises(TypeError):
        hash(BSCount())


def test_count_views():
    counts = BSCount({FockState([1, 0]): 2, FockState([0, 1]): 3})
    keys, values, items = counts.keys(), counts.values(), counts.items()
    assert type(keys).__name__ == "KeysView" and type(items).__name__ == "ItemsView"
    assert sorted(values) == [2, 3] and set(counts) == set(keys) == {FockState([1, 0]), FockState([0, 1])}
    assert dict(items) == {FockState([1, 0]): 2, FockState([0, 1]): 3}
    assert FockState([1, 0]) in keys and FockState([1, 1]) not in keys and "x" not in keys
    counts[FockState([1, 1])] = 1
    assert len(keys) == len(values) == len(items) == 3


@pytest.mark.parametrize("walk", [iter, lambda c: iter(c.keys()), lambda c: iter(c.values()),
                                  lambda c: iter(c.items())])
def test_count_iteration_survives_rehashing(walk):
    counts = BSCount({FockState([i, 0]): i for i in range(4)})
    seen = []
    for entry in walk(counts):
        seen.append(entry)
        for k in range(200):  # reading absent states inserts them and rehashes the table
            counts[FockState([k, len(seen)])]
    assert len(seen) == 4
    del counts
    gc.collect()
    assert all(str(entry) for entry in seen)
