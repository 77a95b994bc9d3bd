"""Config's process-wide settings, put back after a test that changes them."""
import contextlib

import orbandile as ob

SETTINGS = ("compute_max_thread_count", "use_single_precision", "unitary_check_precision")


@contextlib.contextmanager
def saved_config():
    """Puts every setting of ob.Config back as it was, however the block ends."""
    saved = {name: getattr(ob.Config, name) for name in SETTINGS}
    try:
        yield ob.Config
    finally:
        for name, value in saved.items():
            setattr(ob.Config, name, value)
