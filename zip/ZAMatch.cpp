#include "zip/ZAMatch.h"

#include <algorithm>
#include <limits>

#include "zip/messages/ZAMsg.h"

namespace {
constexpr std::size_t kMaxPathChars = 260;
}  // namespace

bool FileNameMatch(std::string_view specs, std::string_view name) {
    return MatchFileSpecs(specs, name, GetUseUTF8());
}

std::int32_t SameFileName(std::string_view a, std::string_view b) {
    return CompareFileNames(a, b, GetUseUTF8());
}

bool IsInvalidPath(std::string_view path, bool allowWildcards) {
    if (path.empty() || path.front() == '\\' || path.front() == '/') {
        return true;
    }
    // Length in characters: in UTF-8 every byte but a continuation byte starts one.
    std::size_t chars = path.size();
    if (GetUseUTF8()) {
        chars = static_cast<std::size_t>(std::count_if(path.begin(), path.end(), [](char ch) {
            return (static_cast<unsigned char>(ch) & 0xC0) != 0x80;
        }));
    }
    if (chars > kMaxPathChars) {
        return true;
    }
    for (std::size_t i = 0; i < path.size(); ++i) {
        const char ch = path[i];
        if (static_cast<unsigned char>(ch) < 32) {
            return true;
        }
        switch (ch) {
            case ':':
            case '<':
            case '>':
            case '|':
                return true;
            case '*':
            case '?':
                if (!allowWildcards) {
                    return true;
                }
                break;
            case '.':
                if (i + 1 < path.size() && path[i + 1] == '.') {
                    return true;
                }
                break;
            case ' ':
                if (i + 1 < path.size() && (path[i + 1] == '\\' || path[i + 1] == '/')) {
                    return true;
                }
                break;
            default:
                break;
        }
    }
    return false;
}
