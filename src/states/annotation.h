#pragma once

#include <complex>
#include <cstddef>
#include <map>
#include <string>
#include <string_view>

// Named complex values that tell one photon from another beyond its mode: a polarisation
// ("P:H"), a wavelength ("lambda:625.2") or any user tag ("a:0,b:1+2j"). Names sort byte-wise.
class Annotation : public std::map<std::string, std::complex<float>> {
  public:
    Annotation() = default;
    // Throws as `parse` does.
    explicit Annotation(std::string_view text);

    // Adds the pairs written in `text`: NAME:VALUE pairs, each optionally followed by ",".
    // Throws std::invalid_argument for a malformed text, a number that does not convert ("stof")
    // or one beyond the float range; numbers below it are rounded. Pairs read before an error
    // stay in the map.
    void parse(std::string_view text);

    // Text of one value: a polarisation letter for the name "P" when the value is one of the
    // table, "(re,im)" when the imaginary part is not zero, else the real part. Throws
    // std::out_of_range "map::at" when the name is absent.
    std::string str_value(const std::string& name) const;
    // "name:value" pairs in name order joined by ","; parses back to an equal annotation.
    std::string to_str() const;

    // True when every name both annotations hold, except "P", has the same value; `out` then
    // holds this annotation plus the names only `other` has (except "P"). On false, `out` holds
    // what was filled before the conflicting name.
    bool compatible_annotation(const Annotation& other, Annotation& out) const;

    std::complex<float> get(const std::string& name, std::complex<float> fallback) const;

    // Equal annotations hash alike (-0 is folded onto 0).
    std::size_t hash() const;
};
