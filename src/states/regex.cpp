#include "states/regex.h"

#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>

#include <fmt/format.h>

namespace Utils {

namespace {

std::string error_text(int code) {
    PCRE2_UCHAR buffer[256];
    const int length = pcre2_get_error_message(code, buffer, sizeof buffer);
    if (length < 0) return fmt::format("PCRE2 error {}", code);
    return std::string(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(length));
}

}  // namespace

Regex::Regex(std::string_view pattern) {
    int error = 0;
    PCRE2_SIZE error_offset = 0;
    code_.reset(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), 0,
                              &error, &error_offset, nullptr));
    if (!code_) {
        throw std::invalid_argument(
            fmt::format("{} at offset {}", error_text(error), error_offset));
    }
    // Matching falls back to the interpreter when JIT is unavailable, so a failure here is
    // harmless.
    pcre2_jit_compile(code_.get(), PCRE2_JIT_COMPLETE);
}

int Regex::group_number(const char* name) const {
    const int number =
        pcre2_substring_number_from_name(code_.get(), reinterpret_cast<PCRE2_SPTR>(name));
    if (number < 0) throw std::invalid_argument(fmt::format("no group named '{}'", name));
    return number;
}

bool Regex::search(std::string_view subject, std::size_t offset, Match& match) const {
    // PCRE2 refuses a null subject even when it is empty.
    if (subject.data() == nullptr) subject = std::string_view("", 0);
    const int rc = pcre2_match(code_.get(), reinterpret_cast<PCRE2_SPTR>(subject.data()),
                               subject.size(), offset, 0, match.data_.get(), nullptr);
    if (rc == PCRE2_ERROR_NOMATCH) return false;
    if (rc < 0)
        throw std::runtime_error(
            fmt::format("regular expression search failed: {}", error_text(rc)));
    match.subject_ = subject;
    return true;
}

Regex::Match::Match(const Regex& regex)
    : regex_(&regex), data_(pcre2_match_data_create_from_pattern(regex.code_.get(), nullptr)) {
    if (!data_) throw std::bad_alloc();
}

std::string_view Regex::Match::group(int number) const {
    if (number < 0 || static_cast<std::uint32_t>(number) >= pcre2_get_ovector_count(data_.get()))
        return {};
    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data_.get());
    const PCRE2_SIZE start = ovector[2 * number];
    const PCRE2_SIZE stop = ovector[2 * number + 1];
    if (start == PCRE2_UNSET || stop < start) return {};
    return subject_.substr(start, stop - start);
}

std::size_t Regex::Match::begin() const {
    return pcre2_get_ovector_pointer(data_.get())[0];
}

std::size_t Regex::Match::end() const {
    return pcre2_get_ovector_pointer(data_.get())[1];
}

}  // namespace Utils
