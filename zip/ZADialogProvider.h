// How the component asks its dialog box. The box itself needs the GUI
// toolkit, so the component only sees this interface; the application plugs
// in its implementation, tests plug in one that answers. Without a provider
// no dialog is shown and the answer is "no dialog" (modal result 0).
#pragma once

#include <cstdint>
#include <string>

#include "zip/ZATypes.h"

// The buttons of a request, in bit order; bit 10 (Help) is never shown.
enum TMsgDlgBtn : std::uint8_t {
    mbYes,
    mbNo,
    mbOK,
    mbCancel,
    mbAbort,
    mbRetry,
    mbIgnore,
    mbAll,
    mbNoToAll,
    mbYesToAll,
    mbHelp
};
using TMsgDlgButtons = TZASet<TMsgDlgBtn, std::uint16_t>;

// Modal results of the buttons; 0 means no dialog was shown.
enum TZAModalResult : int {
    mrNone = 0,
    mrOk = 1,
    mrCancel = 2,
    mrAbort = 3,
    mrRetry = 4,
    mrIgnore = 5,
    mrYes = 6,
    mrNo = 7,
    mrAll = 8,
    mrNoToAll = 9,
    mrYesToAll = 10
};
// The modal result a button gives (mbHelp: mrNone).
int ModalResultOf(TMsgDlgBtn b);

// Dialog value: context number in bits 0-15, kind in bits 16-20.
inline constexpr std::uint32_t zdWarning = 0x100000;
inline constexpr std::uint32_t zdError = 0x110000;
inline constexpr std::uint32_t zdInformation = 0x120000;
inline constexpr std::uint32_t zdConfirmation = 0x130000;
inline constexpr std::uint32_t zdPassword = 0x140000;
inline constexpr std::uint32_t kDialogKindMask = 0x1F0000;

// A value without kind bits counts as a warning.
constexpr std::uint32_t DialogKind(std::uint32_t value) {
    const std::uint32_t k = value & kDialogKindMask;
    return k == 0 ? zdWarning : k;
}
constexpr int DialogContext(std::uint32_t value) {
    return static_cast<int>(value & 0xFFFF);
}

struct TZADialogRequest {
    std::string Title;  // never empty: the component puts the application title in
    std::string Text;   // in the component's encoding (UTF-8 when UseUTF8 is on)
    TMsgDlgButtons Buttons;
    std::uint32_t Value = 0;

    std::uint32_t Kind() const { return DialogKind(Value); }
    int Context() const { return DialogContext(Value); }
    bool IsPassword() const { return (Value & kDialogKindMask) == zdPassword; }
};

struct TZADialogAnswer {
    int ModalResult = mrNone;  // 1-10, or 2 when closed from the window menu
    std::string Password;      // the entered text of a password dialog
};

class TZADialogProvider {
public:
    virtual ~TZADialogProvider() = default;
    // Shows the box modally and returns the pressed button.
    virtual TZADialogAnswer ShowDialog(const TZADialogRequest& request) = 0;
};

// The process-wide provider (borrowed; nullptr = none). A component may set
// its own, which then takes precedence.
void SetDefaultDialogProvider(TZADialogProvider* provider);
TZADialogProvider* DefaultDialogProvider();

// The application title, used for dialogs without a title of their own.
void SetApplicationTitle(std::string title);
std::string ApplicationTitle();
