#include "python/bindings.h"

namespace Python {

void bind_permanent_functions(py::module_&) {}

}  // namespace Python
