"""A short tour of orbandile: the library configuration, seeded random draws and logging."""

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
