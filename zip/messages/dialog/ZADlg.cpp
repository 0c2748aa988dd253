#include "zip/messages/dialog/ZADlg.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>

#include "platform/CodePage.h"
#include "zip/messages/ZAMsg.h"

namespace {

TZADialogSoundPlayer& soundPlayer() {
    static TZADialogSoundPlayer player;
    return player;
}

TZADialogAnswerer& answerer() {
    static TZADialogAnswerer hook;
    return hook;
}

void playSound(std::uint32_t sound) {
    if (soundPlayer())
        soundPlayer()(sound);
    else
        QApplication::beep();
}

// a * b / c rounded to the nearest integer, halves away from zero.
int mulDiv(int a, int b, int c) {
    const std::int64_t p = static_cast<std::int64_t>(a) * b;
    const std::int64_t half = c / 2;
    return static_cast<int>(p >= 0 ? (p + half) / c : (p - half) / c);
}

// The 64 characters whose width / 64 is the average character width.
const QString kSample =
    QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ abcdefghijklmnopqrstuvwxy 0123456789:");

// Icon and sound of the kinds warning, error, information, confirmation;
// kinds above these show neither.
struct KindLook {
    std::uint32_t icon;
    std::uint32_t sound;
};
constexpr std::array<KindLook, 5> kKindLooks{{
    {QStyle::SP_MessageBoxWarning, kSoundExclamation},
    {QStyle::SP_MessageBoxCritical, kSoundHand},
    {QStyle::SP_MessageBoxInformation, kSoundAsterisk},
    {QStyle::SP_MessageBoxQuestion, kSoundQuestion},
    {0, 0},
}};

constexpr int kDrawFlags = Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap | Qt::TextExpandTabs;

// Line breaks of component texts come as CR LF, LF or a lone CR; the
// toolkit's text layout turns a CR into a blank, so all become LF.
QString displayText(const std::u16string& caption) {
    QString text = QString::fromStdU16String(caption);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

QString toQString(std::string_view componentText) {
    return QString::fromStdU16String(DialogTextToUtf16(componentText));
}

}  // namespace

std::u16string DialogTextToUtf16(std::string_view text) {
    if (GetUseUTF8() && platform::IsValidUtf8(text))
        return platform::Utf8ToUtf16(text);
    return platform::AnsiToUtf16(text);
}

void SetDialogSoundPlayer(TZADialogSoundPlayer player) {
    soundPlayer() = std::move(player);
}

void SetDialogAnswerer(TZADialogAnswerer hook) {
    answerer() = std::move(hook);
}

// --- TZWideLabel ---------------------------------------------------------------

TZWideLabel::TZWideLabel(QWidget* parent) : QLabel(parent) {
    setWordWrap(true);
    setTextFormat(Qt::PlainText);
}

void TZWideLabel::SetUnicodeCaption(std::u16string caption) {
    unicodeCaption_ = std::move(caption);
    // The plain text also serves accessibility and text().
    setText(QString::fromStdU16String(unicodeCaption_));
    update();
}

QSize TZWideLabel::MeasureText(const QFont& font, const std::u16string& caption, int maxWidth) {
    const QFontMetrics fm(font);
    return fm.boundingRect(QRect(0, 0, maxWidth, 0), kDrawFlags, displayText(caption)).size();
}

void TZWideLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setFont(font());
    painter.setLayoutDirection(layoutDirection());
    painter.setPen(palette().color(foregroundRole()));
    painter.drawText(contentsRect(), kDrawFlags, displayText(unicodeCaption_));
}

// --- TZipDialogBox -------------------------------------------------------------

