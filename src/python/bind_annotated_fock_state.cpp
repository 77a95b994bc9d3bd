#include "python/bindings.h"

namespace Python {

void bind_annotated_fock_state(py::module_&) {}

}  // namespace Python
