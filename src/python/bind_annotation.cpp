#include "python/bindings.h"

namespace Python {

void bind_annotation(py::module_&) {}

void bind_parsed_basic_state(py::module_&) {}

}  // namespace Python
