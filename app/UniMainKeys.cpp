// The main window's keyboard: a shortcut for every command (shown in the
// buttons' tooltips), toolbar buttons reachable with Tab, Enter to view an
// entry; and the one way every command starts, which refuses a second
// command while one runs.
#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QShortcut>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>

#include "app/UniMain.h"

namespace {

struct TCommandKeys {
    const char* name;
    int count;
    QKeyCombination keys[2];
    const char* text;  // as the tooltip shows them
};

// The desktop's usual keys where it has one (open, quit, help, delete),
// otherwise the command's initial with Ctrl. Delete is a window shortcut of
// its own (it also answers when nothing is selected), so its action has none.
const TCommandKeys kCommandKeys[] = {
    {"tbtOeffnen", 1, {Qt::CTRL | Qt::Key_O, {}}, "Strg+O"},
    {"tbtEntpacken", 1, {Qt::CTRL | Qt::Key_E, {}}, "Strg+E"},
    {"tbtHinzu", 2, {Qt::Key_Insert, Qt::CTRL | Qt::SHIFT | Qt::Key_A}, "Einfg, Strg+Umschalt+A"},
    {"tbtLoesch", 0, {{}, {}}, "Entf"},
    {"tbtUmwandeln", 1, {Qt::CTRL | Qt::Key_U, {}}, "Strg+U"},
    {"tbtInfo", 1, {Qt::CTRL | Qt::Key_I, {}}, "Strg+I"},
    {"tbtHilfe", 1, {Qt::Key_F1, {}}, "F1"},
    {"tbtBeenden", 1, {Qt::CTRL | Qt::Key_Q, {}}, "Strg+Q"},
};

}  // namespace

QString TfrmMain::CommandKeyText(const QString& objectName) {
    for (const TCommandKeys& k : kCommandKeys) {
        if (objectName == QLatin1String(k.name)) {
            return QString::fromUtf8(k.text);
        }
    }
    return {};
}

void TfrmMain::buildKeyboard() {
    QWidget* previous = listView_;
    for (const TCommandKeys& k : kCommandKeys) {
        QAction* action = Command(QLatin1String(k.name));
        QList<QKeySequence> keys;
        for (int i = 0; i < k.count; ++i) {
            keys << QKeySequence(k.keys[i]);
        }
        action->setShortcuts(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        action->setToolTip(action->iconText() + QStringLiteral(" (") + QString::fromUtf8(k.text) +
                           QStringLiteral(")"));
        // Tab walks from the list down the toolbar and back; Space presses a button.
        if (auto* button = qobject_cast<QToolButton*>(toolBar_->widgetForAction(action))) {
            button->setFocusPolicy(Qt::TabFocus);
            setTabOrder(previous, button);
            previous = button;
        }
    }

    // Escape quits, or cancels the work that runs; Delete deletes, whichever
    // control has the focus.
    auto* esc = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    esc->setContext(Qt::WindowShortcut);
    connect(esc, &QShortcut::activated, this, &TfrmMain::EscapePressed);
    auto* del = new QShortcut(QKeySequence(Qt::Key_Delete), this);
    del->setContext(Qt::WindowShortcut);
    connect(del, &QShortcut::activated, this, [this] { RunCommand(&TfrmMain::tbtLoeschClick); });

    // Enter on an entry opens it as a double-click does; Shift+Enter shows it
    // in the viewer; Shift+F10 opens the entry's menu.
    auto onList = [this](QKeyCombination key, auto handler) {
        auto* shortcut = new QShortcut(QKeySequence(key), listView_);
        shortcut->setContext(Qt::WidgetShortcut);
        connect(shortcut, &QShortcut::activated, this, handler);
    };
    for (Qt::Key enter : {Qt::Key_Return, Qt::Key_Enter}) {
        onList(QKeyCombination(enter), [this] {
            if (listView_->selectionModel()->hasSelection()) {
                RunCommand(&TfrmMain::popAnzeigenVerkClick);
            }
        });
        onList(Qt::SHIFT | enter, [this] {
            if (listView_->selectionModel()->hasSelection()) {
                RunCommand(&TfrmMain::popAnzeigenClick);
            }
        });
    }
    onList(Qt::SHIFT | Qt::Key_F10, [this] {
        if (commandRunning_) {
            return;
        }
        const QRect cell = listView_->visualRect(listView_->currentIndex());
        const QPoint at = cell.isValid() ? cell.bottomLeft() : QPoint(0, 0);
        popup_->popup(listView_->viewport()->mapToGlobal(at));
    });
}
