#include "simulators/post_selection_parser.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <stdexcept>
#include <string_view>
#include <utility>
#include <vector>

#include <fmt/format.h>

// A parsing-expression grammar, read by recursive descent:
//
//   expression := "NOT"|"!" expression
//               | operand (OR operand)+ | operand (AND operand)+ | operand (XOR operand)+
//               | operand
//   operand    := condition | "NOT"|"!" expression | "(" expression ")"
//   condition  := "[" number ("," number)* "]" ("=="|"!="|">"|">="|"<"|"<=") number
//   OR := "|"|"OR"|"or"   AND := "&"|"AND"|"and"   XOR := "XOR"|"xor"|"^"
//
// White space may precede any token. The three lists all begin with the same operand and their
// keywords begin with different characters, so the operand is read once and the keyword after
// it picks the list; an operand that failed at a position is remembered there. Each position is
// thus read a bounded number of times, and the depth is capped so that the stack is too.
namespace post_selection {

namespace {

using ast::GenericNode;

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The text as a message can carry it: valid UTF-8 as given, every NUL and every byte that is not
// part of valid UTF-8 as \xHH.
std::string shown(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80                    ? 1
                                   : lead >= 0xC2 && lead <= 0xDF ? 2
                                   : lead >= 0xE0 && lead <= 0xEF ? 3
                                   : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                                  : 0;
        bool valid = length > 0 && lead != 0 && i + length <= text.size();
        if (valid && length > 1) {
            // The second byte's range excludes overlong forms, surrogates and values past U+10FFFF.
            const unsigned low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
            const unsigned high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
            const auto second = static_cast<unsigned char>(text[i + 1]);
            valid = second >= low && second <= high;
            for (std::size_t k = 2; valid && k < length; ++k)
                valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        }
        if (valid) {
            out.append(text.substr(i, length));
            i += length;
        } else {
            out += fmt::format("\\x{:02x}", lead);
            ++i;
        }
    }
    return out;
}

[[noreturn]] void throw_parse_error(std::string_view text) {
    throw std::runtime_error(
        fmt::format("Couldn't parse post selection expression: {}", shown(text)));
}

enum class ListKind { none, disjunction, conjunction, exclusive };

class Parser {
  public:
    explicit Parser(std::string_view text) : text_(text), failed_operand_(text.size() + 1) {}

    // The whole text as one expression, or nothing.
    std::optional<GenericNode> parse() {
        std::optional<GenericNode> root = expression();
        skip();
        if (pos_ != text_.size()) return std::nullopt;
        return root;
    }

  private:
    // One more level of groups or negations for the scope of the object.
    class Nesting {
      public:
        explicit Nesting(Parser& parser) : parser_(parser) {
            if (++parser_.depth_ > max_expression_depth) throw_parse_error(parser_.text_);
        }
        ~Nesting() { --parser_.depth_; }
        Nesting(Nesting const&) = delete;
        Nesting& operator=(Nesting const&) = delete;

      private:
        Parser& parser_;
    };

    void skip() {
        while (pos_ < text_.size() && is_blank(text_[pos_])) ++pos_;
    }

    bool literal(std::string_view token) {
        skip();
        if (!text_.substr(pos_).starts_with(token)) return false;
        pos_ += token.size();
        return true;
    }

    // An unsigned 32-bit decimal, stored in an int as its two's complement.
    bool number(int& value) {
        skip();
        std::size_t end = pos_;
        std::uint64_t read = 0;
        while (end < text_.size() && text_[end] >= '0' && text_[end] <= '9') {
            read = read * 10 + static_cast<std::uint64_t>(text_[end] - '0');
            if (read > UINT32_MAX) return false;
            ++end;
        }
        if (end == pos_) return false;
        value = static_cast<int>(static_cast<std::uint32_t>(read));
        pos_ = end;
        return true;
    }

    bool mode_list(std::vector<int>& modes) {
        int mode = 0;
        if (!literal("[") || !number(mode)) return false;
        modes.push_back(mode);
        for (;;) {
            const std::size_t before = pos_;
            if (!literal(",") || !number(mode)) {
                pos_ = before;
                break;
            }
            modes.push_back(mode);
        }
        return literal("]");
    }

    bool negation_keyword() { return literal("NOT") || literal("!"); }

    ListKind list_kind() {
        skip();
        const std::string_view rest = text_.substr(pos_);
        for (auto [kind, spellings] : list_keywords)
            for (std::string_view spelling : spellings)
                if (rest.starts_with(spelling)) return kind;
        return ListKind::none;
    }

