"""An independent reference for the strong simulator, from naive permanents: the exact detected
distribution of a mixture of perfect, noisy and superposed inputs under detectors, heralds and
post-selection, with the detector models and post-selection conditions written out here."""
import itertools
import math
import struct

import numpy as np

import orbandile as ob


def ppnr_bytes(n_wires, max_detections, efficiency, name=b"d"):
    """A serialised PPNR detector, written field by field in the wire format."""
    inner = (b"\x0a" + bytes([len(name)]) + name + b"\x10" + bytes([n_wires]) + b"\x18" + bytes([max_detections])
             + b"\x21" + struct.pack("<d", efficiency))
    return b"\x12" + bytes([len(inner)]) + inner


def layered_bytes(bs_layers, reflectivity, name=b"d"):
    """A serialised beam-splitter layered detector, written field by field in the wire format."""
    inner = b"\x0a" + bytes([len(name)]) + name + b"\x10" + bytes([bs_layers]) + b"\x19" + struct.pack("<d", reflectivity)
    return b"\x0a" + bytes([len(inner)]) + inner


def permanent(matrix):
    n = len(matrix)
    return sum(math.prod(matrix[i][sigma[i]] for i in range(n)) for sigma in itertools.permutations(range(n)))


def factorials(counts):
    return math.prod(math.factorial(c) for c in counts)


def amplitude(u, output, given):
    """<output|U|given> = Perm(U[output, given]) / sqrt(output! given!), rows being output modes."""
    rows = [j for j, c in enumerate(output) for _ in range(c)]
    cols = [k for k, c in enumerate(given) for _ in range(c)]
    sub = [[u[j, k] for k in cols] for j in rows]
    return permanent(sub) / math.sqrt(factorials(output) * factorials(given))


def feed_forward_matrix(u, entries, output):
    """The matrix `output` sees behind SLAP's feed-forward entries: each block (a configurator's
    chosen by the output's own counts in its measured modes), extended by the identity, applied
    after U in the order given."""
    m = u.shape[0]
    v = u
    for entry in entries:
        if isinstance(entry, ob.ConfiguratorMap):
            block = entry[list(output[entry.first_measured_mode:entry.last_measured_mode + 1])]
            first = entry.first_configured_mode
        else:
            block, first = entry
        extended = np.eye(m, dtype=complex)
        extended[first:first + len(block), first:first + len(block)] = block
        v = extended @ v
    return v


def fock_space(m, n):
    if m == 1:
        return [(n,)]
    return [(k,) + rest for k in range(n, -1, -1) for rest in fock_space(m - 1, n - k)]


def counters_lit(n, weights):
    """P(k | n) when each photon independently reaches counter i with probability weights[i], or
    none with the rest, and the reading is the number of counters reached."""
    p = [0.0] * (n + 1)
    lost = 1 - sum(weights)
    for choice in itertools.product(range(len(weights) + 1), repeat=n):
        w = math.prod(weights[c] if c < len(weights) else lost for c in choice)
        p[len({c for c in choice if c < len(weights)})] += w
    return p


# (serialised form, P(k | n), imperfect): each model written out independently of the library.
DETECTORS = {
    "perfect": ("", lambda n: [float(k == n) for k in range(n + 1)], False),
    "threshold": (ppnr_bytes(0, 1, 1.0), lambda n: [float(k == min(n, 1)) for k in range(n + 1)], True),
    "capped": (ppnr_bytes(0, 2, 1.0), lambda n: [float(k == min(n, 2)) for k in range(n + 1)], True),
    "lossy": (ppnr_bytes(0, 0, 0.8),
              lambda n: [math.comb(n, k) * 0.8 ** k * 0.2 ** (n - k) for k in range(n + 1)], True),
    "two_wires": (ppnr_bytes(2, 0, 0.9), lambda n: counters_lit(n, [0.45, 0.45]), True),
    "layered": (layered_bytes(1, 0.3), lambda n: counters_lit(n, [0.3, 0.7]), True),
}