TZipDialogBox::TZipDialogBox(QWidget* owner, std::uint32_t value)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                         Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowCloseButtonHint) {
    // The theme's message-box font; without one the application font stays.
    setFont(QApplication::font("QMessageBoxLabel"));

    dialogValue_ = value;
    if ((value & kDialogKindMask) == 0)
        dialogValue_ += zdWarning;

    const QFontMetrics fm(font());
    averageCharWidth_ = fm.horizontalAdvance(kSample) / 64;
    charHeight_ = fm.height();

    const std::size_t k = std::min<std::uint32_t>((dialogValue_ >> 16) & 7, 4);
    stockIcon_ = kKindLooks[k].icon;
    beepSound_ = kKindLooks[k].sound;
}

TZipDialogBox::~TZipDialogBox() = default;

QScreen* TZipDialogBox::targetScreen() const {
    if (QWidget* owner = parentWidget())
        return owner->screen();
    return QGuiApplication::primaryScreen();
}

void TZipDialogBox::LayoutDialog(const std::string& title, const std::string& text,
                                 TMsgDlgButtons buttons) {
    const int w = averageCharWidth_;
    const int h = charHeight_;
    const bool rightToLeft = QApplication::layoutDirection() == Qt::RightToLeft;
    const bool password = DialogKind() == zdPassword;

    setLayoutDirection(rightToLeft ? Qt::RightToLeft : Qt::LeftToRight);
    setWindowTitle(toQString(title.empty() ? ApplicationTitle() : title));
    const std::u16string wideText = DialogTextToUtf16(text);

    const int hm = mulDiv(8, w, 4);
    const int vm = mulDiv(8, h, 8);
    const int hs = mulDiv(10, w, 4);
    const int vs = mulDiv(10, h, 8);
    int bw = mulDiv(50, w, 4);
    const int bh = mulDiv(14, h, 8);
    const int bs = mulDiv(4, w, 4);

    TMsgDlgBtn defaultButton = mbRetry;
    if (buttons.contains(mbOK))
        defaultButton = mbOK;
    else if (buttons.contains(mbYes))
        defaultButton = mbYes;
    TMsgDlgBtn cancelButton = mbOK;
    if (buttons.contains(mbCancel))
        cancelButton = mbCancel;
    else if (buttons.contains(mbNo))
        cancelButton = mbNo;

    const QFontMetrics fm(font());
    QPushButton* focusButton = nullptr;
    for (int bit = mbYes; bit <= mbYesToAll; ++bit) {
        const auto b = static_cast<TMsgDlgBtn>(bit);
        if (!buttons.contains(b))
            continue;
        auto* button = new QPushButton(this);  // owned by the box
        button->setObjectName(
            QString::asprintf("ZADlg_A%d", static_cast<int>(buttons_.size()) + 1));
        const QString caption =
            QString::fromStdString(platform::AnsiToUtf8(CatalogueText(83 + bit)));
        button->setText(caption);
        const int result = ModalResultOf(b);
        connect(button, &QPushButton::clicked, this, [this, result] { done(result); });
        if (b == defaultButton) {
            button->setDefault(true);
            focusButton = button;
        }
        if (b == cancelButton)
            cancelButton_ = button;
        button->setFocusPolicy(Qt::StrongFocus);
        buttons_.push_back(button);
        const int captionWidth =
            fm.size(Qt::TextSingleLine | Qt::TextShowMnemonic, caption).width();
        if (captionWidth + 8 > bw)
            bw = captionWidth + 8;
    }

    QScreen* screen = targetScreen();
    const QRect screenRect = screen != nullptr ? screen->geometry() : QRect(0, 0, 640, 480);
    const QSize textSize = TZWideLabel::MeasureText(font(), wideText, screenRect.width() / 2);
    const int tw = textSize.width();
    const int th = textSize.height();

    int lw = tw;
    int lh = th;
    if (stockIcon_ != 0) {
        lw = hs + tw + 32;
        lh = std::max(th, 32);
    }
    const int count = static_cast<int>(buttons_.size());
    const int br = count > 0 ? bw * count + bs * (count - 1) : 0;
    int cw = std::max(lw, br);
    int ch = lh + bh;

    int editHeight = 0;
    QRect editRect;
    if (password) {
        cw = std::max(cw, 80 * w);
        passwordEdit_ = new QLineEdit(this);  // owned by the box
        passwordEdit_->setObjectName(QStringLiteral("zadEdit"));
        passwordEdit_->setEchoMode(QLineEdit::Password);
        // The style's own mask character would differ between desktops.
        passwordEdit_->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
        passwordEdit_->setMaxLength(80);
        passwordEdit_->setFocusPolicy(Qt::StrongFocus);
        editHeight = passwordEdit_->sizeHint().height();
        editRect = QRect(hm + lw - tw, lh + vm + vs, std::max(80 * w, tw), editHeight);
        ch += editHeight + vm;
    }

    const int clientWidth = 2 * hm + cw;
    const int clientHeight = ch + vs + 2 * vm;
    setFixedSize(clientWidth, clientHeight);
    move(screenRect.x() + screenRect.width() / 2 - clientWidth / 2,
         screenRect.y() + screenRect.height() / 2 - clientHeight / 2);

    // Right to left the picture, the text and the edit swap sides, so that
    // the text still reads away from the icon.
    auto place = [&](QWidget* widget, QRect r) {
        if (rightToLeft)
            r.moveLeft(clientWidth - r.x() - r.width());
        widget->setGeometry(r);
    };

    if (stockIcon_ != 0) {
        auto* image = new QLabel(this);  // owned by the box
        image->setObjectName(QStringLiteral("Image"));
        const auto icon = static_cast<QStyle::StandardPixmap>(stockIcon_);
        image->setPixmap(style()->standardIcon(icon, nullptr, this).pixmap(32, 32));
        place(image, QRect(hm, vm, 32, 32));
    }

    auto* label = new TZWideLabel(this);  // owned by the box
    label->setObjectName(QStringLiteral("zadText"));
    label->SetUnicodeCaption(wideText);
    place(label, QRect(hm + lw - tw, vm, tw, th));
    if (passwordEdit_ != nullptr)
        place(passwordEdit_, editRect);

    int x = (clientWidth - br) / 2;
    int y = lh + vm + vs;
    if (password)
        y += editHeight + vs;
    for (QPushButton* button : buttons_) {
        button->setGeometry(x, y, bw, bh);
        x += bw + bs;
    }

    // Tab order: the edit first, then the buttons in creation order.
    QWidget* previous = passwordEdit_;
    for (QPushButton* button : buttons_) {
        if (previous != nullptr)
            setTabOrder(previous, button);
        previous = button;
    }
    if (passwordEdit_ != nullptr)
        passwordEdit_->setFocus();
    else if (focusButton != nullptr)
        focusButton->setFocus();
}

std::string TZipDialogBox::PasswordText() const {
    if (passwordEdit_ == nullptr)
        return {};
    const std::string utf8 = passwordEdit_->text().toStdString();
    return GetUseUTF8() ? utf8 : platform::Utf8ToAnsi(utf8);
}

int TZipDialogBox::ShowModal() {
    return exec();
}

int TZipDialogBox::exec() {
    if (beepSound_ != 0)
        playSound(beepSound_);
    if (!answerer()) {
        // Questions come in the middle of operations, under the busy
        // cursor; the box itself wants the ordinary pointer.
        const bool busyCursor = QApplication::overrideCursor() != nullptr;
        if (busyCursor)
            QApplication::setOverrideCursor(Qt::ArrowCursor);
        const int result = QDialog::exec();
        if (busyCursor)
            QApplication::restoreOverrideCursor();
        return result;
    }
    setResult(mrNone);
    show();
    int result = answerer()(*this);
    if (result < 0)
        result = this->result();
    hide();
    setResult(result);
    return result;
}

void TZipDialogBox::reject() {
    done(mrCancel);
}

void TZipDialogBox::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier &&
        cancelButton_ != nullptr) {
        cancelButton_->click();
        return;
    }
    QDialog::keyPressEvent(event);
}
