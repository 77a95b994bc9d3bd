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
