#include "zip/messages/ZAMsg.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>

#include "platform/CodePage.h"
#include "zip/messages/ZAResStr.h"

namespace {

constexpr int kBuiltInLanguageId = 1033;
constexpr int kMessageMask = 511;
constexpr int kLanguageNameMessage = 279;

struct CatalogueState {
    std::vector<std::uint8_t> languageBlock;  // selected table; empty = none
    int languageId = 0;
    std::string languageCode;
    std::vector<std::uint8_t> defaultBlock;  // unpacked on first need
    bool defaultUnpacked = false;
    bool languageLoading = false;
    TZALoadStrEvent onLoadStr;
    bool useUtf8 = false;
    std::span<const std::uint8_t> resource = ProgramLanguageResource();
};

CatalogueState& state() {
    static CatalogueState s;
    return s;
}

void dropLanguage(CatalogueState& s) {
    s.languageBlock.clear();
    s.languageId = 0;
    s.languageCode.clear();
}

// Keeps LanguageLoading set for the length of a selection, also when it
// leaves by an exception.
class LoadingGuard {
public:
    explicit LoadingGuard(CatalogueState& s) : s_(s) { s_.languageLoading = true; }
    ~LoadingGuard() { s_.languageLoading = false; }
    LoadingGuard(const LoadingGuard&) = delete;
    LoadingGuard& operator=(const LoadingGuard&) = delete;

private:
    CatalogueState& s_;
};

bool selectBlock(CatalogueState& s, const std::optional<TZABlockInfo>& block) {
    if (!block) {
        return false;
    }
    auto unpacked = UnpackBlock(s.resource, block->offset);
    if (!unpacked) {
        return false;
    }
    s.languageBlock = std::move(unpacked->table);
    s.languageId = unpacked->languageId;
    s.languageCode = block->code;
    return true;
}

// Leading blanks skipped; then the run of letters, digits and '_', upper-
// cased. A digit cannot start a code.
std::string normaliseCode(std::string_view arg) {
    std::size_t i = 0;
    while (i < arg.size() && arg[i] == ' ') {
        ++i;
    }
    std::string code;
    for (; i < arg.size(); ++i) {
        const char c = arg[i];
        const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        const bool digit = c >= '0' && c <= '9';
        if (!(letter || digit || c == '_') || (digit && code.empty())) {
            break;
        }
        code += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return code;
}

std::string catalogueText(std::int64_t id) {
    CatalogueState& s = state();
    const int n = static_cast<int>(id & kMessageMask);
    std::optional<std::string> text;
    if (!s.languageBlock.empty()) {
        text = LookupInTable(s.languageBlock, n);
    }
    if (!text) {
        if (!s.defaultUnpacked) {
            s.defaultUnpacked = true;
            if (auto unpacked = UnpackBlock(DefaultMessageBlock(), 0)) {
                s.defaultBlock = std::move(unpacked->table);
            }
        }
        text = LookupInTable(s.defaultBlock, n);
    }
    std::string result = text.value_or(std::string());
    if (s.onLoadStr) {
        std::string defStr = result;
        s.onLoadStr(n, defStr);
        if (!defStr.empty()) {
            result = std::move(defStr);
        }
    }
    if (result.empty()) {
        result = "Resource missing for " + std::to_string(id);
    }
    return result;
}

}  // namespace

std::string CatalogueText(int id) {
    return catalogueText(id);
}

std::string SelectLanguage(std::string_view arg) {
    if (arg.empty()) {
        return {};
    }
    CatalogueState& s = state();
    const std::string code = normaliseCode(arg);
    if (code.size() < 2) {
        if (arg == "*") {
            SelectLanguageId(UserDefaultLanguageId());
            return s.languageBlock.empty() ? std::string("US") : s.languageCode;
        }
        return {};
    }
    if (code == "US") {
        return {};
    }
    LoadingGuard loading(s);
    dropLanguage(s);
    if (selectBlock(s, FindBlockByCode(s.resource, code))) {
        return s.languageCode;
    }
    return {};
}

int SelectLanguageId(int id) {
    CatalogueState& s = state();
    if (s.languageLoading) {
        return s.languageId;
    }
    LoadingGuard loading(s);
    dropLanguage(s);
    if (id == kBuiltInLanguageId || id > 0xFFFF || id < 0) {
        return kBuiltInLanguageId;
    }
    if (selectBlock(s, FindBlockById(s.resource, id))) {
        return s.languageId;
    }
    return kBuiltInLanguageId;
}

int CurrentLanguageId() {
    const CatalogueState& s = state();
    return s.languageBlock.empty() ? kBuiltInLanguageId : s.languageId;
}

std::string CurrentLanguageName() {
    const CatalogueState& s = state();
    return s.languageBlock.empty() ? std::string("US: default") : s.languageCode;
}

void SetOnLoadStr(TZALoadStrEvent hook) {
    state().onLoadStr = std::move(hook);
}
const TZALoadStrEvent& GetOnLoadStr() {
    return state().onLoadStr;
}

// The component runs on Linux only, where the switch always takes effect.
void SetUseUTF8(bool on) {
    state().useUtf8 = on;
}
bool GetUseUTF8() {
    return state().useUtf8;
}

std::string MessageText(int id) {
    // Widened first: the absolute value of INT_MIN does not fit an int.
    const std::int64_t wide = id;
    std::string text = catalogueText(wide < 0 ? -wide : wide);
    if (state().useUtf8 && !text.empty()) {
        text = platform::AnsiToUtf8(text);
    }
    return text;
}

std::string MessageTextFmt(int id, std::initializer_list<TZAFmtArg> args) {
    return MessageTextFmt(id, std::span<const TZAFmtArg>(args.begin(), args.size()));
}

std::string MessageTextFmt(int id, std::span<const TZAFmtArg> args) {
    const std::string text = MessageText(id);
    return text.empty() ? text : FormatText(text, args);
}

void SetLanguageResource(std::span<const std::uint8_t> bytes) {
    CatalogueState& s = state();
    dropLanguage(s);
    s.resource = bytes;
}

void UseBuiltInLanguageResource() {
    SetLanguageResource(ProgramLanguageResource());
}

std::span<const std::uint8_t> LanguageResource() {
    return state().resource;
}

std::vector<TZALanguageInfo> AvailableLanguages() {
    std::vector<TZALanguageInfo> languages;
    const auto resource = LanguageResource();
    for (const TZABlockInfo& block : ListBlocks(resource)) {
        if (auto unpacked = UnpackBlock(resource, block.offset)) {
            languages.push_back(
                {block.code, unpacked->languageId,
                 LookupInTable(unpacked->table, kLanguageNameMessage).value_or(std::string())});
        }
    }
    return languages;
}

// --- Formatting ------------------------------------------------------------

namespace {

// Width and precision beyond this come only from a broken text.
constexpr std::size_t kMaxFieldWidth = 1024;

bool readNumber(std::string_view f, std::size_t& pos, std::size_t& value) {
    const std::size_t start = pos;
    value = 0;
    while (pos < f.size() && f[pos] >= '0' && f[pos] <= '9') {
        value = std::min<std::size_t>(value * 10 + static_cast<std::size_t>(f[pos] - '0'),
                                      kMaxFieldWidth);
        ++pos;
    }
    return pos > start;
}

// Negative values print as the two's complement of the narrowest of 32 and
// 64 bits that holds them, as hexadecimal error codes are usually shown.
std::uint64_t asUnsigned(std::int64_t v) {
    if (v < 0 && v >= INT32_MIN) {
        return static_cast<std::uint32_t>(static_cast<std::int32_t>(v));
    }
    return static_cast<std::uint64_t>(v);
}

std::string digitsOf(std::uint64_t v, unsigned base) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string digits;
    do {
        digits.insert(digits.begin(), kDigits[v % base]);
        v /= base;
    } while (v != 0);
    return digits;
}

std::string formatInteger(std::int64_t v, char kind, std::optional<std::size_t> precision) {
    std::string sign;
    std::string digits;
    if (kind == 'd') {
        if (v < 0) {
            sign = "-";
        }
        // Negated in unsigned arithmetic so INT64_MIN is fine.
        digits =
            digitsOf(v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v), 10);
    } else {
        digits = digitsOf(asUnsigned(v), kind == 'x' ? 16 : 10);
    }
    if (precision && digits.size() < *precision) {
        digits.insert(0, *precision - digits.size(), '0');
    }
    return sign + digits;
}

}  // namespace

