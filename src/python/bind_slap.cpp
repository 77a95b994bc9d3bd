#include "python/bindings.h"

namespace Python {

void bind_slap_backend(py::module_&) {}

}  // namespace Python
