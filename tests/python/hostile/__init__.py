"""Hostile input to every bound callable of ``orbandile``.

Every callable the module exposes is found by walking it: module functions, constructors,
methods, static methods, property getters and setters, operators, the members of the common base
type and the iterators that methods return. Each case builds a receiver and arguments that pass
the first type check -- from ``TEMPLATES`` where the values must fit together, else from the
overload signatures the binding documents -- then spoils them: wrong types, None, huge and
negative integers, NaN and infinities, empty, 0-d, strided, Fortran-order, read-only, misaligned
and wrongly typed numpy arrays, empty texts and texts with non-printable or non-ASCII characters,
objects whose conversions raise, the receiver itself as argument (``x op= x``). Cases also
iterate while mutating the container, chain a call on a result, and run a few calls from several
threads at once. A few start one of the long calls of ``long_calls.py`` in a fresh interpreter
and send it SIGINT during its set-up, as it starts or in its middle: it must answer (a
KeyboardInterrupt "Process interrupted by user.", or its return when it ended first) within
ORBANDILE_HOSTILE_INTERRUPT_BOUND seconds, measured from the signal, and the next call on its
objects must succeed, and a later SIGINT must reach Python.

Cases run in worker subprocesses, by batches. Case ``i`` of seed ``s`` is rebuilt from ``(s, i)``
alone, so a finding replays on its own with

    python tests/python/test_hostile_input.py --replay s:i

A finding is:

- a crash (signal, abort) or a hang (no answer within ORBANDILE_HOSTILE_TIMEOUT seconds);
- an exception outside TypeError, ValueError, RuntimeError, IndexError, OverflowError and
  KeyError, the errors the binding layer translates C++ exceptions and refused conversions into.
  The binding layer's cast error is among them: a RuntimeError "Unable to cast Python instance
  of type ..." is how the module documents an item it cannot convert inside a call (the items
  of a BSSamples or a BSCount), while refused arguments are TypeErrors. StopIteration is accepted
  from ``__next__`` only, and HostileError, raised by the test's own hostile arguments, may pass
  through. MemoryError is a finding: every size a call can be asked for is to be checked against
  what it can hold before anything is allocated (under the address sanitizer a huge allocation
  aborts instead). SystemError and KeyboardInterrupt are findings, and so are, inside the
  accepted set, UnicodeError (a message that is not text: UnicodeDecodeError is a ValueError)
  and "Caught an unknown exception!" (a C++ exception of no standard type);
- a state or an annotation (hashable, so immutable) whose hash or text a call changed;
- a write to a read-only numpy array, or outside the view an array argument gives.

test_hostile_input.py also runs a shorter campaign with the workers' address space limited, as
``ulimit -v`` does, where a MemoryError or an abort is all the likelier; not under the address
sanitizer, which reserves terabytes of address space.

Calls that are legitimately long or exponential are kept out by argument choice (``too_costly``),
never by the timeout.

The package: ``discovery`` walks the module, ``generator`` makes valid and hostile values,
``templates`` the arguments that fit together, ``cost`` keeps the long calls out, ``cases`` builds
and checks a case, ``runner`` runs cases in workers, ``cli`` is the command line;
``test_hostile_input.py`` holds the tests and runs the command line.

Environment: ORBANDILE_HOSTILE_COUNT (cases, default 3000), ORBANDILE_HOSTILE_SEED (default
20240613), ORBANDILE_HOSTILE_TIMEOUT (seconds per case, default 10), ORBANDILE_HOSTILE_JOBS
(parallel workers, default 1), ORBANDILE_HOSTILE_INTERRUPT_BOUND (seconds from SIGINT to the
answer, default 2). Run as a script, test_hostile_input.py prints every finding of a
long campaign:

    python tests/python/test_hostile_input.py --count 100000 --jobs 4 [--address-limit 4]
"""
