#include "python/bindings.h"

namespace Python {

void bind_source_sampler(py::module_&) {}

void bind_simple_source_iterator(py::module_&) {}

void bind_source(py::module_&) {}

}  // namespace Python