# (expression, the same condition on the count list)
POSTSELECTIONS = [
    ("[0] < 2", lambda c: c[0] < 2),
    ("[0, 1] >= 1", lambda c: c[0] + c[1] >= 1),
    ("[1] == 0", lambda c: c[1] == 0),
    ("[0] == 1 | [1] > 0", lambda c: c[0] == 1 or c[1] > 0),
    ("NOT [1] == 1", lambda c: c[1] != 1),
]


def random_counts(rng, m, n):
    counts = [0] * m
    for _ in range(n):
        counts[rng.integers(m)] += 1  # often bunched
    return tuple(counts)


def noisy_text(groups, m):
    """The text of a noisy state holding, for each tag, the photons of groups[tag] per mode."""
    modes = ["".join(f"{{{tag}}}" * counts[k] for tag, counts in sorted(groups.items())) or "0"
             for k in range(m)]
    return "|" + ",".join(modes) + ">"


def random_component(rng, m, noisy):
    """groups: tag -> photon counts per mode (tag 0 for a perfect state)."""
    n = int(rng.integers(1, 4 if m > 3 else 5))
    if not noisy:
        return {0: random_counts(rng, m, n)}
    groups = {}
    for _ in range(n):
        tag = int(rng.integers(1, 3))
        counts = list(groups.get(tag, (0,) * m))
        counts[rng.integers(m)] += 1
        groups[tag] = tuple(counts)
    return groups


def state_vector(m, components):
    sv = None
    for a, groups in components:
        if list(groups) == [0]:
            term = ob.StateVector(ob.FockState(list(groups[0])))
        else:
            term = ob.StateVector(ob.NoisyFockState(noisy_text(groups, m)))
        sv = a * term if sv is None else sv + a * term
    return sv


def reference(e):
    """(final distribution, global acceptance, mass kept by the photon filters) or the exception
    class the experiment must raise."""
    u, heralds = e["u"], e["heralds"]
    minimum = e["min_photons"] + sum(heralds.values())
    total = sum(p for p, _ in e["entries"])
    perfect = {}  # perfect output -> probability, over the inputs with enough photons
    for p, components in e["entries"]:
        p /= total
        norm = sum(abs(a) ** 2 for a, _ in components)
        tagged = {}  # output photons per tag -> amplitude
        for a, groups in components:
            n = sum(sum(c) for c in groups.values())
            if n < minimum:
                continue
            if "annotated" in groups:
                return ValueError
            per_tag = [[(tag, out, amplitude(u, out, given)) for out in fock_space(len(u), sum(given))]
                       for tag, given in sorted(groups.items())]
            for combination in itertools.product(*per_tag):
                key = tuple((tag, out) for tag, out, _ in combination)
                tagged[key] = tagged.get(key, 0) + a / math.sqrt(norm) * math.prod(x for _, _, x in combination)
        for key, amp in tagged.items():
            s = tuple(map(sum, zip(*(out for _, out in key))))
            perfect[s] = perfect.get(s, 0) + p * abs(amp) ** 2
    detected = {}
    for s, q in perfect.items():
        if not e["detectors"]:
            detected[s] = detected.get(s, 0) + q
            continue
        readings = [DETECTORS[d][1](c) for d, c in zip(e["detectors"], s)]
        for d in itertools.product(*(range(len(r)) for r in readings)):
            w = q * math.prod(r[k] for r, k in zip(readings, d))
            if w > 0:
                detected[d] = detected.get(d, 0) + w
    kept = {d: w for d, w in detected.items() if sum(d) >= minimum}
    condition = e["postselect"][1] if e["postselect"] else (lambda c: True)
    accepted = {d: w for d, w in kept.items() if all(d[k] == c for k, c in heralds.items())
                and condition(d + (0,) * 4)}  # modes past the output's hold no photon
    acceptance = sum(accepted.values())
    if acceptance == 0:
        return RuntimeError
    final = {}
    for d, w in accepted.items():
        if not e["keep_heralds"]:
            d = tuple(c for k, c in enumerate(d) if k not in heralds)
        final[d] = final.get(d, 0) + w / acceptance
    return final, acceptance, sum(kept.values())
