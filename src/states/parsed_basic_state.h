#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "states/annotation.h"

// Reader of the basic-state notation: "|1,0,2>" (photon counts), "|{0},0,{0}{1}>" (noise tags),
// "|0,{lambda:625.2},{lambda:625.3}>" (annotations). Syntax errors throw std::invalid_argument
// with three lines: the message, the text and a caret; bytes outside printable ASCII show as
// \xHH. Groups may not give more photons than a state can hold (8191 in all).
class ParsedBasicState {
  public:
    // Parses `text` up to its NUL; `text` must not be null.
    explicit ParsedBasicState(const char* text);

    const std::vector<int>& get_fs_vect() const { return fs_vect; }
    // Mode -> one noise tag (0 to 255) per tagged photon, in text order.
    const std::map<int, std::vector<int>>& get_noisy_modes() const { return noisy_modes; }
    // Mode -> one annotation per annotated photon, in text order.
    const std::map<int, std::vector<Annotation>>& get_annotated_modes() const {
        return annotated_modes;
    }
    bool is_noisy() const { return !noisy_modes.empty(); }
    bool is_annotated() const { return !annotated_modes.empty(); }

  private:
    enum State : int { Start = 0, Modes = 1, Closed = 2, Group = 3 };

    // Moves the cursor over blanks; returns where they began, or null when there were none.
    const char* skip_blank_spaces();
    void start_state();
    void parse_integer();
    void insert_photons_in_new_mode(bool final);
    void start_annotation();
    void check_annotation_label();
    void start_current_annotation();
    void close_annotation();
    void check_closed_state();
    [[noreturn]] void throw_at_cursor(const char* message) const;

    // Working state; the pointers into the caller's text are cleared once parsing ends.
    int state = Start;
    const char* token_begin = nullptr;
    const char* text = nullptr;
    const char* cursor = nullptr;
    const char* token_end = nullptr;
    int multiplier = 1;
    bool labelled = false;
    std::string label;
    int grouped_count = -1;
    int plain_count = -1;
    // Photons given by the closed groups of every mode so far.
    std::int64_t grouped_photons_ = 0;

    std::vector<int> fs_vect;
    std::map<int, std::vector<int>> noisy_modes;
    std::map<int, std::vector<Annotation>> annotated_modes;
};

// Base-10 integer written between `begin` and `end` (optional sign). Throws through
// throw_error_on_char when the text is not exactly one integer within the signed 32-bit range.
int extract_integer(const char* begin, const char* end);

// Throws std::invalid_argument "message\ntext\n^" with the caret right-aligned in a field as wide
// as the shown text before `position` (`position - text` for printable ASCII).
[[noreturn]] void throw_error_on_char(const std::string& message, const char* text,
                                      const char* position);
