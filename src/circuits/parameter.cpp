#include "circuits/parameter.h"

#include <atomic>
#include <cstdint>
#include <stdexcept>
#include <utility>

namespace Symb {

namespace {

// Shared by every thread: circuits are built and copied on the optimiser's workers too.
std::atomic<std::uint32_t> anonymous_counter{0};

}  // namespace

Parameter::Parameter() {
    initSymbol("");
}

Parameter::Parameter(const std::string& name) {
    initSymbol(name);
}

Parameter::Parameter(double value) : value_(value) {}

Parameter::Parameter(const Parameter& other)
    : value_(other.value_), name_(other.name_), anonymous_(other.anonymous_) {
    if (anonymous_) initSymbol("");
}

Parameter& Parameter::operator=(Parameter other) {
    std::swap(value_, other.value_);
    std::swap(name_, other.name_);
    std::swap(anonymous_, other.anonymous_);
    return *this;
}

double Parameter::value() const {
    if (!value_) throw std::runtime_error("Parameter has no value");
    return *value_;
}

void Parameter::initSymbol(const std::string& name) {
    if (!name.empty()) {
        name_ = name;
        anonymous_ = false;
        return;
    }
    name_ = "__" + std::to_string(anonymous_counter.fetch_add(1));
    anonymous_ = true;
}

std::ostream& operator<<(std::ostream& os, const Parameter& p) {
    if (p.hasValue())
        os << p.value();
    else if (!p.isAnonymous())
        os << '"' << p.name() << '"';
    return os;
}

}  // namespace Symb
