#include <complex>
#include <list>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <pybind11/eigen.h>
#include <pybind11/stl.h>
#include <Eigen/Core>

#include "fockspace/fs_array.h"
#include "fockspace/fs_map.h"
#include "fockspace/fs_mask.h"
#include "python/bindings.h"
#include "python/numpy_casters.h"
#include "python/opaque_types.h"
#include "python/uninitialised.h"
#include "runtime/interrupt_signal_handler.h"
#include "runtime/matrix.h"

namespace Python {

namespace {

using ComplexRef = Eigen::Ref<Matrix>;
using ConstComplexRef = MatrixView<std::complex<double>>;

constexpr const char* mask_doc =
    "``FSMask`` handles a list of simple conditions to assert if any given state should be masked "
    "or not.\n"
    "\n"
    ":param m: Number of modes the mask applies to\n"
    ":param n: Number of expected photons in the state\n"
    ":param conditions: Optional list of conditions expressed as strings\n"
    "                   Each character of a condition represents a mode.\n"
    "\n"
    "                     * If a character is an integer, it represents the number of expected "
    "photon in the mode\n"
    "                     * If it's a space \" \" and a star \"*\", it means that any value would "
    "fit\n"
    "\n"
    "                   For instance, \"10*\" means 1 photon is expected in the 1st mode, 0 in the "
    "2nd mode, and any number is accepted in the 3rd mode.\n"
    "                   Having several conditions acts as a \"or\" : the mask matches if any of "
    "the conditions match.\n"
    ":param unbounded_modes: A list of modes on which the number of photons can exceed the number "
    "specified in the conditions.\n";

constexpr const char* match_doc =
    "Check a if a given Fock state matches the mask\n"
    "\n"
    ">>> import orbandile as ob\n"
    ">>> mask = ob.FSMask(3, 2, [\"101\"])\n"
    ">>> print(mask.match(ob.FockState([1, 0, 1])),\n"
    ">>>       mask.match(ob.FockState([1, 0, 0]), allow_missing=False),\n"
    ">>>       mask.match(ob.FockState([1, 0, 0])))\n"
    "True False True\n"
    "\n"
    ":param fs: Fock state to check\n"
    ":param allow_missing: If ``True``, the number of photon in the condition is the maximum "
    "allowed photons. The check is otherwise strict. Default is ``True``.\n"
    ":return: ``True`` if the Fock state matches any of the conditions in the list, ``False`` "
    "otherwise.\n";

constexpr const char* array_doc =
    "``FsArray`` allows to iterate on the Fock space of any given size. It will yield every "
    "element only once, in Galvorne natural order (some results are returned in this order).\n"
    "When masked, it will only iterate over matching elements; this can be useful in some "
    "computations to save some time and memory.\n"
    "\n"
    ">>> import orbandile as ob\n"
    ">>> mask = ob.FSMask(3, 3, [\"1**\"])\n"
    ">>> for state in ob.FSArray(3, 3, mask):\n"
    ">>>     print(state)\n"
    "|1,2,0>\n"
    "|1,1,1>\n"
    "|1,0,2>\n"
    "\n"
    ":param m: Number of optical modes in the Fock space\n"
    ":param n: Number of photons\n"
    ":param mask: Optional ``FsMask`` to hide part of the Fock space\n";

constexpr const char* find_doc =
    "Find index of a state in Galvorne natural order.\n"
    "\n"
    ":param fs: A Fock state\n"
    ":return: The index of the Fock state\n";
constexpr const char* count_doc =
    "Return the size of the represented Fock space.\n"
    "\n"
    ":return: The number of elements in the array\n";
constexpr const char* generate_doc =
    "Create a contiguous buffer containing all Fock states in the represented space.";
constexpr const char* size_doc =
    "Return the size in memory the array uses after generating all states.\n"
    "\n"
    ":return: The size in bytes\n";
constexpr const char* norm_coefs_doc =
    "Normalise a vector of complex values with coefficients being the square root of the product "
    "of factorials of the photon count in each mode of represented states.\n"
    "\n"
    "For instance, if the `FsArray` iterates over `|3,0>`, `|2,1>` and `|0,3>`, this call would "
    "normalise a 3 elements vector with the coefficients sqrt(3!*0!) = sqrt(6), sqrt(2!*1!) = "
    "sqrt(2) and sqrt(0!*3!) = sqrt(6).\n";

// The binding layer hands over C-contiguous, aligned complex128 data only (copying U and in when
// it must), but not of the lengths the native calls index up to.
std::complex<double>* checked_data(ComplexRef& a, char const* name, unsigned long long needed) {
    if (static_cast<unsigned long long>(a.size()) < needed)
        throw std::invalid_argument(
            fmt::format("{} holds {} values, {} are needed", name, a.size(), needed));
    return a.data();
}

// The layer kernel takes a vector's length from its rows: a matrix of another column count (a
// (6, 0) view has 6 rows and no value) would be read or written past its end.
template <typename Ref>
unsigned long column_length(Ref const& a, char const* name) {
    if (a.cols() != 1)
        throw std::invalid_argument(
            fmt::format("{} must be a vector or a single column, not a {}x{} matrix", name,
                        a.rows(), a.cols()));
    return static_cast<unsigned long>(a.rows());
}

}  // namespace

void bind_fock_space_containers(py::module_& m) {
    m.attr("npos") = py::int_(fs_npos);

    py::class_<FsMask> mask(m, "FSMask");
    mask.def(py::init<int, int, std::list<std::string>>(), py::arg("m"), py::arg("n"),
             py::arg("conditions"))
        .def(py::init<int, int, std::list<std::string>, std::vector<int> const&>(), py::arg("m"),
             py::arg("n"), py::arg("conditions"), py::arg("unbounded_modes"))
        .def("match", &FsMask::match, py::arg("fs"), py::arg("allow_missing") = true, match_doc);
    mask.attr("__doc__") = mask_doc;

    // The members that may walk the whole space (a masked one can be vast for a small count)
    // catch Ctrl-C for the walk to see; a step of the iterator is left out, as the walk that
    // counted the array at construction was longer.
    py::class_<FsArray> array(m, "FSArray");
    array
        .def(py::init<int, int, std::optional<FsMask> const&>(), py::arg("m"), py::arg("n"),
             py::arg("mask") = py::none(), CatchSigint())
        .def("__getitem__", &FsArray::operator[], py::arg("idx"), CatchSigint())
        .def(
            "__iter__",
            [](FsArray const& a) {
                return refusing_uninitialised(py::make_iterator(a.begin(), a.end()));
            },
            py::keep_alive<0, 1>(), CatchSigint())
        .def("find", &FsArray::find_idx, py::arg("fs"), find_doc, CatchSigint())
        .def("count", &FsArray::count, count_doc)
        .def("generate", &FsArray::generate, generate_doc, CatchSigint())
        .def("size", &FsArray::size, size_doc)
        .def_property_readonly("m", &FsArray::m)
        .def_property_readonly("n", &FsArray::n)
        .def(
            "norm_coefs",
            [](FsArray const& a, CMatrix<ComplexRef> coefs) {
                a.norm_coefs(checked_data(coefs.ref, "coefs", a.count()));
            },
            norm_coefs_doc, CatchSigint());
    array.attr("__doc__") = array_doc;

    py::class_<FsMap>(m, "FSMap")
        .def(py::init<FsArray const&, FsArray const&, bool>(), py::arg("fsa_current"),
             py::arg("fsa_parent"), py::arg("generate") = false, py::keep_alive<1, 2>(),
             py::keep_alive<1, 3>())
        .def("get", &FsMap::get, py::arg("idx"), py::arg("mk"))
        .def("count", &FsMap::count)
        .def("size", &FsMap::size)
        .def_property_readonly("m", &FsMap::m)
        .def_property_readonly("n", &FsMap::n)
        .def("compute_slos_layer",
             [](FsMap const& map, CMatrix<ConstComplexRef> U, int modes, unsigned int k,
                CMatrix<ComplexRef> out, CMatrix<ConstComplexRef> in) {
                 // U is read as modes rows of modes values: no other shape holds them so.
                 if (U.ref.rows() != modes || U.ref.cols() != modes)
                     throw std::invalid_argument(
                         fmt::format("U is a {}x{} matrix, a {}x{} matrix is needed", U.ref.rows(),
                                     U.ref.cols(), modes, modes));
                 const unsigned long out_size = column_length(out.ref, "out");
                 const unsigned long in_size = column_length(in.ref, "in");
                 // The native call checks these lengths against the two layers.
                 map.compute_slos_layer(U.ref.data(), modes, k, out.ref.data(), out_size,
                                        in.ref.data(), in_size);
             });
}

}  // namespace Python
