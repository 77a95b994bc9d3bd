#include "runtime/matrix.h"

#include <cmath>
#include <stdexcept>

#include <fmt/format.h>

void check_finite(Matrix const& u) {
    for (Eigen::Index r = 0; r < u.rows(); ++r)
        for (Eigen::Index c = 0; c < u.cols(); ++c) {
            const std::complex<double> z = u(r, c);
            if (!std::isfinite(z.real()) || !std::isfinite(z.imag()))
                throw std::invalid_argument(
                    fmt::format("Matrix holds a value that is not finite: ({}{:+}j) at row {}, "
                                "column {}",
                                z.real(), z.imag(), r, c));
        }
}
