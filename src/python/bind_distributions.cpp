#include "python/bindings.h"

namespace Python {

void bind_bs_count(py::module_&) {}

void bind_bs_samples(py::module_&) {}

void bind_fs_distribution(py::module_&) {}

void bind_sv_distribution(py::module_&) {}

}  // namespace Python
