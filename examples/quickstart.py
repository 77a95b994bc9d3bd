"""A short tour of orbandile: the library configuration, seeded random draws, logging, permanents and
strong simulation with SLOS."""

import itertools

import numpy as np

import orbandile as ob

print(f"orbandile {ob.__version__}: {ob.__doc__}")

# Library-wide settings live on the class itself.
ob.Config.compute_max_thread_count = 2
print("threads:", ob.Config.compute_max_thread_count,
      "single precision:", ob.Config.use_single_precision,
      "unitarity tolerance:", ob.Config.unitary_check_precision)

# A fixed seed makes every random draw of the library reproducible on this thread.
ob.set_seed(2026)

ob.logging.initialize()
ob.logging.enable_console()
ob.logging.info("logging on the General channel")
ob.logging.warn("and on the User channel", ob.logging.channel.user)

# Perfect Fock states: photon counts per mode, from a list or from the |...> notation.
state = ob.FockState([1, 0, 2])
same = ob.FockState("|1,0,2>")
print(state, "==", same, ":", state == same, f"({state.m} modes, {state.n} photons)")
print("tensor product:", state * ob.FockState([0, 1]), " modes 1 onward:", state[1:])
print("counts per mode:", list(state), " photon modes:", [state.photon2mode(i) for i in range(state.n)])

# Permanents give the amplitudes of indistinguishable photons. Two photons enter the two inputs of
# a beam splitter of transmittance T; the chance that they leave by different outputs is the
# squared modulus of the permanent of its 2x2 matrix, (T - R)^2: zero for a balanced splitter,
# where the photons always bunch (the Hong-Ou-Mandel dip).
for transmittance in (0.5, 0.8, 1.0):
    t, r = np.sqrt(transmittance), np.sqrt(1 - transmittance)
    splitter = np.array([[t, 1j * r], [1j * r, t]])
    coincidence = abs(ob.permanent_cx(splitter)) ** 2
    print(f"beam splitter T={transmittance:.1f}: coincidence probability {coincidence:.3f}")

# Noisy and annotated states: photons of different batches, or with different annotations,
# are distinguishable.
noisy = ob.NoisyFockState("|{0},0,{0}{1}>")
print("noisy:", noisy, " batches:", noisy.split_state())
polarised = ob.AnnotatedFockState([1, 0, 1], {0: ["P:H"], 2: ["P:V"]})
print("annotated:", polarised, " polarised:", polarised.has_polarization,
      " plain:", polarised.__str__(show_annotations=False))
print("noisy * annotated:", noisy * polarised)

# Superpositions: measuring mode 0 collapses it and leaves the rest, sampling draws basis states.
sv = ob.StateVector("|0,1,1>") + ob.StateVector("|1,1,0>") + 1j * ob.FockState([1, 0, 1])
print("superposition:", sv)
for outcome, (p, rest) in sorted(sv.measure([0]).items(), key=lambda item: str(item[0])):
    print(f"  mode 0 reads {outcome} with probability {p:.3f}, leaving {rest}")
print("samples:", [str(s) for s in sv.samples(5)])

# SLOS computes every output probability of a unitary at once, layer by layer. On a balanced beam
# splitter |1,1> never leaves as |1,1>: the Hong-Ou-Mandel effect.
slos = ob.SLOS()
slos.set_unitary(np.array([[1, 1], [1, -1]]) / np.sqrt(2))
slos.set_input_state(ob.FockState([1, 1]))
for output, p in zip(ob.FSArray(2, 2), slos.all_probabilities()):
    print(f"Hong-Ou-Mandel: {output} with probability {p:.3f}")

# A small boson-sampling experiment: three photons in a random 6-mode interferometer. The outputs
# come in the natural order of FSArray; a mask keeps only the collision-free ones.
rng = np.random.default_rng(7)
z = rng.normal(size=(6, 6)) + 1j * rng.normal(size=(6, 6))
q, r = np.linalg.qr(z)
slos.set_unitary(q * (np.diag(r) / np.abs(np.diag(r))))
slos.set_input_state(ob.FockState([1, 1, 1, 0, 0, 0]))
probabilities = slos.all_probabilities()
print(f"boson sampling: {len(probabilities)} outputs, total probability {sum(probabilities):.6f}")
ranked = sorted(zip(probabilities, ob.FSArray(6, 3)), key=lambda pair: -pair[0])
for p, output in ranked[:3]:
    print(f"  {output}: {p:.4f}")
collision_free = ["".join("1" if mode in modes else "0" for mode in range(6))
                  for modes in itertools.combinations(range(6), 3)]
slos.set_mask(ob.FSMask(6, 3, collision_free))
print(f"collision-free outputs: {len(slos.all_probabilities())}, "
      f"probability {sum(slos.all_probabilities()):.6f}")

# A whole experiment, exactly: a small circuit built in numpy (three beam splitters and a phase) on
# four modes, fed by an imperfect source. Mode 3 is a herald that must see no photon, and we keep the outputs with one photon in
# the first two modes. The simulator returns the distribution of what is kept, and two scores:
# the physical performance (enough photons detected) and the logical one (heralds and
# post-selection passed).
def beam_splitter(m, a, b, theta=np.pi / 4):
    u = np.eye(m, dtype=complex)
    u[a, a], u[a, b], u[b, a], u[b, b] = np.cos(theta), 1j * np.sin(theta), 1j * np.sin(theta), np.cos(theta)
    return u


phase = np.diag([1, np.exp(1j * np.pi / 3), 1, 1])
circuit = beam_splitter(4, 1, 2) @ phase @ beam_splitter(4, 0, 1) @ beam_splitter(4, 2, 3)
backend = ob.SLOS_V3()
backend.set_unitary(circuit)
simulator = ob.StrongSimulator(backend)
simulator.heralds = {3: 0}
simulator.postselect = ob.PostSelect("[0,1] == 1")
simulator.min_photons_filter = 2
source = ob.Source(emission_probability=0.9, multiphoton_component=0.02, indistinguishability=0.92,
                   losses=0.1)
distribution = simulator.probs_svd(source, ob.FockState([1, 1, 1, 0]))
for output, p in sorted(distribution.items(), key=lambda item: -item[1])[:5]:
    print(f"experiment: {output} with probability {p:.4f}")
print(f"physical performance {simulator.get_physical_perf():.4f}, "
      f"logical performance {simulator.get_logical_perf():.4f}")
