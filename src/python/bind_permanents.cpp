#include <complex>
#include <string>
#include <utility>

#include <pybind11/stl.h>

#include "python/bindings.h"
#include "python/numpy_casters.h"
#include "runtime/matrix.h"
#include "runtime/permanent.h"
#include "runtime/permanent_gurvits.h"
#include "runtime/sub_permanents.h"

namespace Python {

namespace {

using cd = std::complex<double>;
template <typename T>
using In = CMatrix<MatrixView<T>>;
// The integer function asks for a writeable array although it never writes to it.
using InWriteable = CMatrix<Eigen::Ref<RowMatrix<long long>>, false>;

constexpr const char* permanent_fl_doc = R"doc(Permanent of a square floating point matrix

:param M: Square matrix of reals
:param ptype: Name of a permanent computation algorithm. Accepted values are ``"glynn"`` and ``"ryser"``.
    By default, Glynn method is used only when using 1 or 2 threads. Ryser is otherwise used.
:return: The permanent value

See also orbandile.Config to control how many CPU threads you allow you program to use.
)doc";

constexpr const char* permanent_cx_doc = R"doc(Permanent of a square complex matrix

:param M: Square matrix of complex values
:param ptype: Name of a permanent computation algorithm. Accepted values are ``"glynn"`` and ``"ryser"``.
    By default, Glynn method is used only when using 1 or 2 threads. Ryser is otherwise used.
:return: The permanent value

See also orbandile.Config to control how many CPU threads you allow you program to use.
)doc";

constexpr const char* estimate_fl_doc =
    R"doc(Permanent estimate of a square floating point matrix, with a 99% confidence interval.

:param M: Square matrix of reals
:param n_iter: Number of iterations. The higher, the more accurate the result will be.
:param ptype: Name of a permanent estimate algorithm. Currently, only ``"gurvits"`` is accepted.
:return: A tuple containing:
    - The permanent value (float)
    - The 99% confidence interval size

See also orbandile.Config to control how many CPU threads you allow you program to use.
)doc";

constexpr const char* estimate_cx_doc =
    R"doc(Permanent estimate of a square complex matrix, with a 99% confidence interval.

.. note:: Permanent estimate on complex values is accurate for norm, but not for angles.

:param M: Square matrix of complex
:param n_iter: Number of iterations. The higher, the more accurate the result will be.
:param ptype: Name of a permanent estimate algorithm. Currently, only ``"gurvits"`` is accepted.
:return: A tuple containing:
    - The permanent value (float)
    - The 99% confidence interval size

See also orbandile.Config to control how many CPU threads you allow you program to use.
)doc";

}  // namespace

void bind_permanent_functions(py::module_& m) {
    using Release = py::call_guard<py::gil_scoped_release>;
    m.def(
        "permanent_in",
        [](InWriteable M, const std::string& ptype) { return permanent_in(M.ref, ptype); },
        "Permanent of a square integer matrix", py::arg("M").noconvert(), py::arg("ptype") = "",
        Release());
    m.def(
        "permanent_fl",
        [](In<double> M, const std::string& ptype) { return permanent_fl(M.ref, ptype); },
        permanent_fl_doc, py::arg("M").noconvert(), py::arg("ptype") = "", Release());
    m.def(
        "permanent_cx",
        [](In<cd> M, const std::string& ptype) { return permanent_cx(M.ref, ptype); },
        permanent_cx_doc, py::arg("M").noconvert(), py::arg("ptype") = "", Release());
    m.def(
        "estimate_permanent_fl",
        [](In<double> M, unsigned int n_iter, const std::string& ptype) {
            return estimate_permanent_fl(M.ref, n_iter, ptype);
        },
        estimate_fl_doc, py::arg("M").noconvert(), py::arg("n_iter") = 1, py::arg("ptype") = "",
        Release());
    m.def(
        "estimate_permanent_cx",
        [](In<cd> M, unsigned int n_iter, const std::string& ptype) {
            return estimate_permanent_cx(M.ref, n_iter, ptype);
        },
        estimate_cx_doc, py::arg("M").noconvert(), py::arg("n_iter") = 1, py::arg("ptype") = "",
        Release());
    m.def(
        "sub_permanents_fl", [](In<double> M) { return sub_permanents_fl(M.ref); },
        "Permanent of n+1 (n,n) float number sub-array", py::arg("M").noconvert(), Release());
    m.def(
        "sub_permanents_cx", [](In<cd> M) { return sub_permanents_cx(M.ref); },
        "Permanent of n+1 (n,n) complex number sub-array", py::arg("M"), Release());
}

}  // namespace Python
