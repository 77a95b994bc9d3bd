"""A short tour of orbandile: the library configuration, seeded random draws, logging and permanents."""

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
