#include "python/bindings.h"

namespace Python {

void bind_clifford2017(py::module_&) {}

}  // namespace Python
