#include "python/bindings.h"

namespace Python {

void bind_state_vector(py::module_&) {}

}  // namespace Python
