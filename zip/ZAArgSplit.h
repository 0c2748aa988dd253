// Splits one specification line into its main specification, its ">>"
// argument and its switches ("/E:x", "/S-", ...). The delete operation uses it
// to read a list of archives, each line naming an archive, optionally the
// entries to delete (">> spec") and exclusions ("/E:spec").
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "zip/ZACore.h"

// Owned by the work object that reads the lines (the delete operation).
class TZAArgSplitter : public TZAWorkBin {
public:
    // Error values.
    enum : std::uint8_t {
        zasNone = 0,
        zasIgnored = 1,  // a switch accepted but without effect; never left set
        zasBadSyntax = 2,
        zasDuplicate = 3,
        zasNotAllowed = 5,
        zasBadValue = 6,
    };
    // Option bits.
    enum : std::uint8_t {
        zasSplitAtLast = 0x01,   // split at the last ">>" and trim both sides
        zasArgWildcards = 0x02,  // the ">>" value may hold "*" and "?"
        zasArgList = 0x04,       // the ">>" value may be a "|" list
    };

    explicit TZAArgSplitter(TZAWorkBin* owner = nullptr) : TZAWorkBin(owner) {}

    // The switch characters allowed, from "<>CEFNSX" (case does not matter).
    // Another character sets error 2 and leaves the allowed set as it was.
    void SetAllow(std::string_view chars);
    void SetRaw(std::string_view line);
    void SetOptions(std::uint8_t options);

    const std::string& Allow() const { return allow_; }
    const std::string& Raw() const { return raw_; }
    std::uint8_t Options() const { return options_; }

    // Whether switch `letter` was found, and its value (empty when absent).
    bool Has(char letter) const;
    std::string Value(char letter) const;

    const std::string& MainSpec() const { return mainSpec_; }
    std::uint8_t Error() const { return error_; }
    const std::string& ErrorText() const { return errorText_; }
    // The letters found in order; Values()[i] belongs to Found()[i].
    const std::string& Found() const { return found_; }
    const std::vector<std::string>& Values() const { return values_; }

private:
    void split();
    std::string readToken(std::size_t& pos, bool allowLiteral) const;
    bool parseSwitch(const std::string& token);
    bool parseSpec(const std::string& token);
    bool isAllowed(char letter) const { return allow_.find(letter) != std::string::npos; }

    std::string allow_;
    std::vector<std::string> values_;
    std::uint8_t error_ = zasNone;
    std::string errorText_;
    std::string found_;
    std::string mainSpec_;
    std::uint8_t options_ = 0;
    std::string raw_;
};
