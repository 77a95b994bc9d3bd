#include "python/bindings.h"

namespace Python {

void bind_noisy_fock_state(py::module_&) {}

}  // namespace Python
