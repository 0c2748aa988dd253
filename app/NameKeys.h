// Entry names in the order of the locale's collation, case-sensitive (the
// tertiary strength), as the system's locale-aware string comparison orders
// them. Every name gets a sort key once; sorting then compares key bytes only.
#pragma once

#include <QLocale>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct UCollator;

class TNameKeys {
public:
    // Keys of the UTF-8 names held one after the other in `names`: name i is
    // names[starts[i], starts[i + 1]). Both are borrowed and must outlive
    // the keys.
    TNameKeys(const QLocale& locale, std::string_view names,
              const std::vector<std::size_t>& starts);
    ~TNameKeys();
    TNameKeys(const TNameKeys&) = delete;
    TNameKeys& operator=(const TNameKeys&) = delete;

    std::size_t Size() const { return nameStarts_->size() - 1; }
    // Compares keys a and b: negative, 0 or positive.
    int Compare(std::size_t a, std::size_t b) const;
    // True when the keys come from the collation's weights of printable ASCII
    // characters, read from a table as they are needed, instead of from the
    // collator for each name.
    bool AsciiKeys() const { return ascii_ != nullptr; }

    // One item to sort: the name's key number and its current position,
    // which decides between equal names (the sort is stable).
    struct TItem {
        std::uint64_t chunk;  // working field of the sort
        std::uint32_t key;
        std::uint32_t position;
    };
    // Sorts the items by their names' keys, equal keys by position.
    void Sort(TItem* first, TItem* last) const;

private:
    class TAsciiWeights;
    std::string_view name(std::size_t i) const {
        return names_.substr((*nameStarts_)[i], (*nameStarts_)[i + 1] - (*nameStarts_)[i]);
    }
    // The eight key bytes from `offset` as one number; zero past the key's end.
    std::uint64_t chunk(std::size_t key, std::size_t offset) const;
    void addCollatorKey(std::string_view name, std::vector<char16_t>& utf16);

    std::string_view names_;
    const std::vector<std::size_t>* nameStarts_;
    UCollator* collator_ = nullptr;
    std::unique_ptr<TAsciiWeights> ascii_;
    // Without the table: all keys, one after the other; key i is
    // bytes_[starts_[i], starts_[i + 1]).
    std::string bytes_;
    std::vector<std::size_t> starts_;
};
