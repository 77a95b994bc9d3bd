#include "python/bindings.h"

namespace Python {

void bind_post_select(py::module_&) {}

}  // namespace Python
