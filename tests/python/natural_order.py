"""The Fock space in the order the back-ends list it, computed without the module."""
import itertools


def natural_order(m, n):
    """The photon counts of every state of m modes and n photons, from all photons in mode 0 to
    all in mode m-1."""
    counts = [c for c in itertools.product(range(n + 1), repeat=m) if sum(c) == n]
    return sorted(counts, reverse=True)
