"""Values for the cases: valid ones of each type the bindings name, and hostile ones."""

import collections
import math
import re
import struct

import numpy as np

import orbandile as ob
import circuit_bytes

from .discovery import CLASSES, COMMON_BASE, split_top_level


def ppnr_bytes(n_wires, max_detections, efficiency, name=b"d"):
    """A serialised PPNR detector, written field by field in the wire format."""
    inner = (b"\x0a" + bytes([len(name)]) + name + b"\x10" + bytes([n_wires]) + b"\x18" + bytes([max_detections])
             + b"\x21" + struct.pack("<d", efficiency))
    return b"\x12" + bytes([len(inner)]) + inner


class HostileError(Exception):
    """Raised by the dunders of hostile arguments; the module may let it through."""


class UnknownType(Exception):
    pass


SELF = object()  # in a template: the receiver itself


class Gen:
    """Builds the values of one case from its own random stream, and remembers how it built them."""

    def __init__(self, rng):
        self.rng = rng
        self.descriptions = {}
        self.keep = []  # the described objects stay alive so that their ids stay theirs

    def note(self, value, description):
        self.descriptions[id(value)] = description
        self.keep.append(value)
        return value

    def describe(self, value):
        if id(value) in self.descriptions:
            return self.descriptions[id(value)]
        if value is SELF:
            return "self"
        if isinstance(value, (list, tuple)):
            inner = ", ".join(self.describe(v) for v in value[:8]) + (", ..." if len(value) > 8 else "")
            return f"[{inner}]" if isinstance(value, list) else f"({inner}{',' if len(value) == 1 else ''})"
        if isinstance(value, dict):
            items = list(value.items())[:6]
            return "{" + ", ".join(f"{self.describe(k)}: {self.describe(v)}" for k, v in items) + "}"
        if isinstance(value, (int, float, complex, str, bytes, bool, type(None), slice)):
            text = repr(value)
            return text if len(text) <= 80 else text[:60] + f"...<{len(text)} chars>"
        if isinstance(value, type):
            return value.__qualname__
        return f"<{type(value).__name__}>"

    def choice(self, options):
        return options[self.rng.randrange(len(options))]

    def chance(self, p):
        return self.rng.random() < p

    # Plain values that pass a type check.
    def small_int(self):
        return self.choice([0, 0, 1, 1, 2, 3, -1, 4])

    def small_float(self):
        return self.choice([0.0, 0.5, 1.0, 2.0, -1.0, 1e-3, 0.25])

    def small_complex(self):
        return self.choice([0j, 1 + 0j, 0.5 - 0.5j, 1j, -1 + 2j])

    def counts(self, m=None, n_max=3):
        m = self.rng.randint(0, 4) if m is None else m
        return [self.rng.randint(0, n_max) for _ in range(m)]

    def state_text(self):
        return self.choice([
            "|1,0>", "|0,1,1>", "|>", "|0>", "|2,0,1>", "|{a:1},0>", "|{a:1}{b:2},1>", "|{_:0},{_:1}>",
            "|{0}{1},1>", "|{P:H},{P:V}>", "|{a:0.5+1j},2>", "|2{a:1},{b:0}>", "|1,{a:1}{a:1}>",
            "|{0},0,{1}>", "|3,3,3>", "|{0}{0}{2},0>", "|0{a:1},{b:1}>",
        ])

    def annotation_text(self):
        return self.choice(["a:1", "a:0,b:1+2j", "", "P:H", "P:V", "a:-1.5e3", "x:1j,y:2,z:-3-4j",
                            "a:0.5", "_:7"])

    def post_select_text(self):
        return self.choice([
            "", "   ", "[0] == 1", "[0,1] == 1 & [2] > 1", "([0,1] == 1 & [2] > 1) | [2] == 0",
            "NOT [1] != 0", "[0] >= 1 ^ [1] < 2 ^ [2] <= 0", "(![0]==1) & [3,1] == 2",
            "[2147483647] == 2147483647", "[0] == 2 OR [1] == 0",
        ])

    def mask_conditions(self, m):
        return [
            "".join(self.choice(" *0123") for _ in range(m))
            for _ in range(self.rng.randint(1, 3))
        ]

    # Instances of the module's classes, small enough that any call on them stays cheap.
    def fock_state(self, m=None):
        counts = self.counts(m)
        return self.note(ob.FockState(counts), f"FockState({counts})")

    def noisy_state(self, m=None):
        if m is None and self.chance(0.5):
            text = self.choice(["|{0}{1},1>", "|{0},0,{1}>", "|1,{2}>", "|>", "|{0}{0}{2},0>"])
            return self.note(ob.NoisyFockState(text), f"NoisyFockState({text!r})")
        counts = self.counts(m)
        tags = [self.rng.randint(0, 3) for _ in range(sum(counts))]
        return self.note(ob.NoisyFockState(ob.FockState(counts), tags),
                         f"NoisyFockState(FockState({counts}), {tags})")

    def annotated_state(self, m=None):
        if m is None and self.chance(0.6):
            text = self.choice(["|{a:1},0>", "|{a:1}{b:2},1>", "|{P:H},{P:V}>", "|{a:0.5+1j},2>",
                                "|1,{a:1}{a:1}>", "|>", "|0,{b:1}>"])
            return self.note(ob.AnnotatedFockState(text), f"AnnotatedFockState({text!r})")
        counts = self.counts(m)
        return self.note(ob.AnnotatedFockState(ob.FockState(counts)),
                         f"AnnotatedFockState(FockState({counts}))")

    def any_state(self, m=None):
        return self.choice([self.fock_state, self.fock_state, self.noisy_state, self.annotated_state])(m)

    def annotation(self):
        text = self.annotation_text()
        return self.note(ob.Annotation(text), f"Annotation({text!r})")

    def parsed_state(self):
        text = self.state_text()
        return self.note(ob.ParsedBasicState(text), f"ParsedBasicState({text!r})")

    def state_vector(self, m=None, empty=True):
        m = self.rng.randint(1, 3) if m is None else m
        sv = ob.StateVector()
        parts = []
        for _ in range(self.rng.randint(0 if empty else 1, 3)):
            state, amplitude = self.any_state(m), self.choice([1, 0.5, 1j, -1, 0.25 - 0.5j])
            sv = sv + amplitude * ob.StateVector(state)
            parts.append(f"{amplitude}*{self.describe(state)}")
        return self.note(sv, "StateVector(" + " + ".join(parts) + ")")

    def post_select(self):
        text = self.post_select_text()
        return self.note(ob.PostSelect(text), f"PostSelect({text!r})")

    def mask(self, m=None, n=None):
        m = self.rng.randint(1, 4) if m is None else m
        n = self.rng.randint(0, 3) if n is None else n
        conditions = self.mask_conditions(m)
        if self.chance(0.3):
            unbounded = [self.rng.randrange(m)]
            return self.note(ob.FSMask(m, n, conditions, unbounded),
                             f"FSMask({m}, {n}, {conditions}, {unbounded})")
        return self.note(ob.FSMask(m, n, conditions), f"FSMask({m}, {n}, {conditions})")

    def fs_array(self, m=None, n=None):
        m = self.rng.randint(1, 4) if m is None else m
        n = self.rng.randint(0, 3) if n is None else n
        if self.chance(0.3):
            mask = self.mask(m, n)
            return self.note(ob.FSArray(m, n, mask), f"FSArray({m}, {n}, {self.describe(mask)})")
        return self.note(ob.FSArray(m, n), f"FSArray({m}, {n})")

    def fs_map(self):
        m, n = self.rng.randint(1, 4), self.rng.randint(1, 3)
        current, parent, generate = self.fs_array(m, n), self.fs_array(m, n - 1), self.chance(0.5)
        return self.note(ob.FSMap(current, parent, generate),
                         f"FSMap({self.describe(current)}, {self.describe(parent)}, {generate})")

    def probability_map(self, m=None, size=None):
        m = self.rng.randint(1, 3) if m is None else m
        size = self.rng.randint(1, 3) if size is None else size
        return {self.fock_state(m): self.choice([1.0, 0.5, 2.0, 0.25]) for _ in range(size)}

    def fsd(self):
        if self.chance(0.3):
            state = self.fock_state()
            return self.note(ob.FSDistribution(state), f"FSDistribution({self.describe(state)})")
        probabilities = self.probability_map()
        return self.note(ob.FSDistribution(probabilities), f"FSDistribution({self.describe(probabilities)})")

    def fsf(self):
        values = self.probability_map()
        for state in list(values)[::2]:
            values[state] = -values[state]
        return self.note(ob.FSFunction(values), f"FSFunction({self.describe(values)})")

    def svd(self):
        m = self.rng.randint(1, 3)
        if self.chance(0.5):
            weights = {self.state_vector(m, empty=False): self.choice([1.0, 0.5, 2.0]) for _ in range(self.rng.randint(1, 3))}
        else:
            weights = {self.any_state(m): self.choice([1.0, 0.5, 2.0]) for _ in range(self.rng.randint(1, 3))}
        return self.note(ob.SVDistribution(weights), f"SVDistribution({self.describe(weights)})")

    def bs_count(self):
        counts = {self.fock_state(2): self.rng.randint(1, 5) for _ in range(self.rng.randint(0, 3))}
        return self.note(ob.BSCount(counts), f"BSCount({self.describe(counts)})")

    def bs_samples(self):
        states = [self.fock_state(2) for _ in range(self.rng.randint(0, 4))]
        return self.note(ob.BSSamples(states), f"BSSamples({self.describe(states)})")

    def unitary(self, m):
        rng = np.random.default_rng(self.rng.randrange(2**32))
        q, r = np.linalg.qr(rng.normal(size=(m, m)) + 1j * rng.normal(size=(m, m)))
        return self.note(q * (np.diag(r) / abs(np.diag(r))), f"unitary({m})")

    def circuit_template(self, m):
        """Bytes of an m-mode circuit of phase shifters and beam splitters, most of them variable."""
        components = []
        for k in range(self.rng.randint(0, 4)):
            value = f"x{k}" if self.chance(0.7) else self.small_float()
            if m > 1 and self.chance(0.6):
                components.append(circuit_bytes.beam_splitter(self.rng.randrange(m - 1), value,
                                                              self.rng.randint(0, 2)))
            else:
                components.append(circuit_bytes.phase_shifter(self.rng.randrange(m), value))
        return self.note(circuit_bytes.circuit(m, components), f"circuit_bytes.circuit({m}, <{len(components)}>)")

    def optimizer_arguments(self):
        """Fitting arguments of CircuitOptimizer, or garbage bytes, a target that is not unitary,
        empty modes out of range."""
        m = self.rng.randint(1, 3)
        target = self.unitary(m) if self.chance(0.7) else self.matrix(np.complex128, (m, m))
        if self.chance(0.8):
            template = self.circuit_template(m)
        else:
            template = self.note(bytes(self.rng.randrange(256) for _ in range(self.rng.randint(0, 12))), "garbage")
        empty = [self.rng.randint(-1, m) for _ in range(self.rng.randint(0, 2))]
        return target, template, empty, self.choice([None, 0, 7, 2**64 - 1])

    def circuit_optimizer(self):
        m = self.rng.randint(1, 3)
        empty = [self.rng.randrange(m) for _ in range(self.rng.randint(0, m - 1))]
        optimizer = ob.CircuitOptimizer(self.unitary(m), self.circuit_template(m), empty, self.rng.randrange(10))
        return self.note(optimizer, f"CircuitOptimizer(unitary({m}), <template>, {empty})")

    def rectangular_decomposer(self):
        decomposer = ob.RectangularDecomposer()
        if self.chance(0.5):
            decomposer.decompose(self.unitary(self.rng.randint(1, 4)))
        decomposer.set_precision(self.choice([1e-6, 1e-3, 0.0]))  # 0 fails every later nulling
        return self.note(decomposer, "RectangularDecomposer(...)")

    def backend(self, cls):
        backend = cls()
        steps = []
        if self.chance(0.8):
            m = self.rng.randint(1, 4)
            backend.set_unitary(self.unitary(m))
            steps.append(f"set_unitary(unitary({m}))")
            if self.chance(0.8):
                state = self.fock_state(m)
                backend.set_input_state(state)
                steps.append(f"set_input_state({self.describe(state)})")
                if self.chance(0.3):
                    mask = self.mask(m, state.n)
                    backend.set_mask(mask)
                    steps.append(f"set_mask({self.describe(mask)})")
        return self.note(backend, f"{cls.__name__}()" + "".join("." + s for s in steps))

    def source(self):
        params = self.choice([(), (0.9, 0.03, 0.8), (1, 0, 0.5, 0, False), (0.7, 0.2, 0.9, 0.3, True),
                              (1, 0.5, 0, 0), (0.5, 0, 1, 0.1)])
        return self.note(ob.Source(*params), f"Source{params}" if params else "Source()")

    def source_input(self):
        """An expected input small enough to enumerate or to mix exactly."""
        return self.fock_state() if self.chance(0.2) else self.note(
            ob.FockState(counts := self.counts(self.rng.randint(0, 3), 2)), f"FockState({counts})")

    def source_user(self, kind):
        source, expected, low = self.source(), self.source_input(), self.choice([0, 1, 2, 5])
        made = getattr(source, kind)(expected, low)
        return self.note(made, f"{self.describe(source)}.{kind}({self.describe(expected)}, {low})")

    def clifford(self):
        sampler = ob.Clifford2017()
        steps = []
        if self.chance(0.8):
            m = self.rng.randint(1, 4)
            sampler.set_unitary(self.unitary(m))
            steps.append(f"set_unitary(unitary({m}))")
        if self.chance(0.8):
            # Mostly the unitary's mode count, sometimes another one.
            state = self.fock_state(m if steps and self.chance(0.8) else None)
            sampler.set_input_state(state)
            steps.append(f"set_input_state({self.describe(state)})")
        return self.note(sampler, "Clifford2017()" + "".join("." + s for s in steps))

    def sampling_simulator(self):
        """A SamplingSimulator, often imperfect: heralds, post-selection, detectors, a filter."""
        sim = ob.SamplingSimulator(self.clifford())
        steps = []
        if self.chance(0.5):
            sim.heralds = heralds = {self.rng.randint(0, 3): self.rng.randint(0, 2)}
            steps.append(f"heralds = {heralds}")
        if self.chance(0.4):
            sim.postselect = self.post_select()
            steps.append(f"postselect = {self.describe(sim.postselect)}")
        if self.chance(0.4):
            sim.set_detectors(detectors := [""] * self.rng.randint(0, 4))
            steps.append(f"set_detectors({detectors})")
        if self.chance(0.3):
            sim.min_photons_filter = low = self.choice([-1, 1, 2, 5])
            steps.append(f"min_photons_filter = {low}")
        sim.keep_heralds, sim.differentiate_perf = self.chance(0.5), self.chance(0.5)
        return self.note(sim, "SamplingSimulator(...)" + "".join("." + s for s in steps))

    def slap_sampler(self):
        sampler = ob.SLAPSampler()
        if self.chance(0.8):
            m = self.rng.randint(1, 4)
            sampler.set_unitary(self.unitary(m))
            return self.note(sampler, f"SLAPSampler().set_unitary(unitary({m}))")
        return self.note(sampler, "SLAPSampler()")

    def slap(self):
        """A SLAP back-end, sometimes with feed-forward entries (possibly ones it refuses)."""
        backend = self.backend(ob.SLAP)
        for _ in range(self.rng.randint(0, 2)):
            entry = self.feed_forward_entry(self.rng.randint(1, 4))
            try:
                backend.add_feed_forward_config(entry)
            except RuntimeError:
                pass
        return backend

    def serialized_detector(self):
        """A detector description: perfect (empty), PPNR, layered, or bytes that do not parse."""
        return self.choice([b"", "", ppnr_bytes(0, 0, 0.9), ppnr_bytes(2, 1, 1.0), ppnr_bytes(0, 1, 1.0),
                            ppnr_bytes(3, 0, 0.5), b"\x0a\x04\x10\x02\x19\x00", b"\xff"])

    def strong_simulator(self):
        """A StrongSimulator over any back-end of 3 modes, with settings that fit it or not."""
        backend_cls = self.choice([ob.SLOS, ob.SLOS_V2, ob.SLOS_V3, ob.SLAP])
        backend = backend_cls()
        steps = []
        if self.chance(0.9):
            backend.set_unitary(self.unitary(3))
        sim = ob.StrongSimulator(backend)
        if self.chance(0.4):
            sim.heralds = heralds = {self.rng.randint(0, 3): self.rng.randint(0, 2) for _ in range(self.rng.randint(1, 2))}
            steps.append(f"heralds = {heralds}")
        if self.chance(0.3):
            sim.postselect = ps = self.post_select()
            steps.append(f"postselect = {self.describe(ps)}")
        if self.chance(0.4):
            detectors = [self.serialized_detector() for _ in range(self.choice([3, 3, 2]))]
            try:
                sim.set_detectors(detectors)
                steps.append(f"set_detectors({detectors!r})")
            except RuntimeError:
                pass
        for name, values in (("min_photons_filter", [0, 1, 2]), ("differentiate_perf", [False, True]),
                             ("keep_heralds", [True, False]), ("use_vector_cache", [False, True])):
            if self.chance(0.3):
                value = self.choice(values)
                setattr(sim, name, value)
                steps.append(f"{name} = {value}")
        return self.note(sim, f"StrongSimulator({backend_cls.__name__}() with unitary(3))"
                         + "".join("; " + s for s in steps))

    def configurator_args(self, m=None):
        """Arguments of a ConfiguratorMap for m modes; the blocks may not fit, or not be square."""
        m = self.rng.randint(1, 4) if m is None else m
        first = self.rng.randint(0, m - 1)
        last = self.rng.randint(first, m - 1)
        size = self.rng.randint(0, 3)
        keys = {tuple(self.rng.randint(0, 2) for _ in range(last - first + 1)) for _ in range(self.rng.randint(0, 3))}
        block = (lambda: self.unitary(size)) if self.chance(0.8) else (lambda: self.matrix(np.complex128, (size, size + 1)))
        return (first, last, self.rng.randint(0, m), {k: block() for k in keys}, block())

    def configurator(self, m=None):
        args = self.configurator_args(m)
        return self.note(ob.ConfiguratorMap(*args), f"ConfiguratorMap{self.describe(args)}")

    def feed_forward_entry(self, m):
        if self.chance(0.5):
            return self.configurator(m)
        size = self.rng.randint(0, m)
        return (self.unitary(size), self.rng.randint(-1, m))

    def matrix(self, dtype, shape=None):
        n = self.rng.randint(0, 6)
        shape = (n, n) if shape is None else shape
        values = np.random.default_rng(self.rng.randrange(2**32)).uniform(-1, 1, size=shape)
        if np.dtype(dtype).kind == "c":
            values = values + 1j * values[::-1]
        array = np.ascontiguousarray(values.astype(dtype) if np.dtype(dtype).kind != "i"
                                     else np.rint(values * 3).astype(dtype))
        return self.note(array, f"array({dtype.__name__}, {shape})")

    def instance(self, cls):
        builders = {
            ob.FockState: self.fock_state, ob.NoisyFockState: self.noisy_state,
            ob.AnnotatedFockState: self.annotated_state, ob.Annotation: self.annotation,
            ob.ParsedBasicState: self.parsed_state, ob.StateVector: self.state_vector,
            ob.FSMask: self.mask, ob.FSArray: self.fs_array, ob.FSMap: self.fs_map,
            ob.PostSelect: self.post_select,
            ob.FSDistribution: self.fsd, ob.FSFunction: self.fsf, ob.SVDistribution: self.svd,
            ob.BSCount: self.bs_count, ob.BSSamples: self.bs_samples,
            ob.SLOS: lambda: self.backend(ob.SLOS), ob.SLOS_V2: lambda: self.backend(ob.SLOS_V2),
            ob.SLOS_V3: lambda: self.backend(ob.SLOS_V3),
            ob.Source: self.source, ob.SourceSampler: lambda: self.source_user("create_sampler"),
            ob.SimpleSourceIterator: lambda: self.source_user("create_simple_iterator"),
            ob.Clifford2017: self.clifford, ob.SamplingSimulator: self.sampling_simulator,
            ob.SLAP: self.slap, ob.ConfiguratorMap: self.configurator,
            ob.CircuitOptimizer: self.circuit_optimizer, ob.RectangularDecomposer: self.rectangular_decomposer,
            ob.SLAPSampler: self.slap_sampler,
            ob.StrongSimulator: self.strong_simulator,
            ob.ModeIterator: lambda: self.note(iter(self.fock_state()), "iter(FockState)"),
            ob.KeysView: lambda: self.note(self.bs_count().keys(), "BSCount.keys()"),
            ob.ValuesView: lambda: self.note(self.bs_count().values(), "BSCount.values()"),
            ob.ItemsView: lambda: self.note(self.bs_count().items(), "BSCount.items()"),
            ob.logging.level: lambda: self.enum_member(ob.logging.level),
            ob.logging.channel: lambda: self.enum_member(ob.logging.channel),
        }
        if cls in builders:
            return builders[cls]()
        if cls is COMMON_BASE:
            return self.instance(self.choice(list(builders)))
        # A class without a builder (a new one, or one without instances): the class itself
        # stands for the receiver of its static members.
        return cls

    def enum_member(self, cls):
        value = self.choice(list(cls.__members__.values()))
        fresh = cls(int(value))  # never the shared member: __setstate__ may be called on it
        return self.note(fresh, f"{cls.__qualname__}({int(value)})")

    def valid(self, annotation):
        """A value of the type the binding's signature names."""
        alternatives = split_top_level(annotation, "|")
        if len(alternatives) > 1:
            picks = [a for a in alternatives if a != "None"] or alternatives
            return self.valid(self.choice(picks))
        t = annotation.strip()
        if t in ("typing.SupportsInt", "typing.SupportsIndex", "int"):
            return self.small_int()
        if t in ("typing.SupportsFloat", "float"):
            return self.small_float()
        if t in ("typing.SupportsComplex", "complex"):
            return self.small_complex()
        if t == "bool":
            return self.chance(0.5)
        if t == "str":
            return self.choice([self.state_text, self.annotation_text])()
        if t == "slice":
            return self.choice([slice(None), slice(0, 1), slice(1, None), slice(0, 2), slice(None, None, 2)])
        if t == "None":
            return None
        if t == "object":
            return self.any_value()
        if t == "dict":
            return self.choice([{}, {self.fock_state(2): 1}])
        if t in ("list", "collections.abc.Iterable"):
            return [self.fock_state(2) for _ in range(self.rng.randint(0, 3))]
        match = re.fullmatch(r"(?:collections\.abc\.Sequence|list)\[(.*)\]", t)
        if match:
            return [self.valid(match.group(1)) for _ in range(self.rng.randint(0, 3))]
        match = re.fullmatch(r"(?:collections\.abc\.Mapping|dict)\[(.*)\]", t)
        if match:
            key, value = split_top_level(match.group(1))
            return {self.valid(key): self.valid(value) for _ in range(self.rng.randint(0, 3))}
        match = re.fullmatch(r"typing\.Annotated\[(.*)\]", t)
        if match:
            parts = split_top_level(match.group(1))
            dtype = re.search(r"numpy\.(float64|complex128|int64)", match.group(1))
            if not dtype:
                raise UnknownType(t)
            dtype = getattr(np, dtype.group(1))
            return self.matrix(dtype, (self.rng.randint(0, 5),) if '"[m, 1]"' in parts else None)
        name = t.removeprefix("orbandile.")
        if name in CLASSES:
            return self.instance(CLASSES[name])
        raise UnknownType(t)

    # Hostile values.
    def hostile(self):
        kind = self.rng.randrange(100)
        if kind < 25:
            return self.hostile_number()
        if kind < 40:
            return self.hostile_array()
        if kind < 52:
            return self.hostile_text()
        if kind < 65:
            return self.hostile_container()
        if kind < 75:
            return self.hostile_object()
        return self.any_value()

    def hostile_number(self):
        return self.choice([
            None, True, False, 0, -1, 1, 2, 255, 256, 2**31 - 1, 2**31, -2**31, -2**31 - 1, 2**32,
            2**63 - 1, 2**63, -2**63, -2**63 - 1, 2**64, 10**40, math.nan, math.inf, -math.inf, -0.0,
            1e308, -1e308, 5e-324, 1e-320, 0.5, complex(math.nan, 0), complex(0, math.inf),
            complex(1e308, 1e308), np.int64(-1), np.uint64(2**64 - 1), np.float32(math.nan),
            np.float64(math.inf), np.complex64(1j), np.bool_(True), np.int8(-128),
        ])

    def hostile_array(self):
        dtype = self.choice([np.float64, np.complex128, np.int64, np.float32, np.complex64, np.int32,
                             np.bool_, np.uint64, object, ">f8", ">c16", np.float16])
        shape = self.choice([(0, 0), (0, 3), (3, 0), (), (3,), (0,), (2, 3), (3, 2), (1, 1), (2, 2),
                             (4, 4), (2, 2, 2), (5, 1), (1, 5)])
        fill = self.choice(["random", "nan", "inf", "huge", "zeros", "ones"])
        rng = np.random.default_rng(self.rng.randrange(2**32))
        values = {"random": lambda: rng.uniform(-2, 2, size=shape), "nan": lambda: np.full(shape, math.nan),
                  "inf": lambda: np.full(shape, math.inf), "huge": lambda: np.full(shape, 1e300),
                  "zeros": lambda: np.zeros(shape), "ones": lambda: np.ones(shape)}[fill]()
        with np.errstate(all="ignore"):
            base = values.astype(dtype) if dtype is not object else values.astype(object)
        layout = self.choice(["C", "F", "strided", "negative", "readonly", "misaligned", "broadcast",
                              "noncontiguous_view"])
        array = base
        if layout == "F":
            array = np.asfortranarray(base)
        elif layout == "strided" and base.ndim >= 1:
            big = np.repeat(np.repeat(base, 2, axis=0), 2, axis=-1) if base.ndim == 2 else np.repeat(base, 2, axis=0)
            array = big[::2, ::2] if base.ndim == 2 else big[::2]
        elif layout == "negative" and base.ndim >= 1:
            array = base[::-1]
        elif layout == "readonly":
            array = base.copy()
            array.flags.writeable = False
        elif layout == "misaligned" and dtype is not object:
            raw = np.zeros(base.nbytes + 1, dtype=np.uint8)
            array = raw[1:].view(base.dtype).reshape(base.shape)
            array[...] = base
        elif layout == "broadcast" and base.ndim >= 1 and base.shape[-1] > 0:
            array = np.broadcast_to(base[..., :1], base.shape)
        elif layout == "noncontiguous_view" and base.ndim == 2 and base.shape[1] > 1:
            array = base[:, :-1]
        else:
            layout = "C"
        return self.note(array, f"array({np.dtype(dtype).str if dtype is not object else 'object'}, "
                                f"{shape}, {fill}, {layout})")

    def hostile_text(self):
        return self.choice([
            "", " ", "\x00", "|\x00>", "|\xff>", "\x01\x7f\x1b[31m", "|1,0>\x00|2>", "\ud800", "|é>",
            "a:\xff", "a:1,\x00:2", "|" + "1," * 300 + "1>", "|{a:" + "9" * 50 + "}>", "|{a:1e39}>",
            "|{a:1e-400},0>", "|1{a:1}>", "|-1>", "|256>", "|255,255>", "|{" + "a" * 300 + ":1}>", "|{}>",
            "|{0}{256}>", "|{-1}>", "{a:1}", "a:", ":1", "a:1,,b:2", "a:5|", "a:1e-40", "a:nan", "a:inf",
            "|0,1|", "|[0,1]>", "1**", "*" * 5, "\t\n", "|1,0>,|0,1>", "x" * 1000, "|300{a:1}>",
            "|50000000{a:1}>", "|2147483647{0}>", "|4294967296>", "|99999999999999999999>", "a:1e39",
            "a:" + "1" * 1000 + "x", "|{a:1e400}>", "|1{a:99999999999999999999}>",
            b"|1,0>", b"\xff", bytearray(b"|1>"),
        ])

    def hostile_container(self):
        return self.choice([
            [], [None], [2**63], [-1], [math.nan], [0] * 300, [1] * 300, [255, 255], [256], [1, "a"],
            [[1, 0]], (), (1, 0), {}, {None: 1}, {1: 2}, {"a": 1}, set(), {1, 2}, range(3),
            (x for x in [1, 0]), [ob.FockState([1])] * 3, HostileSequence(), HostileMapping(),
            {ob.FockState([1]): math.nan}, {ob.FockState([1]): -1.0}, {ob.FockState([1]): 2**70},
            {ob.FockState([1]): math.inf, ob.FockState([0]): 1.0}, [ob.FockState([1]), ob.FockState([1, 0])],
        ])

    def hostile_object(self):
        return self.choice([
            object(), HostileNumber(), HostileNumber(2**70), HostileText(), ob, ob.FockState, type,
            len, Ellipsis, NotImplemented, slice(None, None, -1), slice(0, 2**63), slice(-2**63, None),
            slice(None, None, 2**62), slice(None, None, 0), slice("a", None), memoryview(b"ab"),
            HostileEq(),
        ])

    def any_value(self):
        """An instance of a random class of the module, or a plain value of a random type."""
        if self.chance(0.7):
            cls = self.choice([ob.FockState, ob.NoisyFockState, ob.AnnotatedFockState, ob.StateVector,
                               ob.Annotation, ob.FSArray, ob.FSMask, ob.FSDistribution, ob.FSFunction,
                               ob.SVDistribution, ob.BSCount, ob.BSSamples, ob.ParsedBasicState, ob.PostSelect,
                               ob.logging.level, ob.logging.channel])
            return self.instance(cls)
        return self.choice([self.small_int, self.small_float, self.small_complex, self.state_text])()


class HostileNumber:
    """A number whose conversions raise or overflow."""

    def __init__(self, value=None):
        self.value = value

    def __index__(self):
        if self.value is None:
            raise HostileError("__index__")
        return self.value

    __int__ = __index__

    def __float__(self):
        raise HostileError("__float__")

    def __complex__(self):
        raise HostileError("__complex__")


class HostileText:
    def __str__(self):
        raise HostileError("__str__")

    def __fspath__(self):
        raise HostileError("__fspath__")


class HostileEq:
    def __eq__(self, other):
        raise HostileError("__eq__")

    def __hash__(self):
        raise HostileError("__hash__")


class HostileSequence(collections.abc.Sequence):
    """Claims three items and fails on the second."""

    def __len__(self):
        return 3

    def __getitem__(self, i):
        if i == 1:
            raise HostileError("__getitem__")
        if i >= 3:
            raise IndexError(i)
        return 1


class HostileMapping(collections.abc.Mapping):
    def __len__(self):
        return 2

    def __iter__(self):
        yield ob.FockState([1])
        raise HostileError("__iter__")

    def __getitem__(self, key):
        return 1.0