    bool list_keyword(ListKind kind) {
        for (auto [listed, spellings] : list_keywords)
            if (listed == kind)
                return std::any_of(spellings.begin(), spellings.end(),
                                   [&](std::string_view spelling) { return literal(spelling); });
        return false;
    }

    std::optional<GenericNode> condition() {
        const std::size_t start = pos_;
        std::vector<int> modes;
        if (!mode_list(modes)) {
            pos_ = start;
            return std::nullopt;
        }
        const std::size_t after_modes = pos_;
        // In this order, so that ">" followed by "=" goes on to ">=".
        static constexpr std::array<std::string_view, 6> comparisons = {"==", "!=", ">",
                                                                        ">=", "<",  "<="};
        for (std::size_t kind = 0; kind < comparisons.size(); ++kind) {
            pos_ = after_modes;
            int count = 0;
            if (literal(comparisons[kind]) && number(count))
                return make_condition(kind, std::move(modes), count);
        }
        pos_ = start;
        return std::nullopt;
    }

    static GenericNode make_condition(std::size_t kind, std::vector<int> modes, int count) {
        using namespace ast::LeafNodes;
        switch (kind) {
            case 0:
                return Equal(std::move(modes), count);
            case 1:
                return NotEqual(std::move(modes), count);
            case 2:
                return GreaterThan(std::move(modes), count);
            case 3:
                return GreaterOrEqual(std::move(modes), count);
            case 4:
                return LessThan(std::move(modes), count);
            default:
                return LessOrEqual(std::move(modes), count);
        }
    }

    std::optional<GenericNode> negation() {
        const std::size_t start = pos_;
        if (!negation_keyword()) return std::nullopt;
        Nesting nesting(*this);
        std::optional<GenericNode> child = expression();
        if (!child) {
            pos_ = start;
            return std::nullopt;
        }
        std::vector<GenericNode> children;
        children.push_back(std::move(*child));
        return ast::OperatorNodes::Not(std::move(children));
    }

    std::optional<GenericNode> operand() {
        skip();
        const std::size_t start = pos_;
        if (failed_operand_[start]) return std::nullopt;
        if (auto leaf = condition()) return leaf;
        if (auto negated = negation()) return negated;
        if (literal("(")) {
            Nesting nesting(*this);
            std::optional<GenericNode> inner = expression();
            if (inner && literal(")")) return inner;
        }
        pos_ = start;
        failed_operand_[start] = true;
        return std::nullopt;
    }

    std::optional<GenericNode> expression() {
        skip();
        const std::size_t start = pos_;
        // A negation takes the whole expression to its right; when that fails, so does every
        // other reading, as none begins with a negation keyword.
        if (negation_keyword()) {
            pos_ = start;
            return negation();
        }
        std::optional<GenericNode> first = operand();
        if (!first) return std::nullopt;
        const std::size_t after_first = pos_;
        const ListKind kind = list_kind();
        if (kind == ListKind::none) return first;
        std::vector<GenericNode> children;
        children.push_back(std::move(*first));
        for (;;) {
            const std::size_t before = pos_;
            if (!list_keyword(kind)) break;
            std::optional<GenericNode> next = operand();
            if (!next) {
                pos_ = before;
                break;
            }
            children.push_back(std::move(*next));
        }
        if (children.size() == 1) {
            pos_ = after_first;
            return std::move(children.front());
        }
        switch (kind) {
            case ListKind::disjunction:
                return ast::OperatorNodes::Or(std::move(children));
            case ListKind::conjunction:
                return ast::OperatorNodes::And(std::move(children));
            default:
                return ast::OperatorNodes::Xor(std::move(children));
        }
    }

    using Spellings = std::array<std::string_view, 3>;
    static constexpr std::array<std::pair<ListKind, Spellings>, 3> list_keywords = {{
        {ListKind::disjunction, {"|", "OR", "or"}},
        {ListKind::conjunction, {"&", "AND", "and"}},
        {ListKind::exclusive, {"XOR", "xor", "^"}},
    }};

    std::string_view text_;
    std::size_t pos_ = 0;
    int depth_ = 0;
    std::vector<bool> failed_operand_;
};

}  // namespace

std::optional<ast::GenericNode> parse_expression(std::string const& text) {
    if (std::all_of(text.begin(), text.end(), [](char c) { return c == ' '; })) return std::nullopt;
    std::optional<GenericNode> root = Parser(text).parse();
    if (!root) throw_parse_error(text);
    root->verify();
    return root;
}

}  // namespace post_selection
