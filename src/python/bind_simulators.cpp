#include "python/bindings.h"

namespace Python {

void bind_strong_simulator(py::module_&) {}

}  // namespace Python
