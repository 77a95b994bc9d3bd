"""numpy arrays of the layouts the bindings must copy or refuse."""
import numpy as np


def misaligned(values, writeable=True):
    """A C-contiguous copy of values whose data starts one byte past an aligned address."""
    values = np.asarray(values)
    raw = np.zeros(values.nbytes + 1, dtype=np.uint8)
    view = raw[1:].view(values.dtype).reshape(values.shape)
    view[...] = values
    view.flags.writeable = writeable
    assert view.flags.c_contiguous and not view.flags.aligned
    return view
