"""Seeded Haar-random unitaries for tests."""
import numpy as np


def haar_unitary(m, seed):
    """An m x m unitary drawn from the Haar measure by a generator seeded with seed."""
    rng = np.random.default_rng(seed)
    z = (rng.normal(size=(m, m)) + 1j * rng.normal(size=(m, m))) / np.sqrt(2)
    q, r = np.linalg.qr(z)
    return q * (np.diag(r) / np.abs(np.diag(r)))
