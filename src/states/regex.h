#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

#ifndef PCRE2_CODE_UNIT_WIDTH
#define PCRE2_CODE_UNIT_WIDTH 8
#endif
#include <pcre2.h>

namespace Utils {

// A compiled PCRE2 pattern (8-bit, byte semantics). It is read-only once built, so one object
// may be shared by any number of threads; each search keeps its state in a `Regex::Match`.
class Regex {
  public:
    // Groups of the last successful search; the views point into the searched text.
    class Match {
      public:
        explicit Match(const Regex& regex);

        // Text of group `number` (0 is the whole match); empty when the group took no part.
        std::string_view group(int number) const;
        std::string_view group(const char* name) const { return group(regex_->group_number(name)); }
        std::size_t begin() const;
        std::size_t end() const;

      private:
        friend class Regex;
        struct Deleter {
            void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
        };
        const Regex* regex_;
        std::unique_ptr<pcre2_match_data, Deleter> data_;
        std::string_view subject_;
    };

    // Compiles `pattern`, with just-in-time compilation where the platform offers it. Throws
    // std::invalid_argument carrying PCRE2's error text when the pattern does not compile.
    explicit Regex(std::string_view pattern);

    // Searches `subject` from byte `offset` on; true when a match was found (its groups then
    // fill `match`, which must come from this regex).
    bool search(std::string_view subject, std::size_t offset, Match& match) const;

    // Number of the named group; throws std::invalid_argument for an unknown name.
    int group_number(const char* name) const;

  private:
    struct Deleter {
        void operator()(pcre2_code* code) const { pcre2_code_free(code); }
    };
    std::unique_ptr<pcre2_code, Deleter> code_;
};

}  // namespace Utils
