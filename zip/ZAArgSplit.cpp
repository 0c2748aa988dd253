#include "zip/ZAArgSplit.h"

#include <algorithm>

#include "zip/ZAMatch.h"
#include "zip/messages/ZAMsg.h"

namespace {

constexpr std::string_view kAllowable = "<>CEFNSX";
// Longest ">>" value and longest second part of an "X" value, in characters.
constexpr std::size_t kMaxArgChars = 2048;

bool isBlank(char ch) {
    return static_cast<unsigned char>(ch) <= ' ';
}

char upperLetter(char ch) {
    return ch >= 'a' && ch <= 'z' ? static_cast<char>(ch - 'a' + 'A') : ch;
}

std::string_view trimLeft(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    return text;
}

std::string_view trimRight(std::string_view text) {
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::string_view trim(std::string_view text) {
    return trimRight(trimLeft(text));
}

void replaceChar(std::string& text, char from, char to) {
    std::replace(text.begin(), text.end(), from, to);
}

// Cuts `text` after `maxChars` characters; in UTF-8 mode a character is a
// whole sequence, so the cut never splits one.
std::string_view limitChars(std::string_view text, std::size_t maxChars) {
    if (!GetUseUTF8()) {
        return text.substr(0, std::min(text.size(), maxChars));
    }
    std::size_t chars = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && chars++ == maxChars) {
            return text.substr(0, i);
        }
    }
    return text;
}

// Drops the blanks next to every ">>". Dropping blanks can bring a ">" next
// to another and so make a new ">>" (" > >>" becomes ">>>"), so the rule is
// applied per run of ">" and blanks: a run holding ">>" loses all its blanks
// and those on both sides of it; a run without ">>" stays as it is. One pass,
// with the same result as repeating the replacements until nothing changes.
std::string joinArrows(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        if (text[pos] != '>') {
            out.push_back(text[pos++]);
            continue;
        }
        std::size_t end = pos;  // one past the run's last ">"
        for (std::size_t i = pos; i < text.size() && (text[i] == '>' || text[i] == ' '); ++i) {
            if (text[i] == '>') {
                end = i + 1;
            }
        }
        const std::string_view run = text.substr(pos, end - pos);
        if (run.find(">>") == std::string_view::npos) {
            out.append(run);
            pos = end;
            continue;
        }
        while (!out.empty() && out.back() == ' ') {
            out.pop_back();
        }
        out.append(std::count(run.begin(), run.end(), '>'), '>');
        pos = end;
        while (pos < text.size() && text[pos] == ' ') {
            ++pos;
        }
    }
    return out;
}

}  // namespace

void TZAArgSplitter::SetAllow(std::string_view chars) {
    std::string allow;
    for (const char ch : chars) {
        const char up = upperLetter(ch);
        if (kAllowable.find(up) == std::string_view::npos) {
            error_ = zasBadSyntax;
            errorText_.assign(1, ch);
            return;
        }
        allow.push_back(up);
    }
    if (allow != allow_) {
        allow_ = std::move(allow);
        split();
    }
}

void TZAArgSplitter::SetRaw(std::string_view line) {
    if (line != raw_) {
        raw_.assign(line);
        split();
    }
}

void TZAArgSplitter::SetOptions(std::uint8_t options) {
    if (options != options_) {
        options_ = options;
        split();
    }
}

bool TZAArgSplitter::Has(char letter) const {
    return found_.find(upperLetter(letter)) != std::string::npos;
}

std::string TZAArgSplitter::Value(char letter) const {
    const std::size_t index = found_.find(upperLetter(letter));
    return index == std::string::npos ? std::string() : values_[index];
}

void TZAArgSplitter::split() {
    values_.clear();
    found_.clear();
    mainSpec_.clear();
    error_ = zasNone;
    errorText_.clear();
    const bool allowLiteral = isAllowed('<');
    std::size_t pos = 0;
    for (;;) {
        while (pos < raw_.size() && isBlank(raw_[pos])) {
            ++pos;
        }
        if (pos >= raw_.size()) {
            return;
        }
        const std::size_t tokenStart = pos;
        // Only an unquoted "/" or "<" makes a switch or a literal; a quoted one
        // is text of a name.
        if (allowLiteral && raw_[pos] == '<') {
            found_.push_back('<');
            values_.push_back(raw_.substr(pos + 1));
            return;
        }
        const std::string token = readToken(pos, allowLiteral);
        if (raw_[tokenStart] == '/') {
            if (token == "/") {
                error_ = zasBadSyntax;
                errorText_ = raw_.substr(tokenStart);
                return;
            }
            if (!parseSwitch(token)) {
                return;
            }
        } else if (!parseSpec(token)) {
            return;
        }
    }
}

