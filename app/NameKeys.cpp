#include "app/NameKeys.h"

#include <unicode/ucol.h>
#include <unicode/uset.h>
#include <unicode/ustring.h>
#include <algorithm>
#include <array>
#include <cstring>

namespace {

constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kLastPrintable = 0x7E;
// Key bytes: 1 separates the levels, weights start at 2, so that a zero
// byte only ever means "past the end of the key".
constexpr char kLevelSeparator = 1;
constexpr int kFirstWeight = 2;

bool isPrintableAscii(std::string_view name) {
    return std::all_of(name.begin(), name.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u >= kFirstPrintable && u <= kLastPrintable;
    });
}

// One level of a single character's sort key.
std::string level(const std::string& key, int number) {
    std::size_t begin = 0;
    for (int i = 0; i < number; ++i) {
        begin = key.find(kLevelSeparator, begin);
        if (begin == std::string::npos) {
            return {};
        }
        ++begin;
    }
    const std::size_t end = key.find(kLevelSeparator, begin);
    return key.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

}  // namespace

// Most archives name their entries in printable ASCII. Where the collation
// gives each of these characters exactly one collation element, with a
// primary weight and the common secondary weight, comparing two such names
// means comparing their primary weights character by character, then their
// tertiary (case) weights. The table holds each character's rank on both
// levels, read once from the collator's own keys.
class TNameKeys::TAsciiWeights {
public:
    static std::unique_ptr<TAsciiWeights> From(UCollator* collator) {
        UErrorCode status = U_ZERO_ERROR;
        if (ucol_getAttribute(collator, UCOL_ALTERNATE_HANDLING, &status) != UCOL_NON_IGNORABLE ||
            ucol_getAttribute(collator, UCOL_NUMERIC_COLLATION, &status) != UCOL_OFF ||
            ucol_getAttribute(collator, UCOL_CASE_LEVEL, &status) != UCOL_OFF ||
            U_FAILURE(status) || !singleElements(collator)) {
            return nullptr;
        }
        constexpr int kCount = kLastPrintable - kFirstPrintable + 1;
        std::array<std::string, kCount> primary;
        std::array<std::string, kCount> tertiary;
        std::string secondary;
        for (int i = 0; i < kCount; ++i) {
            const UChar c = static_cast<UChar>(kFirstPrintable + i);
            std::string key(64, '\0');
            const int32_t n =
                ucol_getSortKey(collator, &c, 1, reinterpret_cast<uint8_t*>(key.data()), 64);
            if (n <= 1 || n > 64) {
                return nullptr;
            }
            key.resize(static_cast<std::size_t>(n - 1));  // without the final zero
            primary[i] = level(key, 0);
            tertiary[i] = level(key, 2);
            // Ignorable characters, or characters that differ on the
            // secondary level, need the collator.
            if (primary[i].empty() || tertiary[i].empty() ||
                (i > 0 && level(key, 1) != secondary)) {
                return nullptr;
            }
            secondary = level(key, 1);
        }
        auto weights = std::make_unique<TAsciiWeights>();
        rank(primary, weights->primary_);
        rank(tertiary, weights->tertiary_);
        return weights;
    }

    // Byte `at` of the key of a name of printable ASCII characters: the
    // primary ranks, the level separator, the tertiary ranks, then zeros.
    unsigned char KeyByte(std::string_view name, std::size_t at) const {
        const std::size_t n = name.size();
        if (at < n) {
            return primary_[static_cast<unsigned char>(name[at]) - kFirstPrintable];
        }
        if (at == n) {
            return kLevelSeparator;
        }
        if (at <= 2 * n) {
            return tertiary_[static_cast<unsigned char>(name[at - n - 1]) - kFirstPrintable];
        }
        return 0;
    }

private:
    static constexpr int kCount = kLastPrintable - kFirstPrintable + 1;

    // No contraction made of printable ASCII characters (such as "ch" in
    // Czech) and no expansion of one.
    static bool singleElements(UCollator* collator) {
        UErrorCode status = U_ZERO_ERROR;
        USet* contractions = uset_openEmpty();
        USet* expansions = uset_openEmpty();
        ucol_getContractionsAndExpansions(collator, contractions, expansions, false, &status);
        bool ok = U_SUCCESS(status);
        for (int c = kFirstPrintable; ok && c <= kLastPrintable; ++c) {
            ok = !uset_contains(expansions, c);
        }
        const int32_t items = uset_getItemCount(contractions);
        std::array<UChar, 64> text{};
        for (int32_t i = 0; ok && i < items; ++i) {
            UChar32 start = 0;
            UChar32 end = 0;
            UErrorCode itemStatus = U_ZERO_ERROR;
            const int32_t length = uset_getItem(contractions, i, &start, &end, text.data(),
                                                static_cast<int32_t>(text.size()), &itemStatus);
            if (length > 0) {
                const bool asciiOnly =
                    U_SUCCESS(itemStatus) &&
                    std::all_of(
                        text.begin(), text.begin() + std::min<int32_t>(length, 64),
                        [](UChar c) { return c >= kFirstPrintable && c <= kLastPrintable; });
                ok = !asciiOnly;
            }
        }
        uset_close(contractions);
        uset_close(expansions);
        return ok;
    }

