"""Circuits as bytes of the schema's Circuit message, written and read without the schema compiler.

Enough of the protobuf wire format for phase shifters and beam splitters, and the unitary of a
read circuit computed with numpy, as an independent reference for the circuit tools.
"""

import cmath
import math
import struct

import numpy as np


def _varint(n):
    n &= 2**64 - 1
    out = bytearray()
    while True:
        byte = n & 0x7F
        n >>= 7
        out.append(byte | (0x80 if n else 0))
        if not n:
            return bytes(out)


def _int(field, n):
    return _varint(field << 3) + _varint(n)


def _double(field, x):
    return _varint(field << 3 | 1) + struct.pack("<d", x)


def _message(field, payload):
    return _varint(field << 3 | 2) + _varint(len(payload)) + payload


def parameter(p):
    """A value, or a variable named p."""
    return _message(2, p.encode()) if isinstance(p, str) else _double(1, p)


def phase_shifter(mode, phi):
    return _int(1, mode) + _int(2, 1) + _message(11, _message(1, parameter(phi)))


def beam_splitter(mode, theta, convention=0, phases=(0.0, 0.0, 0.0, 0.0)):
    bs = _int(1, convention) + _message(2, parameter(theta))
    for field, phi in zip(range(3, 7), phases):
        bs += _message(field, parameter(phi))
    return _int(1, mode) + _int(2, 2) + _message(12, bs)


def circuit(m, components, name=""):
    return _message(1, name.encode()) + _int(2, m) + b"".join(_message(4, c) for c in components)


def _fields(data):
    """field number -> list of raw values (int, float or bytes), in order."""
    fields, i = {}, 0
    while i < len(data):
        key, i = _read_varint(data, i)
        field, wire = key >> 3, key & 7
        if wire == 0:
            value, i = _read_varint(data, i)
        elif wire == 1:
            value, i = struct.unpack_from("<d", data, i)[0], i + 8
        elif wire == 2:
            size, i = _read_varint(data, i)
            value, i = data[i:i + size], i + size
        else:
            raise ValueError(f"wire type {wire}")
        fields.setdefault(field, []).append(value)
    return fields


def _read_varint(data, i):
    n = shift = 0
    while True:
        byte = data[i]
        i += 1
        n |= (byte & 0x7F) << shift
        shift += 7
        if not byte & 0x80:
            return n, i


def _value(parameter_bytes):
    return _fields(parameter_bytes)[1][0]


_CORES = {
    0: lambda c, s: np.array([[c, 1j * s], [1j * s, c]]),
    1: lambda c, s: np.array([[c, -s], [s, c]]),
    2: lambda c, s: np.array([[c, s], [s, -c]]),
}


def read_circuit(data):
    """(name, m, [(kind, mode, values)]) of a Circuit message whose parameters all have values."""
    top = _fields(data)
    name = top.get(1, [b""])[0].decode()
    m = top.get(2, [0])[0]
    components = []
    for raw in top.get(4, []):
        c = _fields(raw)
        mode = c.get(1, [0])[0]
        if 11 in c:
            components.append(("PS", mode, [_value(_fields(c[11][0])[1][0])]))
        else:
            bs = _fields(c[12][0])
            values = [_value(bs[f][0]) for f in range(2, 7)]
            components.append((bs.get(1, [0])[0], mode, values))
    return name, m, components


def unitary_of(data):
    """The unitary of a Circuit message, first component applied first."""
    _, m, components = read_circuit(data)
    u = np.eye(m, dtype=complex)
    for kind, mode, values in components:
        e = np.eye(m, dtype=complex)
        if kind == "PS":
            e[mode, mode] = cmath.exp(1j * values[0])
        else:
            theta, tl, bl, tr, br = values
            core = _CORES[kind](math.cos(theta / 2), math.sin(theta / 2))
            e[mode:mode + 2, mode:mode + 2] = (np.diag(np.exp(1j * np.array([tr, br]))) @ core
                                              @ np.diag(np.exp(1j * np.array([tl, bl]))))
        u = e @ u
    return u


def mesh(m):
    """A universal mesh: per interferometer a variable phase shifter and a variable Rx, then a
    variable phase per mode; and its variable count."""
    components, k = [], 0
    for layer in range(m):
        for mode in range(layer % 2, m - 1, 2):
            components += [phase_shifter(mode, f"p{k}"), beam_splitter(mode, f"t{k}")]
            k += 1
    components += [phase_shifter(mode, f"out{mode}") for mode in range(m)]
    return circuit(m, components), 2 * k + m