// Reads one token from `pos`: up to a "/" after a blank, up to a "<" when
// literals are allowed, or to the end. Quoted text is taken as it is (blanks
// and "/" included) without its quotes; unquoted blanks at the end are dropped.
std::string TZAArgSplitter::readToken(std::size_t& pos, bool allowLiteral) const {
    const std::size_t start = pos;
    std::string token;
    std::size_t keep = 0;  // the token's length up to its last quoted character
    bool quoted = false;
    bool afterBlank = false;
    for (; pos < raw_.size(); ++pos) {
        const char ch = raw_[pos];
        if (quoted) {
            if (ch == '"') {
                quoted = false;
            } else {
                token.push_back(ch);
            }
            keep = token.size();
            afterBlank = false;
            continue;
        }
        if (ch == '"') {
            quoted = true;
            afterBlank = false;
            continue;
        }
        if ((ch == '/' && afterBlank) || (ch == '<' && allowLiteral && pos > start)) {
            break;
        }
        afterBlank = isBlank(ch);
        token.push_back(ch);
    }
    while (token.size() > keep && isBlank(token.back())) {
        token.pop_back();
    }
    return token;
}

bool TZAArgSplitter::parseSwitch(const std::string& token) {
    errorText_ = token;
    const char letter = upperLetter(token[1]);
    if (!isAllowed(letter)) {
        error_ = zasNotAllowed;
        return false;
    }
    if (found_.find(letter) != std::string::npos) {
        error_ = zasDuplicate;
        return false;
    }
    std::string value;
    if (letter == 'S' || letter == 'N') {
        if (token.size() == 2) {
            value = "+";
        } else if (token.size() == 3 && (token[2] == '+' || token[2] == '-')) {
            value.assign(1, token[2]);
        } else {
            error_ = zasBadSyntax;
            return false;
        }
    } else if (token.size() == 2) {
        if (letter != 'E') {
            error_ = zasBadSyntax;
            return false;
        }
        value = "|";  // "/E" alone: the exclude list is empty
    } else {
        if (token[2] != ':' || token.size() < 4) {
            error_ = zasBadSyntax;
            return false;
        }
        value.assign(trim(std::string_view(token).substr(3)));
        switch (letter) {
            case 'C':
                if (value.size() != 1 || value[0] < '0' || value[0] > '9') {
                    error_ = zasBadValue;
                    return false;
                }
                break;
            case 'E':
                replaceChar(value, '/', '\\');
                break;
            case 'F':
                if (value.empty() || value == ".") {
                    value = ".";  // the current folder
                } else {
                    replaceChar(value, '/', '\\');
                    if (IsInvalidPath(value, false)) {
                        error_ = zasBadValue;
                        return false;
                    }
                }
                break;
            case 'X': {
                const std::size_t sep = value.find("::");
                if (value.size() <= 1 || sep == std::string::npos) {
                    error_ = zasBadSyntax;
                    return false;
                }
                replaceChar(value, '\\', '/');
                const std::string_view view(value);
                const std::string_view first = trim(view.substr(0, sep));
                const std::string_view second =
                    limitChars(trim(view.substr(sep + 2)), kMaxArgChars);
                if (first.empty() && second.empty()) {
                    // Nothing to say: accepted, but it leaves no trace.
                    error_ = zasNone;
                    errorText_.clear();
                    return true;
                }
                value = std::string(first) + "::" + std::string(second);
                break;
            }
            default:
                error_ = zasBadSyntax;
                return false;
        }
    }
    found_.push_back(letter);
    values_.push_back(std::move(value));
    error_ = zasNone;
    errorText_.clear();
    return true;
}

bool TZAArgSplitter::parseSpec(const std::string& token) {
    mainSpec_ = token;
    if (!isAllowed('>') || token.find(">>") == std::string::npos) {
        return true;
    }
    const std::string line = joinArrows(token);
    const std::string_view view(line);
    std::string arg;
    if ((options_ & zasSplitAtLast) != 0) {
        const std::size_t sep = view.rfind(">>");
        mainSpec_.assign(trim(view.substr(0, sep)));
        arg.assign(limitChars(trim(view.substr(sep + 2)), kMaxArgChars));
    } else {
        const std::size_t sep = view.find(">>");
        mainSpec_.assign(trimRight(view.substr(0, sep)));
        arg.assign(limitChars(trimLeft(view.substr(sep + 2)), kMaxArgChars));
    }
    replaceChar(arg, '/', '\\');

    const bool wildcards = (options_ & zasArgWildcards) != 0;
    bool invalid = false;
    if ((options_ & zasArgList) != 0 && arg.find('|') != std::string::npos) {
        std::string_view rest(arg);
        for (;;) {
            const std::size_t bar = rest.find('|');
            invalid = invalid || IsInvalidPath(rest.substr(0, bar), wildcards);
            if (bar == std::string_view::npos) {
                break;
            }
            rest.remove_prefix(bar + 1);
        }
    } else {
        invalid = IsInvalidPath(arg, wildcards);
    }
    if (invalid || found_.find('>') != std::string::npos) {
        error_ = invalid ? zasBadValue : zasDuplicate;
        errorText_ = arg;
        return false;
    }
    found_.push_back('>');
    values_.push_back(std::move(arg));
    return true;
}
