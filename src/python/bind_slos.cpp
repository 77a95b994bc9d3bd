#include <optional>

#include <pybind11/eigen.h>
#include <Eigen/Core>

#include "backends/slos.h"
#include "backends/slos_v2.h"
#include "backends/slos_v3.h"
#include "fockspace/fs_array.h"
#include "fockspace/fs_mask.h"
#include "python/bindings.h"
#include "python/numpy_casters.h"
#include "python/prob_backend_binding.h"
#include "simulators/post_select.h"

namespace Python {

namespace {

constexpr const char* all_prob_normalize_output_doc =
    "Multiplies in place each entry of a vector by the product of the factorials of the photon "
    "counts per mode of the corresponding state of an ``FSArray``.\n"
    "\n"
    "For instance, if the ``FSArray`` iterates over `|3,0>`, `|2,1>` and `|0,3>`, this call would "
    "normalise a 3 elements vector with the coefficients 3!*0! = 6, 2!*1! = 2 and 0!*3! = 6.\n"
    "\n"
    ":param c: Vector of reals\n"
    ":param fsa: FSArray whose size must match the one of the vector\n"
    ":return: A normalised vector\n";

// The back-end keeps its own copy: later changes to the Python object do not reach it.
template <typename Backend_t>
void set_post_select(Backend_t& backend, std::optional<PostSelect> const& post_select) {
    if (!post_select) {
        backend.set_predicate({});
        return;
    }
    backend.set_predicate([copy = *post_select](FockState const& state) { return copy(state); });
}

// The predicate-driven back-ends add the post-selection, the direction, the index lookup and the
// output states.
template <typename Backend_t>
void bind_predicate_backend(py::module_& m, const char* name) {
    bind_prob_backend<Backend_t>(m, name, {},
                                 [](py::class_<Backend_t, py::smart_holder>& cls) {
                                     cls.def("set_post_select", &set_post_select<Backend_t>,
                                             py::arg("mask"));
                                 })
        .def("set_backward", &Backend_t::set_backward, py::arg("bool"))
        .def("get_index", &Backend_t::get_index)
        .def("get_states", &Backend_t::getFockSpace, CatchSigint());
}

}  // namespace

void bind_slos_backends(py::module_& m) {
    m.def(
        "all_prob_normalize_output",
        [](CMatrix<Eigen::Ref<Eigen::VectorXd>> c, FsArray const& fsa) {
            Backend::allProbabilitiesNormalizeOutput(c.ref, fsa);
        },
        py::arg("c").noconvert(), py::arg("fsa"), all_prob_normalize_output_doc);

    bind_predicate_backend<Backend::SLOS_V2>(m, "SLOS_V2");
    bind_predicate_backend<Backend::SLOS_V3>(m, "SLOS_V3");

    bind_prob_backend<Backend::SLOS>(m, "SLOS");
}

}  // namespace Python
