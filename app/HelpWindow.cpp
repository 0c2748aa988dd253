#include "HelpWindow.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QPointer>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace {

constexpr int kMainContext = 10;
constexpr int kExtractContext = 40;
constexpr int kAddContext = 50;

QPointer<THelpWindow>& Instance() {
    static QPointer<THelpWindow> window;
    return window;
}

}  // namespace

QUrl HelpPageForContext(int context) {
    switch (context) {
        case kExtractContext:
            return QUrl(QStringLiteral("qrc:/help/entpacken.html"));
        case kAddContext:
            return QUrl(QStringLiteral("qrc:/help/hinzufuegen.html"));
        case kMainContext:
        default:
            return QUrl(QStringLiteral("qrc:/help/hauptfenster.html"));
    }
}

bool HelpAvailable() {
    return QFile::exists(QStringLiteral(":/help/hauptfenster.html"));
}

THelpWindow::THelpWindow(QWidget* parent)
    : QDialog(parent, Qt::Window), browser_(new QTextBrowser(this)) {
    setObjectName(QStringLiteral("frmHilfe"));
    setWindowTitle(QStringLiteral("Tarvik – Hilfe"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/tarvik.png")));
    browser_->setOpenLinks(true);
    browser_->setOpenExternalLinks(false);
    browser_->setSearchPaths({QStringLiteral(":/help")});
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* back = buttons->addButton(QStringLiteral("Zurück"), QDialogButtonBox::ActionRole);
    QPushButton* contents =
        buttons->addButton(QStringLiteral("Inhalt"), QDialogButtonBox::ActionRole);
    QPushButton* close =
        buttons->addButton(QStringLiteral("Schließen"), QDialogButtonBox::RejectRole);
    back->setEnabled(false);
    connect(browser_, &QTextBrowser::backwardAvailable, back, &QPushButton::setEnabled);
    connect(back, &QPushButton::clicked, browser_, &QTextBrowser::backward);
    connect(contents, &QPushButton::clicked, this, [this] { ShowContext(kMainContext); });
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(browser_, 1);
    layout->addWidget(buttons);
    resize(640, 560);
}

void THelpWindow::ShowContext(int context) {
    browser_->setSource(HelpPageForContext(context));
}

void ShowHelp(int context) {
    QPointer<THelpWindow>& window = Instance();
    if (!window) {
        window = new THelpWindow;
        window->setAttribute(Qt::WA_DeleteOnClose, false);
        // The help window has no owner window; the application frees it at the end.
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, window, &QObject::deleteLater);
    }
    window->ShowContext(context);
    window->show();
    window->raise();
    window->activateWindow();
}

THelpWindow* HelpWindowInstance() {
    return Instance();
}
