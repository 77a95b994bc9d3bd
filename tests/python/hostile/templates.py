"""Arguments that fit together, where the types alone would rarely reach the core.

Each template takes the case's Gen and the receiver, and gives the positional arguments.
"""

import numpy as np

import orbandile as ob

from .generator import SELF


def square(g, dtype):
    return g.matrix(dtype, (g.rng.randint(0, 7),) * 2)


def permanent_kinds(g):
    return g.choice(["", "glynn", "ryser", "gurvits", "Glynn", "x"])


def slos_layer_arguments(g, fs_map):
    m, n = fs_map.m, fs_map.n
    u = g.unitary(m) if m > 0 else g.matrix(np.complex128, (0, 0))
    rows = [ob.FSArray(m, n + 1).count(), ob.FSArray(m, n).count()]
    # The layers as vectors, as columns, or as columns of a wider array (none of them, or two).
    columns = g.choice([None, None, 1, 0, 2])
    layers = []
    for size, fill in zip(rows, (np.zeros, np.ones)):
        if columns is None:
            layers.append(g.note(fill(size, complex), f"{fill.__name__}({size}, complex)"))
        else:
            wide = fill((size, 4), complex)
            layers.append(g.note(wide[:, :columns], f"{fill.__name__}(({size}, 4), complex)[:, :{columns}]"))
    return (u, m, g.rng.randrange(max(m, 1)), *layers)


