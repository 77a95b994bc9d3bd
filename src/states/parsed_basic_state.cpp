#include "states/parsed_basic_state.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string_view>

#include <fmt/format.h>

#include "states/code_buffer.h"

namespace {

constexpr const char* end_of_text_error =
    "Wrong termination of BasicState. Reached EOS without catching '>'.";
constexpr const char* digit_expected = "Invalid character. Should be a digit.";

// isspace in the C locale, whatever the process locale is.
bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// No state holds more photons than a code has bytes, so no text may ask for more copies of a tag
// or an annotation: the copies are allocated before any state checks its counts.
constexpr std::int64_t max_grouped_photons = CodeBuffer_t<unsigned char, true>::max_size;

// `text` as a message can show it: printable ASCII as it is, every other byte (controls, bytes of
// other encodings) as \xHH, so that the message is valid text and keeps its three lines. The
// notation is ASCII, so nothing readable is lost. `columns` receives the width of what stands
// before byte `mark`.
std::string printable(std::string_view text, std::size_t mark, std::size_t& columns) {
    std::string shown;
    shown.reserve(text.size());
    columns = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x20 && byte < 0x7F)
            shown += text[i];
        else
            shown += fmt::format("\\x{:02x}", byte);
        if (i + 1 == mark) columns = shown.size();
    }
    return shown;
}

}  // namespace

void throw_error_on_char(const std::string& message, const char* text, const char* position) {
    std::size_t unused = 0, columns = 0;
    const std::string shown_message = printable(message, 0, unused);
    const std::string shown_text =
        printable(text, static_cast<std::size_t>(position - text), columns);
    throw std::invalid_argument(
        fmt::format("{}\n{}\n{: >{}}", shown_message, shown_text, "^", columns));
}

int extract_integer(const char* begin, const char* end) {
    char* stop = nullptr;
    errno = 0;
    const long value = std::strtol(begin, &stop, 10);
    if (stop != end || errno == ERANGE || value < INT_MIN || value > INT_MAX) {
        throw_error_on_char(
            fmt::format("Error while parsing digit:{}", std::string_view(begin, end - begin)),
            begin, end);
    }
    return static_cast<int>(value);
}

ParsedBasicState::ParsedBasicState(const char* input) : text(input), cursor(input) {
    if (*cursor == '\0') throw_error_on_char(end_of_text_error, text, text);
    // Every handler that skips blanks up to the NUL throws, so the cursor never passes it.
    do {
        switch (state) {
            case Start:
                skip_blank_spaces();
                if (*cursor != '|')
                    throw_at_cursor("BasicState should start with the character '|'.");
                start_state();
                break;
            case Modes:
                skip_blank_spaces();
                switch (*cursor) {
                    case ',':
                        insert_photons_in_new_mode(false);
                        break;
                    case '>':
                        insert_photons_in_new_mode(true);
                        state = Closed;
                        break;
                    case '{':
                        start_annotation();
                        state = Group;
                        break;
                    case ':':
                    case '|':
                    case '}':
                        throw_at_cursor("Invalid character.");
                    default:
                        if (!is_digit(*cursor)) throw_at_cursor(digit_expected);
                        parse_integer();
                }
                break;
            case Group:
                token_end = skip_blank_spaces();
                switch (*cursor) {
                    case ':':
                        check_annotation_label();
                        break;
                    case '}':
                        close_annotation();
                        state = Modes;
                        break;
                    case '>':
                    case '{':
                    case '|':
                        throw_at_cursor("Unauthorised character in annotation.");
                    case '\0':
                        throw_error_on_char(end_of_text_error, text, text);
                    default:
                        start_current_annotation();
                }
                break;
            case Closed:
                check_closed_state();
                break;
        }
        ++cursor;
    } while (*cursor != '\0');
    if (state != Closed) throw_error_on_char(end_of_text_error, text, text);
    token_begin = text = cursor = token_end = nullptr;
}

const char* ParsedBasicState::skip_blank_spaces() {
    const char* begin = cursor;
    while (is_blank(*cursor)) ++cursor;
    return cursor == begin ? nullptr : begin;
}

void ParsedBasicState::start_state() {
    state = Modes;
}

void ParsedBasicState::parse_integer() {
    const char* end = cursor;
    while (is_digit(*end)) ++end;
    plain_count = extract_integer(cursor, end);
    token_begin = cursor;
    cursor = end - 1;
}

void ParsedBasicState::insert_photons_in_new_mode(bool final) {
    if (plain_count != -1 || grouped_count != -1) {
        const std::int64_t count =
            std::int64_t{std::max(0, plain_count)} + std::int64_t{std::max(0, grouped_count)};
        if (count > INT_MAX) throw_at_cursor("Too many photons in the mode.");
        fs_vect.push_back(static_cast<int>(count));
        plain_count = grouped_count = -1;
    } else if (!final || !fs_vect.empty()) {
        throw_at_cursor(digit_expected);
    }
}

void ParsedBasicState::start_annotation() {
    if (plain_count != -1) {
        multiplier = plain_count;
        plain_count = -1;
    }
    token_begin = nullptr;
}

void ParsedBasicState::check_annotation_label() {
    labelled = true;
    if (token_begin == nullptr) throw_at_cursor("Invalid annotation label.");
    label.assign(token_begin, cursor);
}

void ParsedBasicState::start_current_annotation() {
    if (token_begin == nullptr) token_begin = cursor;
    token_end = nullptr;
}

void ParsedBasicState::close_annotation() {
    if (token_begin == nullptr) throw_at_cursor(digit_expected);
    const std::int64_t grouped = std::int64_t{std::max(0, grouped_count)} + multiplier;
    if (grouped > max_grouped_photons) throw_at_cursor("Too many photons in the mode.");
    if (grouped_photons_ + multiplier > max_grouped_photons)
        throw_at_cursor("Too many photons in the state.");
    const int mode = static_cast<int>(fs_vect.size());
    if (labelled) {
        const Annotation annotation(std::string_view(token_begin, cursor - token_begin));
        annotated_modes[mode].insert(annotated_modes[mode].end(), multiplier, annotation);
        label.clear();
    } else {
        const int tag = extract_integer(token_begin, token_end != nullptr ? token_end : cursor);
        // Tags are stored as bytes by the noisy states; a wider value would silently change batch.
        if (tag < 0 || tag > 255) {
            throw_error_on_char("Invalid noise tag. Should be between 0 and 255.", text,
                                token_begin);
        }
        noisy_modes[mode].insert(noisy_modes[mode].end(), multiplier, tag);
    }
    grouped_count = static_cast<int>(grouped);
    grouped_photons_ += multiplier;
    multiplier = 1;
    token_begin = nullptr;
    labelled = false;
}

void ParsedBasicState::check_closed_state() {
    if (!is_blank(*cursor)) throw_at_cursor("BasicState is already closed by '>'.");
}

void ParsedBasicState::throw_at_cursor(const char* message) const {
    throw_error_on_char(message, text, cursor);
}
