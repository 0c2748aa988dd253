// The message catalogue: every text the component shows or reports is a
// message number (0-511) looked up here. A built-in English table is always
// present; one language table at a time can be selected from the language
// resource, and texts it lacks fall back to the built-in ones. The catalogue
// state (selected table, OnLoadStr hook, UTF-8 switch) is process-wide and
// not locked: change it only while no operation runs.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "zip/messages/ZAMsgStr.h"

// Replaces a catalogue text: Ident is the message number, DefStr the text
// found so far; a non-empty DefStr on return replaces it.
using TZALoadStrEvent = std::function<void(int Ident, std::string& DefStr)>;

// The text of message `id and 511`, in the ANSI code page; never empty
// ("Resource missing for N" with N = id as passed).
std::string CatalogueText(int id);

// Selects the table for a language code ("DE", " de-AT", "*" = the user's
// language); returns the selected code, or empty when nothing was selected.
// "US" keeps the current selection; an unknown code drops it.
std::string SelectLanguage(std::string_view code);
// Selects the table for a Windows language id; returns the selected id
// (1033 for the built-in table).
int SelectLanguageId(int id);
// The selected table's id, or 1033.
int CurrentLanguageId();
// The selected table's code, or "US: default".
std::string CurrentLanguageName();

// The user's language as a Windows language id, from LC_ALL, LC_MESSAGES or
// LANG (in that order); 1033 when none is set or the language is unknown.
int UserDefaultLanguageId();

void SetOnLoadStr(TZALoadStrEvent hook);
const TZALoadStrEvent& GetOnLoadStr();

// The process-wide UTF-8 switch: component strings are UTF-8 when on.
void SetUseUTF8(bool on);
bool GetUseUTF8();

// CatalogueText(|id|), converted to UTF-8 when the switch is on.
std::string MessageText(int id);

// One formatting argument: a string ("%s") or an integer ("%d", "%.1d", "%x").
using TZAFmtArg = std::variant<std::string, std::int64_t>;
// Formats like the component's other texts: "%s", "%d", "%u", "%x" (upper-case
// hex digits), with optional "N:" argument index, "-", width and ".precision";
// "%%" is a percent sign. A directive without its argument or of an unknown
// kind is copied as it stands, so a faulty translation cannot crash.
std::string FormatText(std::string_view format, std::span<const TZAFmtArg> args);
// MessageText(id) formatted with args (an empty text stays empty).
std::string MessageTextFmt(int id, std::initializer_list<TZAFmtArg> args);
std::string MessageTextFmt(int id, std::span<const TZAFmtArg> args);

// --- The language resource in use ----------------------------------------

// The raw bytes of the language resource in use. By default the program's
// own ("ZAResStr191"); tests install their own bytes, which the caller keeps
// alive (an empty span means no resource at all). Installing drops the
// selected table.
void SetLanguageResource(std::span<const std::uint8_t> bytes);
void UseBuiltInLanguageResource();
std::span<const std::uint8_t> LanguageResource();

// Code, id and name (message 279) of every block of the language resource
// in use that unpacks, in resource order, for listing.
struct TZALanguageInfo {
    std::string code;
    int languageId = 0;
    std::string name;
};
std::vector<TZALanguageInfo> AvailableLanguages();