TEMPLATES = {
    "permanent_in": [lambda g, r: (square(g, np.int64), permanent_kinds(g))],
    "permanent_fl": [lambda g, r: (square(g, np.float64), permanent_kinds(g))],
    "permanent_cx": [lambda g, r: (square(g, np.complex128), permanent_kinds(g))],
    "estimate_permanent_fl": [lambda g, r: (square(g, np.float64), g.choice([1, 10, 100]), permanent_kinds(g))],
    "estimate_permanent_cx": [lambda g, r: (square(g, np.complex128), g.choice([1, 10, 100]), permanent_kinds(g))],
    "sub_permanents_fl": [lambda g, r: (g.matrix(np.float64, (lambda n: (n + 1, n))(g.rng.randint(0, 6))),)],
    "sub_permanents_cx": [lambda g, r: (g.matrix(np.complex128, (lambda n: (n + 1, n))(g.rng.randint(0, 6))),)],
    "all_prob_normalize_output": [
        lambda g, r: (lambda a: (g.matrix(np.float64, (a.count(),)), a))(g.fs_array())],
    "set_seed": [lambda g, r: (g.choice([0, 1, 42, 2**32 - 1]),)],
    "Annotation.__init__": [lambda g, r: (), lambda g, r: (g.annotation_text(),)],
    "Annotation.__getitem__": [lambda g, r: (g.choice(["a", "b", "P", "zz", ""]),)],
    "Annotation.__contains__": [lambda g, r: (g.choice(["a", "b", "P", "zz", ""]),)],
    "Annotation.str_value": [lambda g, r: (g.choice(["a", "b", "P", "zz", ""]),)],
    "Annotation.get": [lambda g, r: (g.choice(["a", "b", "zz"]), g.small_complex())],
    "ParsedBasicState.__init__": [lambda g, r: (g.state_text(),)],
    "FockState.__init__": [lambda g, r: (), lambda g, r: (g.small_int(),), lambda g, r: (g.counts(),),
                           lambda g, r: (g.state_text(),), lambda g, r: (g.parsed_state(),),
                           lambda g, r: (g.fock_state(),)],
    "NoisyFockState.__init__": [lambda g, r: (), lambda g, r: (g.state_text(),), lambda g, r: (g.noisy_state(),),
                                lambda g, r: (g.fock_state(),), lambda g, r: (g.parsed_state(),),
                                lambda g, r: (lambda s: (s, [g.rng.randint(0, 3) for _ in range(s.n)]))(g.fock_state())],
    "AnnotatedFockState.__init__": [lambda g, r: (), lambda g, r: (g.state_text(),),
                                    lambda g, r: (g.any_state(),), lambda g, r: (g.small_int(),),
                                    lambda g, r: (g.parsed_state(),)],
    "StateVector.__init__": [lambda g, r: (), lambda g, r: (g.state_text(),), lambda g, r: (g.counts(),),
                             lambda g, r: (g.any_state(),)],
    "StateVector.measure": [lambda g, r: ([g.rng.randrange(max(r.m, 1)) for _ in range(g.rng.randint(0, 2))],)],
    "StateVector.samples": [lambda g, r: (g.choice([0, 1, 5]),)],
    "StateVector.__pow__": [lambda g, r: (g.choice([0, 1, 2]),)],
    "FSMask.__init__": [lambda g, r: (lambda m, n: (m, n, g.mask_conditions(m)))(g.rng.randint(0, 4), g.small_int()),
                        lambda g, r: (lambda m, n: (m, n, g.mask_conditions(m), [g.rng.randrange(m)]))(
                            g.rng.randint(1, 4), g.small_int())],
    "FSMask.match": [lambda g, r: (g.fock_state(), g.chance(0.5))],
    "FSArray.__init__": [lambda g, r: (g.rng.randint(0, 4), g.rng.randint(0, 3)),
                         lambda g, r: (lambda m, n: (m, n, g.mask(m, n)))(g.rng.randint(1, 4), g.rng.randint(0, 3))],
    "FSArray.__getitem__": [lambda g, r: (g.choice([0, 1, -1, r.count() - 1, r.count()]),)],
    "FSArray.find": [lambda g, r: (g.fock_state(r.m),)],
    "FSArray.norm_coefs": [lambda g, r: (g.note(np.ones(r.count(), complex), f"ones({r.count()}, complex)"),)],
    "FSMap.__init__": [lambda g, r: (lambda m, n: (g.fs_array(m, n), g.fs_array(m, n - 1), g.chance(0.5)))(
        g.rng.randint(1, 4), g.rng.randint(1, 3))],
    "FSMap.get": [lambda g, r: (g.rng.randrange(max(r.count(), 1)), g.rng.randrange(max(r.m, 1)))],
    "FSMap.compute_slos_layer": [slos_layer_arguments],
    "FSDistribution.__init__": [lambda g, r: (g.fock_state(),), lambda g, r: (g.probability_map(),),
                                lambda g, r: (g.fsd(),), lambda g, r: (g.fsf(),),
                                lambda g, r: (lambda a: (a, [g.small_float() for _ in range(a.count())]))(g.fs_array())],
    "FSFunction.__init__": [lambda g, r: (), lambda g, r: (g.probability_map(),), lambda g, r: (g.fsf(),),
                            lambda g, r: (g.fsd(),),
                            lambda g, r: (lambda a: (a, [g.small_float() for _ in range(a.count())]))(g.fs_array())],
    "FSDistribution.__pow__": [lambda g, r: (g.choice([0, 1, 2, 3]),)],
    "FSFunction.__pow__": [lambda g, r: (g.choice([0, 1, 2, 3]),)],
    "SVDistribution.__pow__": [lambda g, r: (g.choice([0, 1, 2]),)],
    "FSDistribution.sample": [lambda g, r: (g.choice([0, 1, 10]), g.chance(0.5))],
    "SVDistribution.sample": [lambda g, r: (g.choice([0, 1, 10]), g.chance(0.5))],
    "FSDistribution.photon_threshold_simplification": [lambda g, r: (g.small_int(),)],
    "FSDistribution.group_modes_simplification": [lambda g, r: (g.choice([1, 2, 3]),)],
    "FSDistribution.__getitem__": [lambda g, r: (g.fock_state(r.m),)],
    "FSDistribution.__contains__": [lambda g, r: (g.fock_state(r.m),)],
    "FSFunction.__getitem__": [lambda g, r: (g.fock_state(r.m),)],
    "FSFunction.__contains__": [lambda g, r: (g.fock_state(r.m),)],
    "FSFunction.__setitem__": [lambda g, r: (g.fock_state(r.m), g.small_float())],
    "FSFunction.__delitem__": [lambda g, r: (g.fock_state(r.m),)],
    "FSDistribution.tensor_product": [lambda g, r: (g.fsd(), g.fsd(), g.chance(0.3), g.choice([0.0, 0.1]))],
    "FSFunction.tensor_product": [lambda g, r: (g.fsf(), g.fsf(), g.chance(0.3), g.choice([0.0, 0.1]))],
    "FSDistribution.list_tensor_product": [
        lambda g, r: ([g.fsd() for _ in range(g.rng.randint(0, 3))], g.chance(0.3), g.choice([0.0, 0.1]))],
    "FSFunction.list_tensor_product": [
        lambda g, r: ([g.fsf() for _ in range(g.rng.randint(0, 3))], g.chance(0.3), g.choice([0.0, 0.1]))],
    "SVDistribution.tensor_product": [lambda g, r: (g.svd(), g.svd(), g.choice([0.0, 0.1])),
                                      lambda g, r: ([g.svd() for _ in range(g.rng.randint(0, 3))], 0.0)],
    "SVDistribution.__init__": [lambda g, r: (), lambda g, r: (g.any_state(),), lambda g, r: (g.state_vector(),),
                                lambda g, r: ({g.any_state(2): g.small_float()},), lambda g, r: (g.fsd(),),
                                lambda g, r: ({g.state_vector(2): g.small_float()},), lambda g, r: (g.svd(),)],
    "BSCount.__init__": [lambda g, r: (), lambda g, r: (g.bs_count(),),
                         lambda g, r: ({g.fock_state(2): g.rng.randint(0, 3)},)],
    "BSSamples.__init__": [lambda g, r: (), lambda g, r: (g.bs_samples(),),
                           lambda g, r: ([g.fock_state(2) for _ in range(2)],)],
    "BSSamples.__getitem__": [lambda g, r: (g.choice([0, -1, 1, slice(None, None, -1), slice(0, 2)]),)],
    "BSSamples.__setitem__": [lambda g, r: (g.choice([0, -1]), g.fock_state(2)),
                              lambda g, r: (slice(0, len(r)), g.bs_samples())],
    "BSSamples.__delitem__": [lambda g, r: (g.choice([0, -1, slice(None, None, 2)]),)],
    "BSSamples.insert": [lambda g, r: (g.choice([0, -1, 5]), g.fock_state(2))],
    "BSSamples.pop": [lambda g, r: (), lambda g, r: (g.choice([0, -1]),)],
    "CircuitOptimizer.__init__": [lambda g, r: g.optimizer_arguments()],
    "CircuitOptimizer.optimize": [lambda g, r: (g.choice([0, 1, 2, 4]),),
                                  lambda g, r: ([g.small_float() for _ in range(g.rng.randint(0, 4))],)],
    "RectangularDecomposer.decompose": [lambda g, r: (g.unitary(g.rng.randint(1, 5)), g.chance(0.5)),
                                        lambda g, r: (g.matrix(np.complex128), g.chance(0.5))],
    "Config.compute_max_thread_count=": [lambda g, r: (g.choice([0, 1, 2, 4]),)],
    "Config.unitary_check_precision=": [lambda g, r: (g.choice([1e-6, 1e-3, 0.0]),)],
    "logging.initialize": [lambda g, r: (g.choice(["", "hostile.log"]), g.enum_member(ob.logging.level))],
    "logging.level.__setstate__": [lambda g, r: (g.rng.randint(0, 6),)],
    "logging.channel.__setstate__": [lambda g, r: (g.rng.randint(0, 2),)],
}
TEMPLATES.update({
    "Source.__init__": [lambda g, r: (), lambda g, r: (g.choice([0.9, 1, 0.5]), g.choice([0.0, 0.03, 0.5]),
                                                       g.choice([1.0, 0.8, 0]), g.choice([0, 0.1]), g.chance(0.5))],
    "Source.__eq__": [lambda g, r: (g.source(),), lambda g, r: (SELF,)],
    "Source.generate_distribution": [lambda g, r: (g.source_input(), g.choice([0.0, 1e-3, 0.5]))],
    "Source.create_sampler": [lambda g, r: (g.source_input(), g.choice([0, 1, 3, 20]))],
    "Source.create_simple_iterator": [lambda g, r: (g.source_input(), g.choice([0, 1, 3, 20]))],
    "SourceSampler.generate_samples": [lambda g, r: (g.choice([0, 1, 5]),)],
    "SourceSampler.generate_separated_samples": [lambda g, r: (g.choice([0, 1, 5]),)],
    "SimpleSourceIterator.prob_threshold=": [lambda g, r: (g.choice([0.0, 1e-3, 0.2, 2.0]),)],
})
for _backend in ("SLOS", "SLOS_V2", "SLOS_V3"):
    TEMPLATES[f"{_backend}.set_unitary"] = [lambda g, r: (g.unitary(g.rng.randint(1, 4)),)]
    TEMPLATES[f"{_backend}.set_input_state"] = [lambda g, r: (g.fock_state(g.rng.randint(1, 4)),)]
