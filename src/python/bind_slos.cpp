#include "python/bindings.h"

namespace Python {

void bind_slos_backends(py::module_&) {}

}  // namespace Python
