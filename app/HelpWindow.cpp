#include "app/HelpWindow.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPointer>
#include <QTextBrowser>
#include <QUrl>

namespace {

QStringList candidates() {
    const QString dir = QCoreApplication::applicationDirPath();
    QStringList list{dir + QStringLiteral("/help/index.html"),
                     dir + QStringLiteral("/../share/tarvik/help/index.html")};
#ifdef TARVIK_SOURCE_DIR
    list << QStringLiteral(TARVIK_SOURCE_DIR "/resources/help/index.html");
#endif
    return list;
}

}  // namespace

QString HelpFilePath() {
    const QStringList list = candidates();
    for (const QString& path : list) {
        if (QFileInfo(path).isFile()) {
            return QFileInfo(path).canonicalFilePath();
        }
    }
    return list.front();
}

bool ShowHelpContext(int context, QWidget* parent) {
    const QString path = HelpFilePath();
    if (!QFileInfo(path).isFile()) {
        return false;
    }
    static QPointer<QTextBrowser> window;
    if (!window) {
        window = new QTextBrowser(parent);
        window->setWindowFlag(Qt::Window);
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->setOpenExternalLinks(true);
        window->setWindowTitle(QStringLiteral("Tarvik - Hilfe"));
        window->resize(640, 560);
    }
    QUrl url = QUrl::fromLocalFile(path);
    url.setFragment(QStringLiteral("kontext%1").arg(context));
    window->setSource(url);
    window->show();
    window->raise();
    window->activateWindow();
    return true;
}
