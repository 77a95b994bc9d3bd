#include "serialisation/parameter_serializer.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "serialisation/proto/circuit.pb.h"

namespace Serial {

namespace {

// The form of a generated name: "__" followed by one or more decimal digits, nothing else.
bool is_generated_name(std::string const& text) {
    return text.size() > 2 && text.starts_with("__") &&
           std::all_of(text.begin() + 2, text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

galvorne::schema::Parameter* ParameterSerializer::serialize(Symb::Parameter const& parameter) {
    auto* message = new galvorne::schema::Parameter();
    message->set_name(parameter.name());
    if (parameter.hasValue())
        message->set_real_value(parameter.value());
    else
        message->set_symbol(parameter.name());
    return message;
}

std::shared_ptr<Symb::Parameter> ParameterSerializer::deserialize(
    galvorne::schema::Parameter const& message) {
    using Message = galvorne::schema::Parameter;
    if (message.type_case() == Message::kExpression)
        throw std::runtime_error(
            "Symbolic expression deserialization has not been implemented yet");
    const bool has_value = message.type_case() == Message::kRealValue;
    if (has_value && message.name().empty())
        return std::make_shared<Symb::Parameter>(message.real_value());
    const std::string& text = !message.name().empty()                   ? message.name()
                              : message.type_case() == Message::kSymbol ? message.symbol()
                                                                        : message.name();
    auto parameter = is_generated_name(text) ? std::make_shared<Symb::Parameter>()
                                             : std::make_shared<Symb::Parameter>(text);
    if (has_value) parameter->setValue(message.real_value());
    return parameter;
}

}  // namespace Serial
