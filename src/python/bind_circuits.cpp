#include "python/bindings.h"

namespace Python {

void bind_circuit_optimizer(py::module_&) {}

void bind_rectangular_decomposer(py::module_&) {}

}  // namespace Python
