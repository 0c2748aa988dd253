#include "app/Executables.h"

#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QStringList>

namespace {

// Extensions the desktop (or wine) runs rather than shows.
const QStringList& programExtensions() {
    static const QStringList kExtensions{
        QStringLiteral("exe"),      QStringLiteral("com"),  QStringLiteral("bat"),
        QStringLiteral("cmd"),      QStringLiteral("msi"),  QStringLiteral("pif"),
        QStringLiteral("scr"),      QStringLiteral("vbs"),  QStringLiteral("ps1"),
        QStringLiteral("sh"),       QStringLiteral("bash"), QStringLiteral("zsh"),
        QStringLiteral("ksh"),      QStringLiteral("csh"),  QStringLiteral("fish"),
        QStringLiteral("command"),  QStringLiteral("run"),  QStringLiteral("desktop"),
        QStringLiteral("appimage"), QStringLiteral("jar"),  QStringLiteral("py"),
        QStringLiteral("pl"),       QStringLiteral("rb"),
    };
    return kExtensions;
}

// Content types that are programs, scripts or program launchers.
const QStringList& programTypes() {
    static const QStringList kTypes{
        QStringLiteral("application/x-executable"),
        QStringLiteral("application/x-pie-executable"),
        QStringLiteral("application/x-sharedlib"),
        QStringLiteral("application/x-shellscript"),
        QStringLiteral("application/x-desktop"),
        QStringLiteral("application/vnd.appimage"),
        QStringLiteral("application/x-iso9660-appimage"),
        QStringLiteral("application/x-ms-dos-executable"),
        QStringLiteral("application/x-msdownload"),
        QStringLiteral("application/x-msi"),
        QStringLiteral("application/x-java-archive"),
    };
    return kTypes;
}

}  // namespace

bool OpensAsProgram(const QString& path) {
    const QFileInfo info(path);
    if (programExtensions().contains(info.suffix().toLower())) {
        return true;
    }
    if (info.isFile() && info.isExecutable()) {
        return true;
    }
    // A script or a program whatever its name: "#!", ELF or MZ at the start.
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        const QByteArray head = file.read(4);
        if (head.startsWith("#!") ||
            head.startsWith("\x7F"
                            "ELF") ||
            head.startsWith("MZ")) {
            return true;
        }
    }
    const QMimeType type = QMimeDatabase().mimeTypeForFile(info);
    for (const QString& name : programTypes()) {
        if (type.inherits(name)) {
            return true;
        }
    }
    return false;
}
