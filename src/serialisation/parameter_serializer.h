#pragma once

#include <memory>

#include "circuits/parameter.h"

namespace galvorne::schema {
class Parameter;
}

namespace Serial {

// Circuit parameters to and from Parameter messages: a value travels as real_value, a variable
// as its name in symbol; the name travels in name either way.
class ParameterSerializer {
  public:
    // A new message, owned by the caller.
    static galvorne::schema::Parameter* serialize(Symb::Parameter const& parameter);
    // A generated anonymous name ("__" and digits) reads as a fresh anonymous parameter.
    // std::runtime_error for an expression.
    static std::shared_ptr<Symb::Parameter> deserialize(galvorne::schema::Parameter const& message);
};

}  // namespace Serial