# Unitaries, square matrices that are not, non-square ones; inputs of any mode count; counts.
TEMPLATES["Clifford2017.set_unitary"] = [
    lambda g, r: (g.unitary(g.rng.randint(1, 4)),), lambda g, r: (g.matrix(np.complex128),),
    lambda g, r: (g.matrix(np.complex128, (g.rng.randint(0, 4), g.rng.randint(0, 4))),),
    lambda g, r: (g.unitary(4)[:, :g.rng.randint(1, 3)],)]
TEMPLATES["Clifford2017.set_input_state"] = [lambda g, r: (g.fock_state(),)]
TEMPLATES["Clifford2017.samples"] = [lambda g, r: (g.choice([0, 1, 3, 50, -1, 2**32, 2**40]),)]
# Budgets around zero and beyond 32 bits, shot limits absent or small, inputs of any mode count.
TEMPLATES["SamplingSimulator.__init__"] = [lambda g, r: (g.clifford(),)]
TEMPLATES["SamplingSimulator.samples"] = [
    lambda g, r: (g.svd(), g.choice([0, 1, 20, -1, 2**31, 2**40]), g.choice([None, 0, 30, -3, 2**31])),
    lambda g, r: (g.source(), g.source_input(), g.choice([0, 1, 20, -1, 2**31]), g.choice([None, 0, 30, -3]))]
