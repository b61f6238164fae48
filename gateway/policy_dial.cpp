#include "gateway/policy_internal.h"

namespace sipline {

namespace {

// std::regex reports a bad pattern by throwing; the throw ends here.
bool compile(const std::vector<std::string> &patterns, std::vector<std::regex> &out) {
    std::vector<std::regex> compiled;
    try {
        for (const std::string &pattern : patterns) {
            compiled.emplace_back(pattern, std::regex::ECMAScript);
        }
    } catch (const std::regex_error &) {
        return false;
    }
    out = std::move(compiled);
    return true;
}

bool any_matches(const std::vector<std::regex> &rules, const std::string &number) {
    for (const std::regex &rule : rules) {
        if (std::regex_match(number, rule)) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool dial_rules::set(const std::vector<std::string> &allow, const std::vector<std::string> &deny) {
    return compile(allow, allow_) && compile(deny, deny_);
}

bool dial_rules::permits(const std::string &number) const {
    // Matching may throw too (error_complexity, error_stack): a rule that cannot be decided
    // refuses the number.
    try {
        if (!allow_.empty() && !any_matches(allow_, number)) {
            return false;
        }
        return !any_matches(deny_, number);
    } catch (const std::regex_error &) {
        return false;
    }
}

}  // namespace sipline
