"""Finds every bound callable of the module, with the parameter types of each overload."""

import dataclasses
import re

import orbandile as ob


@dataclasses.dataclass(frozen=True)
class Entry:
    key: str  # "FockState.set_slice", "permanent_fl", "Config.compute_max_thread_count="
    owner: object  # the module, a class, or the common base type
    name: str
    kind: str  # function, init, method, static, getter, setter, static_getter, static_setter
    overloads: tuple  # per overload, (name, type text, has a default) of each parameter after self


def module_classes(namespace=ob, prefix=""):
    for name, value in vars(namespace).items():
        if isinstance(value, type) and value.__module__ == "orbandile":
            yield prefix + name, value
            yield from module_classes(value, f"{prefix}{name}.")


COMMON_BASE = ob.FockState.__mro__[1]
# Machinery of the binding layer with nothing of the module behind it.
NOT_CALLABLES = {"__doc__", "__module__", "__dict__", "__weakref__", "__entries", "__new__"}
CONDUIT = "_pybind11_conduit_v1_"


def split_top_level(text, separator=","):
    parts, depth, current, quoted = [], 0, "", False
    for char in text:
        if char == '"':
            quoted = not quoted
        elif not quoted and char in "[(":
            depth += 1
        elif not quoted and char in "])":
            depth -= 1
        if char == separator and depth == 0 and not quoted:
            parts.append(current.strip())
            current = ""
        else:
            current += char
    if current.strip():
        parts.append(current.strip())
    return parts


def overloads_of(function, name):
    """The parameter types of each overload, read from the binding's docstring."""
    doc = getattr(function, "__doc__", None) or ""
    result = []
    for line in doc.splitlines():
        match = re.match(r"^(?:\d+\. )?" + re.escape(name) + r"\((.*)\) -> ", line)
        if not match:
            continue
        params = []
        for param in split_top_level(match.group(1)):
            if param == "/":  # the end of the positional-only parameters
                continue
            if param.startswith("*"):
                params.append("*")
                continue
            pname, _, rest = param.partition(": ")
            if pname == "self":
                continue
            annotation, _, default = rest.partition(" = ")
            params.append((pname, annotation, bool(default)))
        result.append(tuple(params))
    return tuple(result)


def discover():
    entries = []
    for name, value in vars(ob).items():
        if callable(value) and not isinstance(value, type):
            entries.append(Entry(name, ob, name, "function", overloads_of(value, name)))
    for cname, cls in module_classes():
        for name, value in vars(cls).items():
            if name in NOT_CALLABLES or name.startswith("__pybind11_module_local") or name == CONDUIT:
                continue
            key = f"{cname}.{name}"
            if isinstance(value, property):
                static = type(value).__name__ == "pybind11_static_property"
                entries.append(Entry(key, cls, name, "static_getter" if static else "getter",
                                     overloads_of(value.fget, "")))
                if value.fset is not None:
                    entries.append(Entry(key + "=", cls, name, "static_setter" if static else "setter",
                                         overloads_of(value.fset, "")))
            elif isinstance(value, staticmethod):
                entries.append(Entry(key, cls, name, "static", overloads_of(value.__func__, name)))
            elif name == "__init__":
                # Constructing, and calling __init__ again on an object already constructed.
                entries.append(Entry(key, cls, name, "init", overloads_of(value, name)))
                entries.append(Entry(key + "#again", cls, name, "method", overloads_of(value, name)))
            elif callable(value) and not isinstance(value, type):
                entries.append(Entry(key, cls, name, "method", overloads_of(value, name)))
    # The members every class shares: those of the common base, and the binding layer's
    # cross-module conduit, which each class carries.
    for name, value in vars(COMMON_BASE).items():
        if name not in NOT_CALLABLES and name != "__init__" and callable(value):
            entries.append(Entry(f"*.{name}", COMMON_BASE, name, "method", overloads_of(value, name)))
    conduit = getattr(ob.FockState, CONDUIT)
    entries.append(Entry(f"*.{CONDUIT}", COMMON_BASE, CONDUIT, "method", overloads_of(conduit, CONDUIT)))
    return entries


ENTRIES = discover()
ENTRY_BY_KEY = {e.key: e for e in ENTRIES}
CLASSES = dict(module_classes())
CLASS_NAMES = {cls: name for name, cls in CLASSES.items()}