TEMPLATES["SamplingSimulator.set_detectors"] = [lambda g, r: ([""] * g.rng.randint(0, 4),)]
TEMPLATES["SamplingSimulator.heralds="] = [lambda g, r: ({g.rng.randint(0, 4): g.rng.randint(0, 3)},)]
TEMPLATES["SamplingSimulator.progress_callback="] = [
    lambda g, r: (g.choice([None, lambda p, m: False, lambda p, m: True, lambda p, m: None, lambda p, m: "no",
                            lambda p, m: 1 / 0]),)]
TEMPLATES["SamplingSimulator.min_photons_filter="] = [lambda g, r: (g.choice([-1, 0, 1, 2, 2**31 - 1]),)]
TEMPLATES["SLAP.set_unitary"] = [lambda g, r: (g.unitary(g.rng.randint(0, 4)),)]
TEMPLATES["SLAP.set_input_state"] = [lambda g, r: (g.fock_state(g.rng.randint(0, 4)),)]
TEMPLATES["SLAPSampler.set_unitary"] = [lambda g, r: (g.unitary(g.rng.randint(0, 4)),)]
TEMPLATES["SLAPSampler.sampling"] = [
    lambda g, r: (g.fock_state(g.rng.randint(0, 4)), g.choice([0, 1, 3, 50, -1, 2**31, 2**40]))]