std::string FormatText(std::string_view f, std::span<const TZAFmtArg> args) {
    std::string out;
    std::size_t nextArg = 0;
    std::size_t i = 0;
    while (i < f.size()) {
        if (f[i] != '%') {
            out += f[i++];
            continue;
        }
        if (i + 1 < f.size() && f[i + 1] == '%') {
            out += '%';
            i += 2;
            continue;
        }
        // %[index:][-][width][.precision]type
        const std::size_t start = i;
        std::size_t p = i + 1;
        std::size_t number = 0;
        std::optional<std::size_t> index;
        std::size_t afterNumber = p;
        if (readNumber(f, afterNumber, number) && afterNumber < f.size() && f[afterNumber] == ':') {
            index = number;
            p = afterNumber + 1;
        }
        const bool leftAlign = p < f.size() && f[p] == '-';
        if (leftAlign) {
            ++p;
        }
        std::size_t width = 0;
        readNumber(f, p, width);
        std::optional<std::size_t> precision;
        if (p < f.size() && f[p] == '.') {
            ++p;
            std::size_t value = 0;
            readNumber(f, p, value);
            precision = value;
        }
        if (p >= f.size()) {
            out.append(f.substr(start));  // an unfinished directive at the end
            break;
        }
        char kind = f[p];
        kind = (kind >= 'A' && kind <= 'Z') ? static_cast<char>(kind - 'A' + 'a') : kind;
        const std::size_t end = p + 1;
        const std::size_t argIndex = index.value_or(nextArg);
        const bool known = kind == 'd' || kind == 'u' || kind == 'x' || kind == 's';
        if (!known || argIndex >= args.size()) {
            out.append(f.substr(start, end - start));
            i = end;
            continue;
        }
        nextArg = argIndex + 1;

        std::string piece;
        if (const auto* text = std::get_if<std::string>(&args[argIndex])) {
            piece = (kind == 's' && precision) ? text->substr(0, *precision) : *text;
        } else {
            const std::int64_t value = std::get<std::int64_t>(args[argIndex]);
            piece = formatInteger(value, kind == 's' ? 'd' : kind,
                                  kind == 's' ? std::nullopt : precision);
        }
        if (piece.size() < width) {
            const std::string pad(width - piece.size(), ' ');
            piece = leftAlign ? piece + pad : pad + piece;
        }
        out += piece;
        i = end;
    }
    return out;
}

