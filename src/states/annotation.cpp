#include "states/annotation.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <numbers>
#include <stdexcept>
#include <vector>

#include <fmt/format.h>

#include "runtime/hash.h"
#include "states/regex.h"

namespace {

struct PolarizationEntry {
    char letter;
    std::complex<float> value;
};

constexpr float pi = std::numbers::pi_v<float>;
constexpr float half_pi = static_cast<float>(std::numbers::pi / 2);
constexpr float three_half_pi = static_cast<float>(3 * std::numbers::pi / 2);

constexpr std::array<PolarizationEntry, 6> polarizations{{
    {'H', {0.0f, 0.0f}},
    {'V', {pi, 0.0f}},
    {'D', {half_pi, 0.0f}},
    {'A', {half_pi, pi}},
    {'R', {half_pi, three_half_pi}},
    {'L', {half_pi, half_pi}},
}};

const PolarizationEntry* polarization_of_letter(char letter) {
    for (const auto& entry : polarizations)
        if (entry.letter == letter) return &entry;
    return nullptr;
}

// Exact float comparison, so a NaN part never finds a letter.
const PolarizationEntry* polarization_of_value(std::complex<float> value) {
    for (const auto& entry : polarizations)
        if (entry.value == value) return &entry;
    return nullptr;
}

std::string build_pair_pattern() {
    const std::string word = R"(\w+)";
    const std::string number = R"([+-]?[+-]?(\d+([.]\d*)?([eE][+-]?\d+)?|[.]\d+([eE][+-]?\d+)?))";
    // One word character is enough to refuse: "(?!\w+)" would rescan the rest at every length.
    const std::string single_float = number + R"((?!\w))";
    const std::string word_value = "(?P<word_value>" + word + ")";
    const std::string single_float_value = "(?P<single_float_value>" + single_float + ")";
    const std::string pair =
        R"(\((?P<two_floats_real>)" + number + R"(),(?P<two_floats_imaginary>)" + number + R"()\))";
    const std::string pair_value = "(?P<two_float_value>" + pair + ")";
    // The real part is atomic: given back digit by digit it would split "12j" into 1+2i.
    const std::string complex =
        "(?>(?P<complex_real>" + number + "))?(?P<complex_imaginary>(" + number + ")[ij])";
    const std::string complex_value = "(?P<complex_value>" + complex + ")";
    const std::string name = "(?P<name>" + word + ")";
    // The order of the alternatives decides how a value is classified.
    const std::string value = "(?P<value>" + pair_value + "|" + complex_value + "|" +
                              single_float_value + "|" + word_value + ")";
    return "(?P<name_value_pair>" + name + ":" + value + ",?)";
}

struct PairPattern {
    Utils::Regex regex;
    int name_value_pair, name, two_float_value, two_floats_real, two_floats_imaginary,
        complex_value, complex_real, complex_imaginary, single_float_value, word_value;

    explicit PairPattern(Utils::Regex compiled)
        : regex(std::move(compiled)),
          name_value_pair(regex.group_number("name_value_pair")),
          name(regex.group_number("name")),
          two_float_value(regex.group_number("two_float_value")),
          two_floats_real(regex.group_number("two_floats_real")),
          two_floats_imaginary(regex.group_number("two_floats_imaginary")),
          complex_value(regex.group_number("complex_value")),
          complex_real(regex.group_number("complex_real")),
          complex_imaginary(regex.group_number("complex_imaginary")),
          single_float_value(regex.group_number("single_float_value")),
          word_value(regex.group_number("word_value")) {}
};

Utils::Regex compile_pair_pattern() {
    try {
        return Utils::Regex(build_pair_pattern());
    } catch (const std::invalid_argument& e) {
        throw std::invalid_argument(
            fmt::format("Fail to compile regex for annotation: {}", e.what()));
    }
}

// Compiled on first use; a failed compilation is retried by the next call.
const PairPattern& pair_pattern() {
    static const PairPattern pattern(compile_pair_pattern());
    return pattern;
}

struct PairGroups {
    std::string_view name_value_pair, name, two_float_value, two_floats_real, two_floats_imaginary,
        complex_value, complex_real, complex_imaginary, single_float_value, word_value;
};

// "+-" and "-+" both mean "-"; occurrences are replaced left to right without overlap.
std::string fix_signs(std::string_view text) {
    std::string fixed;
    fixed.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i + 1 < text.size() &&
            ((text[i] == '+' && text[i + 1] == '-') || (text[i] == '-' && text[i + 1] == '+'))) {
            fixed += '-';
            ++i;
        } else {
            fixed += text[i];
        }
    }
    return fixed;
}

// The longest leading number of the fixed text, as std::stof reads it, except that a number too
// small for a float is rounded (to a subnormal or 0) instead of refused.
float convert(std::string_view text) {
    const std::string fixed = fix_signs(text);
    char* stop = nullptr;
    errno = 0;
    const float value = std::strtof(fixed.c_str(), &stop);
    if (stop == fixed.c_str()) throw std::invalid_argument("stof");
    if (errno == ERANGE && std::isinf(value))
        throw std::invalid_argument(
            fmt::format("invalid annotation (value out of float range: {})", text));
    return value;
}

