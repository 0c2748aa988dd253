// The message catalogue: every text the component shows or reports is a
// message number (0-511) looked up here. A built-in English table is always
// present; one language table at a time can be selected from the language
// resource. The catalogue state is process-wide.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// Replaces a catalogue text: Ident is the message number, DefStr the text
// found so far; a non-empty DefStr on return replaces it.
using TZALoadStrEvent = std::function<void(int Ident, std::string& DefStr)>;

// The text of message `id and 511`; never empty ("Resource missing for N").
std::string CatalogueText(int id);

// Selects the table for a language code ("DE", " de-AT", "*" = user's
// language); returns the selected code, or empty when nothing changed.
std::string SelectLanguage(std::string_view code);
// Selects the table for a Windows language id; returns the selected id
// (1033 for the built-in table).
int SelectLanguageId(int id);
int CurrentLanguageId();
std::string CurrentLanguageName();

void SetOnLoadStr(TZALoadStrEvent hook);
const TZALoadStrEvent& GetOnLoadStr();

// The process-wide UTF-8 switch: component strings are UTF-8 when on.
void SetUseUTF8(bool on);
bool GetUseUTF8();

// MessageText: CatalogueText(|id|), converted to UTF-8 when the switch is on.
std::string MessageText(int id);

// One formatting argument: a string ("%s") or an integer ("%d", "%.1d", "%x").
using TZAFmtArg = std::variant<std::string, std::int64_t>;
std::string FormatText(std::string_view format, std::span<const TZAFmtArg> args);
std::string MessageTextFmt(int id, std::initializer_list<TZAFmtArg> args);
std::string MessageTextFmt(int id, std::span<const TZAFmtArg> args);

// --- The language resource and its blocks --------------------------------

// A block found in a language resource.
struct TZABlockInfo {
    std::size_t offset = 0;  // start of the block header in the resource
    std::string code;        // up to four characters
    int languageId = 0;
};

// The raw bytes of the language resource in use. By default the program's
// own ("ZAResStr191"); tests install their own bytes (an empty span means
// no resource at all). Installing drops the selected table.
void SetLanguageResource(std::span<const std::uint8_t> bytes);
void UseBuiltInLanguageResource();
std::span<const std::uint8_t> LanguageResource();

std::optional<TZABlockInfo> FindBlockByCode(std::span<const std::uint8_t> resource,
                                            std::string_view code);
std::optional<TZABlockInfo> FindBlockById(std::span<const std::uint8_t> resource, int id);

// Unpacks the block at `offset`: the table and its language id, or nothing
// when the block is short, damaged, oversized or has language id 0.
struct TZAUnpackedBlock {
    std::vector<std::uint8_t> table;
    int languageId = 0;
};
std::optional<TZAUnpackedBlock> UnpackBlock(std::span<const std::uint8_t> stream,
                                            std::size_t offset);

// Looks number n up in an unpacked table; nothing when it has no text.
std::optional<std::string> LookupInTable(std::span<const std::uint8_t> table, int n);

// Language codes with their ids and names (message 279) of every block of
// the program's language resource, for listing.
struct TZALanguageInfo {
    std::string code;
    int languageId = 0;
    std::string name;
};
std::vector<TZALanguageInfo> AvailableLanguages();
