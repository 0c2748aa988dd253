#include "MessageBoxes.h"

#include <QAbstractButton>
#include <QGuiApplication>

#include <utility>

namespace {

TMessageBoxHook& Hook() {
    static TMessageBoxHook hook;
    return hook;
}

QMessageBox::Icon IconOf(TMessageKind kind) {
    switch (kind) {
        case TMessageKind::mkWarning:
            return QMessageBox::Warning;
        case TMessageKind::mkError:
            return QMessageBox::Critical;
        case TMessageKind::mkInformation:
            return QMessageBox::Information;
        case TMessageKind::mkConfirmation:
            return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

TMessageBoxHook SetMessageBoxHook(TMessageBoxHook hook) {
    return std::exchange(Hook(), std::move(hook));
}

QString MessageTitle(TMessageKind kind) {
    switch (kind) {
        case TMessageKind::mkWarning:
            return QStringLiteral("Warnung");
        case TMessageKind::mkError:
            return QStringLiteral("Fehler");
        case TMessageKind::mkInformation:
            return QStringLiteral("Information");
        case TMessageKind::mkConfirmation:
            return QStringLiteral("Bestätigen");
    }
    return {};
}

QMessageBox::StandardButton ShowMessage(TMessageKind kind, const QString& text,
                                        QMessageBox::StandardButtons buttons, QWidget* parent) {
    const QString title = MessageTitle(kind);
    if (Hook()) {
        return Hook()(kind, title, text, buttons);
    }
    // Composed messages break their lines with carriage returns; the label needs "\n".
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace('\r', '\n');
    QMessageBox box(IconOf(kind), title, shown, buttons, parent);
    const std::pair<QMessageBox::StandardButton, const char*> captions[] = {
        {QMessageBox::Yes, "&Ja"},
        {QMessageBox::No, "&Nein"},
        {QMessageBox::Ok, "OK"},
        {QMessageBox::Cancel, "Abbrechen"},
    };
    for (const auto& [button, caption] : captions) {
        if (QAbstractButton* b = box.button(button)) {
            b->setText(QString::fromUtf8(caption));
        }
    }
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void ShowPlainMessage(const QString& text, QWidget* parent) {
    const QString title = QGuiApplication::applicationDisplayName();
    if (Hook()) {
        Hook()(TMessageKind::mkInformation, title, text, QMessageBox::Ok);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, parent);
    box.exec();
}
