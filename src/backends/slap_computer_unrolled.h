#pragma once

#include <complex>
#include <functional>
#include <vector>

namespace Backend {

using Coefficients = std::vector<std::complex<double>>;
using UpdateCoeffFunction = std::function<void(std::complex<double> const*, double, Coefficients&)>;
using UpdateWithProbaFunction = std::function<double(std::complex<double> const*, Coefficients&)>;

// Straight-line layer updates of the SLAP coefficient table for k photons and the layer of subsets
// of j photons: c[S] = sum over the photons p outside S of row[p] c[S + p], divided by x.
void update_coefficients_1_0(std::complex<double> const* row, double x, Coefficients& c);
void update_coefficients_2_0(std::complex<double> const* row, double x, Coefficients& c);
void update_coefficients_2_1(std::complex<double> const* row, double x, Coefficients& c);
void update_coefficients_3_0(std::complex<double> const* row, double x, Coefficients& c);
void update_coefficients_3_1(std::complex<double> const* row, double x, Coefficients& c);
void update_coefficients_3_2(std::complex<double> const* row, double x, Coefficients& c);
void update_coefficients_4_0(std::complex<double> const* row, double x, Coefficients& c);
void update_coefficients_4_1(std::complex<double> const* row, double x, Coefficients& c);
void update_coefficients_4_2(std::complex<double> const* row, double x, Coefficients& c);
void update_coefficients_4_3(std::complex<double> const* row, double x, Coefficients& c);

// The same layers undivided; the result is the layer's total squared modulus.
double update_coefficients_with_proba_1_0(std::complex<double> const* row, Coefficients& c);
double update_coefficients_with_proba_2_0(std::complex<double> const* row, Coefficients& c);
double update_coefficients_with_proba_2_1(std::complex<double> const* row, Coefficients& c);
double update_coefficients_with_proba_3_0(std::complex<double> const* row, Coefficients& c);
double update_coefficients_with_proba_3_1(std::complex<double> const* row, Coefficients& c);
double update_coefficients_with_proba_3_2(std::complex<double> const* row, Coefficients& c);
double update_coefficients_with_proba_4_0(std::complex<double> const* row, Coefficients& c);
double update_coefficients_with_proba_4_1(std::complex<double> const* row, Coefficients& c);
double update_coefficients_with_proba_4_2(std::complex<double> const* row, Coefficients& c);
double update_coefficients_with_proba_4_3(std::complex<double> const* row, Coefficients& c);

// Entry k (1 to 4) lists the updates of k photons by layer size 0 to k - 1; entry 0 is empty.
// Built anew on each call.
std::vector<std::vector<UpdateCoeffFunction>> create_update_coeff_function_group();
std::vector<std::vector<UpdateWithProbaFunction>> create_update_with_proba_function_group();

// The coefficient table of a SLAP walk for 1 to 4 photons, updated by the straight-line layers
// instead of the generic subset loop; the same interface as SLAPComputer.
class SLAPComputer_unrolled {
  public:
    // n from 0 to 4; 0 gives no update.
    explicit SLAPComputer_unrolled(int n);

    void start(double input_factorials);

    // A node of degree d whose last photon went to a mode that now holds k photons.
    void update(std::complex<double> const* row, int k, int d) {
        // Plain function pointers: the std::function of the group costs an indirection per node.
        layers_[static_cast<std::size_t>(n_ - d)](row, roots_[static_cast<std::size_t>(k)], table_);
    }

    std::complex<double> amplitude() const { return table_[0]; }
    Coefficients const& table() const { return table_; }

  private:
    using Layer = void (*)(std::complex<double> const*, double, Coefficients&);

    int n_;
    Coefficients table_;
    std::vector<Layer> layers_;
    std::vector<double> roots_;
};

}  // namespace Backend
