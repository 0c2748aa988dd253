// The component's dialog box on the offscreen platform. Boxes are answered
// through the answerer hook, so no test waits for a modal loop.
#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "zip/ZipArchiver.h"
#include "zip/messages/ZAMsg.h"
#include "zip/messages/dialog/ZADlg.h"
#include "zip/messages/dialog/ZAQtDialogProvider.h"

Q_DECLARE_METATYPE(TMsgDlgButtons)

// Checks inside an answerer, which returns the modal result: a failed check
// is recorded and the box is answered with 0.
#define QVERIFY_RET(cond)                                                            \
    do {                                                                             \
        if (!QTest::qVerify(static_cast<bool>(cond), #cond, "", __FILE__, __LINE__)) \
            return 0;                                                                \
    } while (false)
#define QCOMPARE_RET(actual, expected)                                                  \
    do {                                                                                \
        if (!QTest::qCompare(actual, expected, #actual, #expected, __FILE__, __LINE__)) \
            return 0;                                                                   \
    } while (false)

namespace {

using Answer = std::function<int(TZipDialogBox&)>;

std::vector<std::uint32_t> gSounds;

// Lays the box out as the provider does and shows it with `answer` as the user.
int runBox(std::uint32_t value, const std::string& text, TMsgDlgButtons buttons,
           const Answer& answer, const std::string& title = "Titel") {
    TZipDialogBox box(nullptr, value);
    box.LayoutDialog(title, text, buttons);
    SetDialogAnswerer(answer);
    const int result = box.ShowModal();
    SetDialogAnswerer(nullptr);
    return result;
}

QPushButton* buttonCaptioned(TZipDialogBox& box, const QString& caption) {
    for (QPushButton* b : box.Buttons())
        if (b->text() == caption)
            return b;
    return nullptr;
}

// MulDiv as the metrics use it, computed independently of the box.
int roundedMulDiv(int a, int b, int c) {
    return static_cast<int>(std::lround(static_cast<double>(a) * b / c));
}

QWidget* nextTabStop(QWidget* w) {
    do
        w = w->nextInFocusChain();
    while ((w->focusPolicy() & Qt::TabFocus) == 0);
    return w;
}

int halfScreenWidth() {
    return QGuiApplication::primaryScreen()->geometry().width() / 2;
}

constexpr int kTextFlags = Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap | Qt::TextExpandTabs;

void saveScreenshot(TZipDialogBox& box, const char* name) {
    const QByteArray dir = qgetenv("TARVIK_DIALOG_SCREENSHOTS");
    if (!dir.isEmpty())
        box.grab().save(QString::fromLocal8Bit(dir) + "/" + name + ".png");
}

}  // namespace

class ZADlgTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        SetDialogSoundPlayer([](std::uint32_t s) { gSounds.push_back(s); });
        InstallQtDialogProvider();
    }
    void init() {
        gSounds.clear();
        SetUseUTF8(true);
        SelectLanguageId(1033);
    }
    void cleanup() {
        SetDialogAnswerer(nullptr);
        SetOnLoadStr(nullptr);
        SelectLanguageId(1033);
        QApplication::setLayoutDirection(Qt::LeftToRight);
    }

    void errorReportShowsInformationWithOneOkButton() {
        const int result =
            runBox(0x122710, "Fehler beim Lesen der Datei", {mbOK}, [](TZipDialogBox& box) {
                // The sound comes before the box is handed over.
                QCOMPARE_RET(gSounds, std::vector<std::uint32_t>{kSoundAsterisk});
                QCOMPARE_RET(box.StockIcon(), std::uint32_t(QStyle::SP_MessageBoxInformation));
                const auto* image = box.findChild<QLabel*>("Image");
                QVERIFY_RET(image != nullptr);
                QVERIFY_RET(!image->pixmap().isNull());
                const int hm = roundedMulDiv(8, box.AverageCharWidth(), 4);
                const int vm = roundedMulDiv(8, box.CharHeight(), 8);
                QCOMPARE_RET(image->geometry(), QRect(hm, vm, 32, 32));
                QCOMPARE_RET(box.Buttons().size(), std::size_t(1));
                QPushButton* ok = box.Buttons()[0];
                QCOMPARE_RET(ok->objectName(), QString("ZADlg_A1"));
                QCOMPARE_RET(ok->text(), QString("&OK"));
                QVERIFY_RET(ok->isDefault());
                QCOMPARE_RET(box.CancelButton(), ok);
                QCOMPARE_RET(box.focusWidget(), ok);
                QVERIFY_RET(box.PasswordEdit() == nullptr);
                QCOMPARE_RET(box.windowTitle(), QString("Titel"));
                saveScreenshot(box, "zadlg-error");
                QTest::keyClick(&box, Qt::Key_Escape);
                return -1;
            });
        QCOMPARE(result, 1);
        QCOMPARE(gSounds, std::vector<std::uint32_t>{kSoundAsterisk});
    }

    void passwordPromptInGerman_data() {
        QTest::addColumn<QString>("press");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("returned");
        QTest::newRow("OK") << "&OK" << 1 << "geheim";
        QTest::newRow("Abbrechen") << "&Abbrechen" << 2 << "";
        QTest::newRow("Alles abbrechen") << "Alles abbrechen" << 8 << "";
        QTest::newRow("Escape") << "" << 2 << "";
    }
    void passwordPromptInGerman() {
        QFETCH(QString, press);
        QFETCH(int, result);
        QFETCH(QString, returned);
        QCOMPARE(SelectLanguage("DE"), std::string("DE"));
        bool shown = false;
        SetDialogAnswerer([&](TZipDialogBox& box) {
            shown = true;
            QVERIFY_RET(gSounds.empty());
            QCOMPARE_RET(box.StockIcon(), 0u);
            QVERIFY_RET(box.findChild<QLabel*>("Image") == nullptr);
            QCOMPARE_RET(box.windowTitle(), QString("Passwort"));
            const auto* label = box.findChild<TZWideLabel*>("zadText");
            QVERIFY_RET(label != nullptr);
            QCOMPARE_RET(label->text(), QString("Geben Sie bitte das Passwort ein:"));
            QLineEdit* edit = box.PasswordEdit();
            QVERIFY_RET(edit != nullptr);
            QCOMPARE_RET(edit->objectName(), QString("zadEdit"));
            QCOMPARE_RET(edit->echoMode(), QLineEdit::Password);
            QCOMPARE_RET(edit->maxLength(), 80);
            QVERIFY_RET(edit->width() >= 80 * box.AverageCharWidth());
            QCOMPARE_RET(box.focusWidget(), static_cast<QWidget*>(edit));
            QStringList captions;
            for (QPushButton* b : box.Buttons())
                captions << b->text();
            QCOMPARE_RET(captions, (QStringList{"&OK", "&Abbrechen", "Alles abbrechen"}));
            // Tab order: the edit, then the buttons as created.
            QCOMPARE_RET(nextTabStop(edit), box.Buttons()[0]);
            QCOMPARE_RET(nextTabStop(box.Buttons()[0]), box.Buttons()[1]);
            QCOMPARE_RET(nextTabStop(box.Buttons()[2]), edit);
            QTest::keyClicks(edit, "geheim");
            QCOMPARE_RET(edit->displayText(), QString("******"));
            saveScreenshot(box, "zadlg-password");
            if (press.isEmpty())
                QTest::keyClick(&box, Qt::Key_Escape);
            else
                buttonCaptioned(box, press)->click();
            return -1;
        });
        TZipArchiver comp;
        std::string msg = MessageText(72);
        const int answer = comp.ZipDialog(MessageText(70), msg, {mbOK, mbCancel, mbAll}, 0x142713);
        QVERIFY(shown);
        QCOMPARE(answer, result);
        QCOMPARE(QString::fromStdString(msg), returned);
    }

    void defaultAndCancelButtons_data() {
        QTest::addColumn<TMsgDlgButtons>("buttons");
        QTest::addColumn<QString>("defaultCaption");
        QTest::addColumn<int>("escape");
        QTest::addColumn<int>("enter");
        QTest::newRow("Yes/No") << TMsgDlgButtons{mbYes, mbNo} << "&Yes" << 7 << 6;
        QTest::newRow("Retry/Cancel") << TMsgDlgButtons{mbRetry, mbCancel} << "&Retry" << 2 << 4;
        QTest::newRow("OK/Cancel") << TMsgDlgButtons{mbOK, mbCancel} << "&OK" << 2 << 1;
        QTest::newRow("Yes/No/Cancel") << TMsgDlgButtons{mbYes, mbNo, mbCancel} << "&Yes" << 2 << 6;
        // Without Cancel, No or OK no button answers Escape: it closes the box.
        QTest::newRow("Abort/Retry/Ignore")
            << TMsgDlgButtons{mbAbort, mbRetry, mbIgnore} << "&Retry" << 2 << 4;
        QTest::newRow("Ignore") << TMsgDlgButtons{mbIgnore} << "" << 2 << 5;
        // Enter does nothing here: the box stays open (result 0).
        QTest::newRow("no buttons") << TMsgDlgButtons{} << "" << 2 << 0;
        QTest::newRow("Help is never shown") << TMsgDlgButtons{mbOK, mbHelp} << "&OK" << 1 << 1;
    }
    void defaultAndCancelButtons() {
        QFETCH(TMsgDlgButtons, buttons);
        QFETCH(QString, defaultCaption);
        QFETCH(int, escape);
        QFETCH(int, enter);
        for (const auto key : {Qt::Key_Escape, Qt::Key_Return}) {
            const int result = runBox(0x102716, "Frage", buttons, [&](TZipDialogBox& box) {
                int expectedCount = 0;
                for (int bit = 0; bit <= 9; ++bit)
                    expectedCount += buttons.contains(static_cast<TMsgDlgBtn>(bit)) ? 1 : 0;
                QCOMPARE_RET(static_cast<int>(box.Buttons().size()), expectedCount);
                // Without a default button the focused one acts as default.
                if (!defaultCaption.isEmpty()) {
                    for (QPushButton* b : box.Buttons())
                        QCOMPARE_RET(b->isDefault(), b->text() == defaultCaption);
                    QCOMPARE_RET(box.focusWidget(), buttonCaptioned(box, defaultCaption));
                }
                QTest::keyClick(&box, key);
                return -1;
            });
            QCOMPARE(result, key == Qt::Key_Escape ? escape : enter);
        }
    }

    // Without an answerer the box runs its own modal loop; the click is
    // queued, so it arrives once that loop runs.
    void modalLoopReturnsThePressedButton() {
        TZipDialogBox box(nullptr, 0x132710);
        box.LayoutDialog("Frage", "Fortsetzen?", {mbYes, mbNo});
        QWidget* modalDuringLoop = nullptr;
        Qt::CursorShape cursorDuringLoop = Qt::WaitCursor;
        QApplication::setOverrideCursor(Qt::WaitCursor);  // as during an operation
        QTimer::singleShot(0, &box, [&] {
            modalDuringLoop = QApplication::activeModalWidget();
            cursorDuringLoop = QApplication::overrideCursor()->shape();
            QCOMPARE(gSounds, std::vector<std::uint32_t>{kSoundQuestion});
            box.Buttons()[1]->click();
        });
        QCOMPARE(box.ShowModal(), 7);
        QCOMPARE(modalDuringLoop, static_cast<QWidget*>(&box));
        QCOMPARE(cursorDuringLoop, Qt::ArrowCursor);
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        QApplication::restoreOverrideCursor();
        QVERIFY(!box.isVisible());
    }

    void closingTheWindowAnswersCancel() {
        // Even where No answers Escape, closing the window gives 2.
        QCOMPARE(runBox(0x102716, "Frage", {mbYes, mbNo},
                        [](TZipDialogBox& box) {
                            box.close();
                            return -1;
                        }),
                 2);
        QCOMPARE(runBox(0x102716, "Frage", {}, [](TZipDialogBox&) { return 2; }), 2);
    }

    void kindsChooseIconAndSound_data() {
        QTest::addColumn<std::uint32_t>("value");
        QTest::addColumn<std::uint32_t>("dialogValue");
        QTest::addColumn<std::uint32_t>("icon");
        QTest::addColumn<std::uint32_t>("sound");
        QTest::addColumn<bool>("edit");
        const std::uint32_t none = 0;
        QTest::newRow("no kind bits")
            << 0x2710u << 0x102710u << std::uint32_t(QStyle::SP_MessageBoxWarning)
            << kSoundExclamation << false;
        QTest::newRow("warning") << 0x102716u << 0x102716u
                                 << std::uint32_t(QStyle::SP_MessageBoxWarning) << kSoundExclamation
                                 << false;
        QTest::newRow("error") << 0x11271Au << 0x11271Au
                               << std::uint32_t(QStyle::SP_MessageBoxCritical) << kSoundHand
                               << false;
        QTest::newRow("information")
            << 0x122710u << 0x122710u << std::uint32_t(QStyle::SP_MessageBoxInformation)
            << kSoundAsterisk << false;
        QTest::newRow("confirmation")
            << 0x132710u << 0x132710u << std::uint32_t(QStyle::SP_MessageBoxQuestion)
            << kSoundQuestion << false;
        QTest::newRow("password") << 0x142713u << 0x142713u << none << none << true;
        QTest::newRow("kind 7") << 0x172710u << 0x172710u << none << none << false;
        // Icon and sound look at bits 16-18 only: 0x180000 counts as kind 0.
        QTest::newRow("bit 19 alone")
            << 0x182710u << 0x182710u << std::uint32_t(QStyle::SP_MessageBoxWarning)
            << kSoundExclamation << false;
    }
    void kindsChooseIconAndSound() {
        QFETCH(std::uint32_t, value);
        QFETCH(std::uint32_t, dialogValue);
        QFETCH(std::uint32_t, icon);
        QFETCH(std::uint32_t, sound);
        QFETCH(bool, edit);
        runBox(value, "Text", {mbOK}, [&](TZipDialogBox& box) {
            QCOMPARE_RET(box.DialogValue(), dialogValue);
            QCOMPARE_RET(box.DialogKind(), dialogValue & 0x1F0000u);
            QCOMPARE_RET(box.StockIcon(), icon);
            QCOMPARE_RET(box.BeepSound(), sound);
            QCOMPARE_RET(box.findChild<QLabel*>("Image") != nullptr, icon != 0);
            QCOMPARE_RET(box.PasswordEdit() != nullptr, edit);
            return 1;
        });
        QCOMPARE(gSounds,
                 sound != 0 ? std::vector<std::uint32_t>{sound} : std::vector<std::uint32_t>{});
    }

    // Every position and the client size, recomputed from the metrics of the
    // box's own font.
    void layoutFollowsTheMetrics_data() {
        QTest::addColumn<std::uint32_t>("value");
        QTest::addColumn<QString>("text");
        QTest::addColumn<TMsgDlgButtons>("buttons");
        const QString longText = QString("Die Datei konnte nicht gelesen werden. ").repeated(12);
        QTest::newRow("information") << 0x122710u << "Kurz" << TMsgDlgButtons{mbOK};
        QTest::newRow("warning, long text")
            << 0x102716u << longText << TMsgDlgButtons{mbYes, mbNo, mbCancel};
        QTest::newRow("password") << 0x142713u << "Geben Sie bitte das Passwort ein:"
                                  << TMsgDlgButtons{mbOK, mbCancel, mbAll};
        QTest::newRow("password, long text")
            << 0x142714u << longText << TMsgDlgButtons{mbOK, mbCancel};
        QTest::newRow("all ten buttons") << 0x132710u << "?" << TMsgDlgButtons::FromBits(0x3FF);
        QTest::newRow("tabs and line breaks")
            << 0x11271Au << "Teil 1\tvon 3\r\nLegen Sie\rden Datentr\u00e4ger ein"
            << TMsgDlgButtons{mbRetry, mbCancel};
        QTest::newRow("no buttons, empty text") << 0x102719u << "" << TMsgDlgButtons{};
    }
    void layoutFollowsTheMetrics() {
        QFETCH(std::uint32_t, value);
        QFETCH(QString, text);
        QFETCH(TMsgDlgButtons, buttons);
        for (const bool rtl : {false, true}) {
            QApplication::setLayoutDirection(rtl ? Qt::RightToLeft : Qt::LeftToRight);
            runBox(value, text.toStdString(), buttons, [&](TZipDialogBox& box) {
                checkLayout(box, text, rtl);
                return 1;
            });
        }
    }

    void longTextWrapsAtHalfTheScreen() {
        const QString word = "Datentr\u00e4ger ";
        runBox(0x122710, word.repeated(80).toStdString(), {mbOK}, [&](TZipDialogBox& box) {
            auto* label = box.findChild<TZWideLabel*>("zadText");
            QVERIFY_RET(label->width() <= halfScreenWidth());
            QVERIFY_RET(label->width() >
                        halfScreenWidth() - 2 * QFontMetrics(box.font()).horizontalAdvance(word));
            QVERIFY_RET(label->height() >= 4 * box.CharHeight());
            QVERIFY_RET(box.height() > label->height());
            saveScreenshot(box, "zadlg-longtext");
            // Every line fits the measured rectangle: the last line is drawn.
            const QImage image = label->grab().toImage();
            const int h = box.CharHeight();
            QVERIFY_RET(inkRows(image.copy(0, image.height() - h, image.width(), h)) > 0);
            return 1;
        });
    }

    void wideCaptionWidensAllButtons() {
        const std::string wide = "&Abbrechen und alle bisherigen \u00c4nderungen verwerfen";
        SetOnLoadStr([&](int id, std::string& text) {
            if (id == 86)
                text = platform::Utf8ToAnsi(wide);
        });
        runBox(0x102716, "Frage", {mbOK, mbCancel, mbIgnore}, [&](TZipDialogBox& box) {
            const QFontMetrics fm(box.font());
            const int captionWidth =
                fm.size(Qt::TextSingleLine | Qt::TextShowMnemonic, QString::fromStdString(wide))
                    .width();
            QVERIFY_RET(captionWidth + 8 > roundedMulDiv(50, box.AverageCharWidth(), 4));
            QCOMPARE_RET(box.Buttons()[1]->text(), QString::fromStdString(wide));
            for (QPushButton* b : box.Buttons())
                QCOMPARE_RET(b->width(), captionWidth + 8);
            return 1;
        });
    }

    void textIsDecodedForTheComponentsMode_data() {
        QTest::addColumn<bool>("utf8");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("shown");
        QTest::newRow("UTF-8 mode, UTF-8")
            << true << QByteArray("Gr\xc3\xb6\xc3\x9f\x65") << "Größe";
        QTest::newRow("UTF-8 mode, not UTF-8")
            << true << QByteArray("Gr\xf6\xdf\x65 \x80") << "Größe €";
        QTest::newRow("ANSI mode") << false << QByteArray("Gr\xf6\xdf\x65") << "Größe";
        QTest::newRow("ANSI mode, UTF-8 bytes") << false << QByteArray("Gr\xc3\xb6\x65") << "GrÃ¶e";
    }
    void textIsDecodedForTheComponentsMode() {
        QFETCH(bool, utf8);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, shown);
        SetUseUTF8(utf8);
        const std::string text = bytes.toStdString();
        runBox(
            0x122710, text, {mbOK},
            [&](TZipDialogBox& box) {
                const auto* label = box.findChild<TZWideLabel*>("zadText");
                QCOMPARE_RET(QString::fromStdU16String(label->UnicodeCaption()), shown);
                QCOMPARE_RET(box.windowTitle(), shown);
                return 1;
            },
            text);
    }

    void passwordTextInTheComponentsEncoding() {
        for (const bool utf8 : {true, false}) {
            SetUseUTF8(utf8);
            TZipArchiver comp;
            SetDialogAnswerer([](TZipDialogBox& box) {
                box.PasswordEdit()->setText("gr\u00fc\u00dfe");
                return 1;
            });
            std::string msg = "Passwort:";
            QCOMPARE(comp.ZipDialog("", msg, {mbOK, mbCancel}, 0x142714), 1);
            QCOMPARE(msg, std::string(utf8 ? "gr\xc3\xbc\xc3\x9f\x65" : "gr\xfc\xdf\x65"));
        }
    }

    void zipDialogShowsTheBoxUnlessTheHandlerAnswers() {
        TZipArchiver comp;
        int boxes = 0;
        SetDialogAnswerer([&](TZipDialogBox& box) {
            ++boxes;
            QCOMPARE_RET(box.windowTitle(), QString("Tarvik"));
            box.Buttons()[1]->click();  // No
            return -1;
        });
        std::string msg = "Weiter?";
        QCOMPARE(comp.ZipDialog("", msg, {mbYes, mbNo}, 0x102716), 7);
        QCOMPARE(boxes, 1);

        for (int handlerResult = 0; handlerResult <= 11; ++handlerResult) {
            comp.OnZipDialog = [&](TCustomZipArchiver&, const std::string&, std::string& m,
                                   int& result, TMsgDlgButtons) {
                QCOMPARE(result, 0x102716);
                if (handlerResult != 0)
                    result = handlerResult;
                m = "vom Handler";
            };
            boxes = 0;
            msg = "Weiter?";
            const bool handled = handlerResult >= 1 && handlerResult <= 10;
            QCOMPARE(comp.ZipDialog("", msg, {mbYes, mbNo}, 0x102716), handled ? handlerResult : 7);
            QCOMPARE(boxes, handled ? 0 : 1);
            QCOMPARE(msg, std::string(handled ? "vom Handler" : "Weiter?"));
        }
    }

    void wideLabelDrawsItsCaption() {
        TZWideLabel label(nullptr);
        label.resize(200, 40);
        label.SetUnicodeCaption(u"Datentr\u00e4ger");
        QCOMPARE(label.UnicodeCaption(), std::u16string(u"Datentr\u00e4ger"));
        QCOMPARE(label.text(), QString("Datenträger"));
        QVERIFY(inkRows(label.grab().toImage()) > 0);
        label.SetUnicodeCaption(u"");
        QCOMPARE(inkRows(label.grab().toImage()), 0);
    }

private:
    // Rows of the image that differ from its top-left pixel.
    static int inkRows(const QImage& image) {
        const QRgb background = image.pixel(0, 0);
        int rows = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                if (image.pixel(x, y) != background) {
                    ++rows;
                    break;
                }
            }
        }
        return rows;
    }

    static void checkLayout(TZipDialogBox& box, const QString& text, bool rtl) {
        const int w = box.AverageCharWidth();
        const int h = box.CharHeight();
        const QFontMetrics fm(box.font());
        QCOMPARE(w, fm.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZ abcdefghijklmnopqrstuvwxy "
                                         "0123456789:") /
                        64);
        QVERIFY(w > 0 && h > 0);
        const int hm = roundedMulDiv(8, w, 4), vm = roundedMulDiv(8, h, 8);
        const int hs = roundedMulDiv(10, w, 4), vs = roundedMulDiv(10, h, 8);
        const int bh = roundedMulDiv(14, h, 8), bs = roundedMulDiv(4, w, 4);
        int bw = roundedMulDiv(50, w, 4);
        for (QPushButton* b : box.Buttons())
            bw = std::max(
                bw, fm.size(Qt::TextSingleLine | Qt::TextShowMnemonic, b->text()).width() + 8);

        QString shown = text;
        shown.replace("\r\n", "\n").replace('\r', '\n');
        const QSize t =
            fm.boundingRect(QRect(0, 0, halfScreenWidth(), 0), kTextFlags, shown).size();
        const bool icon = box.StockIcon() != 0;
        const int lw = icon ? hs + t.width() + 32 : t.width();
        const int lh = icon ? std::max(t.height(), 32) : t.height();
        const int n = static_cast<int>(box.Buttons().size());
        const int br = n > 0 ? bw * n + bs * (n - 1) : 0;
        int cw = std::max(lw, br);
        int ch = lh + bh;
        QLineEdit* edit = box.PasswordEdit();
        const int eh = edit != nullptr ? edit->height() : 0;
        if (edit != nullptr) {
            cw = std::max(cw, 80 * w);
            ch += eh + vm;
        }
        const int clientW = 2 * hm + cw;
        const int clientH = ch + vs + 2 * vm;
        QCOMPARE(box.size(), QSize(clientW, clientH));
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        QCOMPARE(box.pos(),
                 QPoint(screen.width() / 2 - clientW / 2, screen.height() / 2 - clientH / 2));

        auto mirrored = [&](QRect r) {
            if (rtl)
                r.moveLeft(clientW - r.x() - r.width());
            return r;
        };
        const auto* label = box.findChild<TZWideLabel*>("zadText");
        QCOMPARE(label->geometry(),
                 mirrored(QRect(hm + lw - t.width(), vm, t.width(), t.height())));
        if (icon)
            QCOMPARE(box.findChild<QLabel*>("Image")->geometry(), mirrored(QRect(hm, vm, 32, 32)));
        if (edit != nullptr) {
            QCOMPARE(edit->geometry(), mirrored(QRect(hm + lw - t.width(), lh + vm + vs,
                                                      std::max(80 * w, t.width()), eh)));
        }
        int x = (clientW - br) / 2;
        const int y = lh + vm + vs + (edit != nullptr ? eh + vs : 0);
        for (int i = 0; i < n; ++i) {
            QPushButton* b = box.Buttons()[static_cast<std::size_t>(i)];
            QCOMPARE(b->objectName(), QString("ZADlg_A%1").arg(i + 1));
            QCOMPARE(b->geometry(), QRect(x, y, bw, bh));
            x += bw + bs;
        }
    }
};

QTEST_MAIN(ZADlgTest)
#include "ZADlgTest.moc"
