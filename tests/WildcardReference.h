// The wildcard comparison written down literally as its recursive definition,
// to check the real implementation against. Exponential: small inputs only.
#pragma once

#include <string_view>

namespace tarvik_test {

inline bool referenceWildcardMatch(std::u16string_view p, std::u16string_view t) {
    const auto same = [](char16_t pc, char16_t tc) {
        return pc == tc || (pc == u'?' && tc != u'\\');
    };
    if (p == u"*") {
        return true;
    }
    if (t.empty()) {
        return p.empty();
    }
    std::size_t i = 0;
    while (i < p.size() && p[i] != u'*') {
        if (i >= t.size() || !same(p[i], t[i])) {
            return false;
        }
        ++i;
    }
    if (i == p.size()) {
        return i == t.size();
    }
    std::size_t pe = p.size();
    std::size_t te = t.size();
    while (p[pe - 1] != u'*') {
        if (te <= i || !same(p[pe - 1], t[te - 1])) {
            return false;
        }
        --pe;
        --te;
    }
    std::u16string_view rest = p.substr(i, pe - i);
    std::u16string_view text = t.substr(i, te - i);
    while (!rest.empty() && rest.front() == u'*') {
        rest.remove_prefix(1);
    }
    if (rest.empty()) {
        return true;
    }
    for (std::size_t s = 0; s <= text.size(); ++s) {
        const std::u16string_view sub = text.substr(s);
        if (!sub.empty() && referenceWildcardMatch(rest, sub)) {
            return true;
        }
    }
    return false;
}

}  // namespace tarvik_test
