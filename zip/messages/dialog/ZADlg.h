// The zip component's own modal dialog box: its error reports, password
// prompts and disk questions. The box is built in code and sized to its text
// and buttons from the font's average character width and height, so it
// looks the same whatever the font: an optional stock icon, the word-wrapped
// message, for password prompts a masked edit, and a centred row of buttons
// whose captions come from the message catalogue.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QString>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "zip/ZADialogProvider.h"

class QLineEdit;
class QPushButton;

// The message label. It draws its UTF-16 caption itself, with the label's
// font in the label's rectangle, word-wrapped and with tabs expanded: the
// same flags the box measures the text with, so the measured rectangle holds
// exactly the drawn lines.
class TZWideLabel : public QLabel {
    Q_OBJECT

public:
    explicit TZWideLabel(QWidget* parent);

    // Stores the text and repaints the label.
    void SetUnicodeCaption(std::u16string caption);
    const std::u16string& UnicodeCaption() const { return unicodeCaption_; }

    // The size `caption` takes in `font` when wrapped at `maxWidth` pixels.
    static QSize MeasureText(const QFont& font, const std::u16string& caption, int maxWidth);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::u16string unicodeCaption_;
};

// System sounds played on showing (the message-beep numbers of the kinds).
inline constexpr std::uint32_t kSoundHand = 0x10;
inline constexpr std::uint32_t kSoundQuestion = 0x20;
inline constexpr std::uint32_t kSoundExclamation = 0x30;
inline constexpr std::uint32_t kSoundAsterisk = 0x40;

class TZipDialogBox : public QDialog {
    Q_OBJECT

public:
    // `owner` only places the box above the application's window; the box
    // is owned by whoever creates it.
    TZipDialogBox(QWidget* owner, std::uint32_t value);
    ~TZipDialogBox() override;

    // Builds and places all controls. `title` and `text` are component
    // strings (UTF-8 in the component's UTF-8 mode, else Windows-1252).
    void LayoutDialog(const std::string& title, const std::string& text, TMsgDlgButtons buttons);

    // The kind bits of the value (0x100000 ... 0x140000).
    std::uint32_t DialogKind() const { return dialogValue_ & kDialogKindMask; }
    // The entered password as a component string; empty without an edit.
    std::string PasswordText() const;

    // Plays the kind's sound, then runs modally; returns the pressed
    // button's modal result, 2 when closed from the window.
    int ShowModal();
    int exec() override;

    std::uint32_t DialogValue() const { return dialogValue_; }
    int AverageCharWidth() const { return averageCharWidth_; }
    int CharHeight() const { return charHeight_; }
    std::uint32_t BeepSound() const { return beepSound_; }
    // A QStyle::StandardPixmap, or 0 for none.
    std::uint32_t StockIcon() const { return stockIcon_; }
    // The password edit (a child of the box), nullptr unless a password prompt.
    QLineEdit* PasswordEdit() const { return passwordEdit_; }

    // The buttons in creation order ("ZADlg_A1", "ZADlg_A2", ...).
    const std::vector<QPushButton*>& Buttons() const { return buttons_; }
    // The button that answers Escape, or nullptr.
    QPushButton* CancelButton() const { return cancelButton_; }

public slots:
    // Closing the box without a button (window menu, Escape without a
    // cancel button) answers Cancel.
    void reject() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QScreen* targetScreen() const;

    std::uint32_t dialogValue_ = 0;
    int averageCharWidth_ = 0;
    int charHeight_ = 0;
    std::uint32_t beepSound_ = 0;
    std::uint32_t stockIcon_ = 0;
    QLineEdit* passwordEdit_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    std::vector<QPushButton*> buttons_;
};

// Decodes a component string for display: in UTF-8 mode as UTF-8 when it is
// valid UTF-8, otherwise (and outside UTF-8 mode) from Windows-1252.
std::u16string DialogTextToUtf16(std::string_view text);

// Plays the system sound of a kind; by default QApplication::beep(). Tests
// install their own to see which sound was played.
using TZADialogSoundPlayer = std::function<void(std::uint32_t sound)>;
void SetDialogSoundPlayer(TZADialogSoundPlayer player);

// When set, showing a box does not run the modal loop: the box is shown,
// laid out, and handed to the answerer, which may inspect it, type into it,
// click a button or send keys, and returns the modal result to take (or a
// negative number to take what its clicks and keys produced). For tests.
using TZADialogAnswerer = std::function<int(TZipDialogBox& box)>;
void SetDialogAnswerer(TZADialogAnswerer answerer);