// --- The user's language ---------------------------------------------------

namespace {

struct LocaleLanguage {
    std::string_view language;   // ISO 639 code as in LANG
    std::string_view territory;  // ISO 3166 code, or empty for the default
    int id;                      // Windows language id
};

// The languages the language resource can hold, with the variants that have
// their own Windows ids; other territories take the language's default.
constexpr LocaleLanguage kLocaleLanguages[] = {
    {"de", "", 0x0407},   {"de", "AT", 0x0C07}, {"de", "CH", 0x0807}, {"en", "", 0x0409},
    {"en", "GB", 0x0809}, {"pt", "", 0x0416},   {"pt", "PT", 0x0816}, {"zh", "", 0x0804},
    {"zh", "TW", 0x0404}, {"ca", "", 0x0403},   {"cs", "", 0x0405},   {"da", "", 0x0406},
    {"es", "", 0x0C0A},   {"es", "MX", 0x080A}, {"fi", "", 0x040B},   {"fr", "", 0x040C},
    {"el", "", 0x0408},   {"hu", "", 0x040E},   {"it", "", 0x0410},   {"ja", "", 0x0411},
    {"ko", "", 0x0412},   {"ms", "", 0x043E},   {"nl", "", 0x0413},   {"nb", "", 0x0414},
    {"no", "", 0x0414},   {"pl", "", 0x0415},   {"ro", "", 0x0418},   {"ru", "", 0x0419},
    {"sv", "", 0x041D},   {"sr", "", 0x081A},
};

}  // namespace

int UserDefaultLanguageId() {
    std::string_view locale;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            locale = value;
            break;
        }
    }
    // language[_territory][.codeset][@modifier]
    const std::string_view language = locale.substr(0, locale.find_first_of("_.@"));
    std::string_view territory;
    if (language.size() < locale.size() && locale[language.size()] == '_') {
        territory = locale.substr(language.size() + 1);
        territory = territory.substr(0, territory.find_first_of(".@"));
    }
    int fallback = kBuiltInLanguageId;
    for (const LocaleLanguage& entry : kLocaleLanguages) {
        if (entry.language != language) {
            continue;
        }
        if (entry.territory == territory) {
            return entry.id;
        }
        if (entry.territory.empty()) {
            fallback = entry.id;
        }
    }
    return fallback;
}
