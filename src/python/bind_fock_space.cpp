#include "python/bindings.h"

namespace Python {

void bind_fock_space_containers(py::module_&) {}

}  // namespace Python