std::complex<float> parseAnnotationValue(const PairGroups& groups) {
    if (!groups.two_float_value.empty())
        return {convert(groups.two_floats_real), convert(groups.two_floats_imaginary)};
    if (!groups.complex_value.empty()) {
        const float real = groups.complex_real.empty() ? 0.0f : convert(groups.complex_real);
        return {real, convert(groups.complex_imaginary)};
    }
    if (!groups.single_float_value.empty()) return {convert(groups.single_float_value), 0.0f};
    const std::string_view word = groups.word_value;
    if (word.size() == 1) {
        if (const auto* entry = polarization_of_letter(word[0])) return entry->value;
        throw std::invalid_argument(
            fmt::format("invalid annotation (unknown polarization value: {})", word));
    }
    throw std::invalid_argument(fmt::format("invalid annotation (the value is invalid: {})", word));
}

bool digits_only(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::uint64_t float_bits(float value) {
    // -0 and 0 compare equal, so they must hash alike.
    return value == 0.0f ? 0 : std::bit_cast<std::uint32_t>(value);
}

}  // namespace

Annotation::Annotation(std::string_view text) {
    parse(text);
}

void Annotation::parse(std::string_view text) {
    if (text.empty()) return;
    const PairPattern& pattern = pair_pattern();

    std::vector<PairGroups> pairs;
    Utils::Regex::Match match(pattern.regex);
    std::size_t covered = 0;
    for (std::size_t offset = 0; pattern.regex.search(text, offset, match); offset = match.end()) {
        pairs.push_back({match.group(pattern.name_value_pair), match.group(pattern.name),
                         match.group(pattern.two_float_value), match.group(pattern.two_floats_real),
                         match.group(pattern.two_floats_imaginary),
                         match.group(pattern.complex_value), match.group(pattern.complex_real),
                         match.group(pattern.complex_imaginary),
                         match.group(pattern.single_float_value), match.group(pattern.word_value)});
        covered += pairs.back().name_value_pair.size();
    }
    if (pairs.empty()) throw std::invalid_argument("invalid annotation (cannot parse value)");
    if (covered != text.size()) {
        std::string detected;
        for (const auto& pair : pairs) {
            if (!detected.empty()) detected += ',';
            detected += pair.name_value_pair;
        }
        throw std::invalid_argument(fmt::format(
            "invalid annotation (a part of the string is not detected as [name:value]. {})",
            detected));
    }

    for (const auto& pair : pairs) {
        if (digits_only(pair.name))
            throw std::invalid_argument(
                fmt::format("invalid annotation (digit only name is forbidden: {})", pair.name));
        const std::complex<float> value = parseAnnotationValue(pair);
        if (!emplace(std::string(pair.name), value).second)
            throw std::invalid_argument("invalid annotation (duplicate tag)");
    }
}

std::string Annotation::str_value(const std::string& name) const {
    const std::complex<float> value = at(name);
    if (name == "P") {
        if (const auto* entry = polarization_of_value(value)) return std::string(1, entry->letter);
    }
    if (value.imag() != 0.0f) return fmt::format("({},{})", value.real(), value.imag());
    return fmt::format("{}", value.real());
}

std::string Annotation::to_str() const {
    std::string text;
    for (const auto& [name, value] : *this) {
        if (!text.empty()) text += ',';
        text += name;
        text += ':';
        text += str_value(name);
    }
    return text;
}

bool Annotation::compatible_annotation(const Annotation& other, Annotation& out) const {
    // Filling `out` must not change what is being compared when `out` is `other`.
    const bool out_is_other = &out == &other && &other != this;
    const Annotation other_copy = out_is_other ? other : Annotation();
    const Annotation& theirs = out_is_other ? other_copy : other;
    if (&out != this) out = *this;
    for (const auto& [name, value] : theirs) {
        if (name == "P") continue;
        if (const auto it = find(name); it != end()) {
            if (it->second != value) return false;
        } else {
            out.insert_or_assign(name, value);
        }
    }
    return true;
}

std::complex<float> Annotation::get(const std::string& name, std::complex<float> fallback) const {
    const auto it = find(name);
    return it == end() ? fallback : it->second;
}

std::size_t Annotation::hash() const {
    std::uint64_t seed = 0;
    for (const auto& [name, value] : *this) {
        const std::uint64_t name_hash =
            Utils::hash_bytes(reinterpret_cast<const unsigned char*>(name.data()), name.size());
        const std::uint64_t value_hash =
            float_bits(value.real()) + Utils::hash_mix(float_bits(value.imag()));
        seed = Utils::hash_combine(
            seed, Utils::hash_combine(Utils::hash_combine(0, name_hash), value_hash));
    }
    return seed;
}
