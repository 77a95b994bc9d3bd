#include "python/uninitialised.h"

#include <cstddef>

namespace Python {

namespace {

void* refuse_uninitialised(std::size_t) {
    throw py::type_error("this object was never initialised: build it by calling its class");
}

}  // namespace

void refuse_uninitialised_instances() {
    for (auto& [type, infos] : py::detail::get_internals().registered_types_py)
        for (py::detail::type_info* info : infos) info->operator_new = &refuse_uninitialised;
}

void refuse_uninitialised_instances(py::handle type) {
    if (auto* info = py::detail::get_type_info(reinterpret_cast<PyTypeObject*>(type.ptr())))
        info->operator_new = &refuse_uninitialised;
}

}  // namespace Python