    // Equal weights get equal ranks; lower weights lower ranks.
    static void rank(const std::array<std::string, kCount>& weights,
                     std::array<unsigned char, kCount>& ranks) {
        std::array<int, kCount> order{};
        for (int i = 0; i < kCount; ++i) {
            order[i] = i;
        }
        std::sort(order.begin(), order.end(),
                  [&weights](int a, int b) { return weights[a] < weights[b]; });
        int r = kFirstWeight;
        for (int i = 0; i < kCount; ++i) {
            if (i > 0 && weights[order[i]] != weights[order[i - 1]]) {
                ++r;
            }
            ranks[order[i]] = static_cast<unsigned char>(r);
        }
    }

    std::array<unsigned char, kCount> primary_{};
    std::array<unsigned char, kCount> tertiary_{};
};

TNameKeys::TNameKeys(const QLocale& locale, std::string_view names,
                     const std::vector<std::size_t>& starts)
    : names_(names), nameStarts_(&starts) {
    UErrorCode status = U_ZERO_ERROR;
    collator_ = ucol_open(locale.name().toLatin1().constData(), &status);
    if (U_FAILURE(status)) {
        collator_ = nullptr;
    } else {
        ucol_setStrength(collator_, UCOL_TERTIARY);
    }
    if (collator_ != nullptr && isPrintableAscii(names_)) {
        ascii_ = TAsciiWeights::From(collator_);
    }
    if (ascii_) {
        return;
    }
    const std::size_t n = Size();
    bytes_.reserve(names_.size() * 2 + n);
    starts_.reserve(n + 1);
    starts_.push_back(0);
    std::vector<char16_t> utf16;
    for (std::size_t i = 0; i < n; ++i) {
        if (collator_ != nullptr) {
            addCollatorKey(name(i), utf16);
        } else {
            // Without a collation the UTF-8 bytes (code point order) decide.
            bytes_.append(name(i));
        }
        starts_.push_back(bytes_.size());
    }
}

TNameKeys::~TNameKeys() {
    if (collator_ != nullptr) {
        ucol_close(collator_);
    }
}

void TNameKeys::addCollatorKey(std::string_view name, std::vector<char16_t>& utf16) {
    utf16.resize(name.size() + 1);
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = 0;
    // Bytes that are not UTF-8 count as a replacement character.
    u_strFromUTF8WithSub(utf16.data(), static_cast<int32_t>(utf16.size()), &length, name.data(),
                         static_cast<int32_t>(name.size()), 0xFFFD, nullptr, &status);
    if (U_FAILURE(status)) {
        length = 0;
    }
    const std::size_t start = bytes_.size();
    std::size_t room = static_cast<std::size_t>(length) * 4 + 16;
    for (;;) {
        bytes_.resize(start + room);
        const int32_t n = ucol_getSortKey(collator_, utf16.data(), length,
                                          reinterpret_cast<uint8_t*>(bytes_.data() + start),
                                          static_cast<int32_t>(room));
        if (n > 0 && static_cast<std::size_t>(n) <= room) {
            bytes_.resize(start + static_cast<std::size_t>(n) - 1);  // without the final zero
            return;
        }
        room = n > 0 ? static_cast<std::size_t>(n) : room * 2;
    }
}

int TNameKeys::Compare(std::size_t a, std::size_t b) const {
    for (std::size_t offset = 0;; offset += 8) {
        const std::uint64_t ca = chunk(a, offset);
        const std::uint64_t cb = chunk(b, offset);
        if (ca != cb) {
            return ca < cb ? -1 : 1;
        }
        if ((ca & 0xFF) == 0) {
            return 0;
        }
    }
}

std::uint64_t TNameKeys::chunk(std::size_t key, std::size_t offset) const {
    std::uint64_t value = 0;
    if (ascii_) {
        const std::string_view n = name(key);
        for (std::size_t i = 0; i < 8; ++i) {
            value = (value << 8) | ascii_->KeyByte(n, offset + i);
        }
        return value;
    }
    const std::size_t begin = starts_[key] + offset;
    const std::size_t end = starts_[key + 1];
    for (std::size_t i = 0; i < 8; ++i) {
        const std::size_t at = begin + i;
        value = (value << 8) | (at < end ? static_cast<unsigned char>(bytes_[at]) : 0u);
    }
    return value;
}

void TNameKeys::Sort(TItem* first, TItem* last) const {
    // Sorts by eight key bytes at a time; only items that tie on those bytes
    // and whose keys go on are sorted again by the next eight. Every
    // comparison is then between two numbers held in the items themselves.
    struct TRange {
        TItem* first;
        TItem* last;
        std::size_t offset;
    };
    std::vector<TRange> todo{{first, last, 0}};
    while (!todo.empty()) {
        const TRange r = todo.back();
        todo.pop_back();
        for (TItem* it = r.first; it != r.last; ++it) {
            it->chunk = chunk(it->key, r.offset);
        }
        std::sort(r.first, r.last, [](const TItem& a, const TItem& b) {
            return a.chunk != b.chunk ? a.chunk < b.chunk : a.position < b.position;
        });
        for (TItem* run = r.first; run != r.last;) {
            TItem* end = run + 1;
            while (end != r.last && end->chunk == run->chunk) {
                ++end;
            }
            // A zero last byte: these keys ended, so they are equal.
            if (end - run > 1 && (run->chunk & 0xFF) != 0) {
                todo.push_back({run, end, r.offset + 8});
            }
            run = end;
        }
    }
}
