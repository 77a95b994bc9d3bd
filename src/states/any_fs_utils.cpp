#include "states/any_fs_utils.h"

#include "states/parsed_basic_state.h"

namespace AnyFSUtils {

BasicState parse(const std::string& text) {
    const ParsedBasicState parsed(text.c_str());
    if (parsed.is_noisy()) return NoisyFockState(parsed);
    if (parsed.is_annotated()) return AnnotatedFockState(parsed);
    return FockState(parsed);
}

}  // namespace AnyFSUtils

BasicState merge(const BasicState& a, const BasicState& b) {
    return std::visit(AnyFSUtils::MergeVisitor{}, a, b);
}

BasicState operator*(const BasicState& a, const BasicState& b) {
    return std::visit(AnyFSUtils::TensorProductVisitor{}, a, b);
}
