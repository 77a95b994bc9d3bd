#pragma once

#include <optional>
#include <ostream>
#include <string>

namespace Symb {

// A real parameter of an optical component: fixed when it holds a value, otherwise a variable
// known by its name. Components, composites and their variable managers share one parameter by
// pointer, so a value set through any of them is seen by all.
class Parameter {
  public:
    // A variable with a generated anonymous name.
    Parameter();
    // A variable named `name`; an empty name is generated, as for the default constructor.
    explicit Parameter(const std::string& name);
    // A fixed parameter, without a name.
    explicit Parameter(double value);
    // An anonymous source gives the copy a fresh anonymous name: copies of a circuit must not
    // share symbols with it, while named variables still meet their namesakes.
    Parameter(const Parameter& other);
    Parameter& operator=(Parameter other);

    // Throws std::runtime_error "Parameter has no value" for a variable.
    double value() const;
    bool hasValue() const { return value_.has_value(); }
    // Never clears a value.
    void setValue(double value) { value_ = value; }
    std::string name() const { return name_; }
    bool isAnonymous() const { return anonymous_; }

    // Names the parameter `name`, or "__" and the next number of the process-wide counter when
    // `name` is empty.
    void initSymbol(const std::string& name);

  private:
    std::optional<double> value_;
    std::string name_;
    bool anonymous_ = false;
};

// A value as the stream formats doubles, a named variable as its name in double quotes, an
// anonymous variable as nothing.
std::ostream& operator<<(std::ostream& os, const Parameter& p);

}  // namespace Symb
