#include "states/basic_state.h"

#include <ostream>

std::ostream& operator<<(std::ostream& os, const BasicState& state) {
    return os << fmt::format("{}", state);
}