TEMPLATES["SLAP.add_feed_forward_config"] = [lambda g, r: (g.feed_forward_entry(g.rng.randint(1, 4)),)]
TEMPLATES["ConfiguratorMap.__init__"] = [lambda g, r: g.configurator_args()]
for _method in ("is_default", "__getitem__"):
    TEMPLATES[f"ConfiguratorMap.{_method}"] = [
        lambda g, r: ([g.rng.randint(0, 2) for _ in range(g.rng.randint(0, 3))],)]
for _kind in ("FockState", "NoisyFockState", "AnnotatedFockState"):
    TEMPLATES[f"{_kind}.__getitem__"] = [lambda g, r: (g.choice([0, 1, -1, slice(None), slice(None, None, 2)]),)]
    TEMPLATES[f"{_kind}.slice"] = [lambda g, r: (g.rng.randint(0, r.m), g.rng.randint(0, r.m), g.choice([1, 2]))]
    TEMPLATES[f"{_kind}.remove_modes"] = [lambda g, r: ([g.rng.randrange(max(r.m, 1))],)]
    TEMPLATES[f"{_kind}.photon2mode"] = [lambda g, r: (g.rng.randint(0, r.n),)]
    TEMPLATES[f"{_kind}.mode2photon"] = [lambda g, r: (g.rng.randint(0, r.m),)]
    TEMPLATES[f"{_kind}.threshold_detection"] = [lambda g, r: (), lambda g, r: (g.choice([0, 1, 2]),)]
    TEMPLATES[f"{_kind}.__pow__"] = [lambda g, r: (g.choice([0, 1, 2, 3]),)]
    TEMPLATES[f"{_kind}.get_mode_annotations"] = [lambda g, r: (g.rng.randint(0, r.m),)]
    TEMPLATES[f"{_kind}.get_photon_annotation"] = [lambda g, r: (g.rng.randint(0, r.n),)]
    TEMPLATES[f"{_kind}.set_slice"] = [
        lambda g, r: (lambda a: (slice(a, a + 1), g.any_state(1)))(g.rng.randint(0, r.m)),
        lambda g, r: (lambda a: (g.any_state(1), a, a + 1))(g.rng.randint(0, r.m))]
    TEMPLATES[f"{_kind}.inject_annotation"] = [lambda g, r: (g.annotation(),), lambda g, r: (g.small_int(),)]
    for _op in ("__mul__", "__imul__", "merge", "__add__", "__sub__"):
        TEMPLATES[f"{_kind}.{_op}"] = [lambda g, r: (g.any_state(r.m),), lambda g, r: (SELF,)]
TEMPLATES["PostSelect.__init__"] = [lambda g, r: (), lambda g, r: (g.post_select_text(),)]
TEMPLATES["PostSelect.__call__"] = [lambda g, r: (g.any_state(),), lambda g, r: (g.any_state(), g.small_int())]
TEMPLATES["PostSelect.apply_permutation"] = [
    lambda g, r: (g.choice([[], [0], [1, 0], [2, 0, 1], [0, 0]]),),
    lambda g, r: (g.choice([[1, 0], [0, 2, 1]]), g.choice([0, 1, 2, -1]))]
TEMPLATES["PostSelect.shift_modes"] = [lambda g, r: (g.small_int(),)]
TEMPLATES["PostSelect.can_compose_with"] = [lambda g, r: (g.counts(),)]
for _op in ("merge", "is_independent_with", "__eq__"):
    TEMPLATES[f"PostSelect.{_op}"] = [lambda g, r: (g.post_select(),), lambda g, r: (SELF,)]
for _backend in ("SLOS_V2", "SLOS_V3"):
    TEMPLATES[f"{_backend}.set_post_select"] = [lambda g, r: (g.post_select(),), lambda g, r: (None,)]
TEMPLATES["FockState.partition"] = [lambda g, r: ([g.rng.randint(1, 2) for _ in range(g.rng.randint(0, 3))],)]
TEMPLATES["NoisyFockState.__imul__"] = [lambda g, r: (g.fock_state(),), lambda g, r: (g.noisy_state(),),
                                        lambda g, r: (SELF,)]
