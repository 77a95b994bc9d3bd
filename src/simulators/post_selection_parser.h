#pragma once

#include <optional>
#include <string>

#include "simulators/post_selection_ast.h"

namespace post_selection {

// Deepest nesting of groups and negations a text may have.
inline constexpr int max_expression_depth = 1000;

// Reads a post-selection expression such as "([0,1] == 1 & [2] > 1) | [2] == 0" into a verified
// tree; an empty or all-space text holds no condition and gives nothing. Throws
// std::runtime_error "Couldn't parse post selection expression: {text}" on a syntax error (or a
// nesting deeper than max_expression_depth), and the tree's own messages on an invalid condition.
// Runs in time linear in the text.
std::optional<ast::GenericNode> parse_expression(std::string const& text);

}  // namespace post_selection