for _op in ("__add__", "__iadd__", "__sub__", "__isub__", "__mul__", "__imul__"):
    TEMPLATES[f"StateVector.{_op}"] = [lambda g, r: (g.state_vector(r.m),), lambda g, r: (g.any_state(r.m),),
                                       lambda g, r: (SELF,), lambda g, r: (g.small_complex(),)]
for _op in ("__add__", "__iadd__", "__sub__", "__isub__", "__mul__", "__eq__"):
    TEMPLATES[f"FSFunction.{_op}"] = [lambda g, r: (g.fsf(),), lambda g, r: (SELF,)]
for _op in ("__imul__", "__itruediv__", "__truediv__"):
    TEMPLATES[f"FSFunction.{_op}"] = [lambda g, r: (g.choice([2.0, 0.5, -1.0]),), lambda g, r: (SELF,)]
TEMPLATES["SVDistribution.__imul__"] = [lambda g, r: (g.svd(),), lambda g, r: (g.any_state(),),
                                        lambda g, r: (g.state_vector(),), lambda g, r: (SELF,)]
TEMPLATES["BSSamples.__iadd__"] = [lambda g, r: (g.bs_samples(),), lambda g, r: (SELF,)]
TEMPLATES["BSSamples.extend"] = [lambda g, r: (g.bs_samples(),), lambda g, r: (SELF,),
                                 lambda g, r: ([g.fock_state(2)],)]


TEMPLATES["StrongSimulator.__init__"] = [lambda g, r: (g.backend(g.choice([ob.SLOS, ob.SLOS_V2, ob.SLOS_V3])),),
                                         lambda g, r: (g.slap(),), lambda g, r: (None,)]
TEMPLATES["StrongSimulator.probs_svd"] = [
    lambda g, r: (g.note(ob.SVDistribution({g.state_vector(3, empty=False): g.choice([1.0, 0.5])
                                            for _ in range(g.rng.randint(1, 3))}), "SVDistribution(3 modes)"),),
    lambda g, r: (g.svd(),),
    lambda g, r: (g.source(), g.note(ob.FockState(c := g.counts(g.choice([3, 3, 2]), 2)), f"FockState({c})"))]
TEMPLATES["StrongSimulator.set_detectors"] = [
    lambda g, r: ([g.serialized_detector() for _ in range(g.choice([0, 2, 3]))],),
    lambda g, r: (tuple(g.serialized_detector() for _ in range(3)),)]
TEMPLATES["StrongSimulator.heralds="] = [
    lambda g, r: ({g.rng.randint(0, 4): g.rng.randint(0, 3) for _ in range(g.rng.randint(0, 2))},),
    lambda g, r: ({g.choice([0, 255, 256, -1]): g.choice([0, 33, 255, 1.0])},)]
TEMPLATES["StrongSimulator.callback_interval="] = [
    lambda g, r: (g.choice([0.0, 0.0009, -1.5, 1e300, float("nan"), float("inf")]),)]
TEMPLATES["StrongSimulator.progress_callback="] = [
    lambda g, r: (g.choice([None, lambda p, m: False, lambda p, m: True, lambda p, m: None, lambda p, m: "x"]),)]


def signature_templates(entry):
    """One template per documented overload; the optional parameters are sometimes left out."""

    def template(params):
        def build(g, receiver):
            args = []
            for name, annotation, has_default in params:
                if has_default and g.chance(0.4):
                    break
                args.append(g.valid(annotation))
            return tuple(args)

        return build

    if entry.kind in ("static_getter", "getter") or not entry.overloads:
        return [lambda g, r: ()]
    templates = []
    for params in entry.overloads:
        if "*" in params:
            templates.append(lambda g, r: tuple(g.any_value() for _ in range(g.rng.randint(0, 2))))
        elif entry.kind in ("static_setter", "setter"):
            templates.append(template(params[1:]))
        else:
            templates.append(template(params))
    return templates


def templates_of(entry):
    explicit = TEMPLATES.get(entry.key.removesuffix("#again"))
    return explicit if explicit else signature_templates(entry)
