#include "app/Global.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFormLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QLibraryInfo>
#include <QLocale>
#include <QMimeDatabase>
#include <QScreen>
#include <QTranslator>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "platform/InstanceFolders.h"
#include "platform/TempFiles.h"

#ifndef TARVIK_VERSION_FULL
#define TARVIK_VERSION_FULL "0.0.0.0"
#endif

QString ViewerProgram;
QString TempViewFolder;
QString SourceFolder;
QString OpenFolder;
QString ExtractFolder;
QString AddPassword;
bool ParamIsArchive = false;
int ArchiveSortColumn = 0;
int FileSortColumn = 2;

QStringList DroppedFiles;
bool DialogCancelled = false;
QString ExtractTarget;
bool ExtractWithPaths = false;
bool ExtractOverwrite = false;
QString RatioText;
QString SizeText;
bool FirstActivation = false;

void ResetSharedState() {
    ViewerProgram.clear();
    TempViewFolder.clear();
    SourceFolder.clear();
    OpenFolder.clear();
    ExtractFolder.clear();
    AddPassword.clear();
    ParamIsArchive = false;
    ArchiveSortColumn = 0;
    FileSortColumn = 2;
    DroppedFiles.clear();
    DialogCancelled = false;
    ExtractTarget.clear();
    ExtractWithPaths = false;
    ExtractOverwrite = false;
    RatioText.clear();
    SizeText.clear();
    FirstActivation = false;
}

QString GetTempFolder() {
    return QString::fromStdString(platform::TempFolder());
}

namespace {

constexpr std::string_view kTempViewPrefix = "TarvikTmp-";

}  // namespace

QString CreateTempViewFolder() {
    RemoveStaleTempViewFolders();
    return QString::fromStdString(
        platform::CreateInstanceFolder(platform::TempFolder(), kTempViewPrefix));
}

void RemoveTempViewFolder() {
    if (!TempViewFolder.isEmpty()) {
        platform::ReleaseInstanceFolder(TempViewFolder.toStdString());
        TempViewFolder.clear();
    }
}

void RemoveStaleTempViewFolders() {
    platform::RemoveStaleInstanceFolders(platform::TempFolder(), kTempViewPrefix);
}

QString GetWindowsFolder() {
    return QStringLiteral("/usr/bin/");
}

QString DefaultViewerProgram() {
    static const char* const kEditors[] = {
        "gnome-text-editor", "gedit",  "kate", "kwrite", "mousepad", "xed", "pluma",
        "featherpad",        "leafpad"};
    const QString folder = GetWindowsFolder();
    for (const char* name : kEditors) {
        const QFileInfo info(folder + QLatin1String(name));
        if (info.isFile() && info.isExecutable()) {
            return info.filePath();
        }
    }
    return folder + QStringLiteral("xdg-open");
}

void ProcessPendingEvents() {
    static QElapsedTimer sinceLast;
    if (!sinceLast.isValid() || sinceLast.elapsed() >= 15) {
        QCoreApplication::processEvents();
        sinceLast.restart();
    }
}

bool LoadQtGermanTranslations(QTranslator& translator) {
    return translator.load(QStringLiteral("qtbase_de"),
                           QLibraryInfo::path(QLibraryInfo::TranslationsPath));
}

QLocale UserLocale(const QLocale& system) {
    if (system.language() == QLocale::C) {
        return QLocale(QLocale::German, QLocale::Germany);
    }
    return system;
}

QString FormatPicture(double value, int decimals, bool grouping) {
    const QLocale locale;
    const double scale = std::pow(10.0, decimals);
    // Round half away from zero on the scaled value, as a picture format does.
    const double scaled = std::round(std::fabs(value) * scale);
    const auto whole = static_cast<long long>(std::floor(scaled / scale));
    auto fraction = static_cast<long long>(scaled - static_cast<double>(whole) * scale);
    QString text;
    if (whole != 0) {
        text = grouping ? locale.toString(whole) : QString::number(whole);
    }
    if (fraction != 0) {
        QString digits = QString::number(fraction).rightJustified(decimals, '0');
        while (digits.endsWith('0')) {
            digits.chop(1);
        }
        text += locale.decimalPoint() + digits;
    }
    if (value < 0 && !text.isEmpty()) {
        text.prepend(locale.negativeSign());
    }
    return text;
}

QString FormatSizeText(std::int64_t n) {
    if (n <= 0) {
        return QStringLiteral("0 Byte");
    }
    if (n < 1024) {
        return QString::number(n) + QStringLiteral(" Byte");
    }
    if (n < 1048576) {
        return FormatPicture(static_cast<double>(n) / 1024.0, 1, true) + QStringLiteral(" KB");
    }
    return FormatPicture(static_cast<double>(n) / 1048576.0, 2, true) + QStringLiteral(" MB");
}

QString GetVersionText(int parts) {
    const QStringList numbers = QStringLiteral(TARVIK_VERSION_FULL).split('.');
    const int n = std::clamp(parts, 1, static_cast<int>(numbers.size()));
    return numbers.mid(0, n).join('.');
}

int ScaleForDpi(int value) {
    double dpi = 96.0;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        dpi = screen->logicalDotsPerInch();
    }
    const auto ppi = static_cast<long long>(std::llround(dpi));
    const long long product = static_cast<long long>(value) * ppi;
    // Rounded to the nearest integer, halves away from zero.
    const long long half = product >= 0 ? 48 : -48;
    return static_cast<int>((product + half) / 96);
}

namespace {

QString permissionText(QFileDevice::Permissions p) {
    QString s;
    s += (p & QFileDevice::ReadOwner) ? 'r' : '-';
    s += (p & QFileDevice::WriteOwner) ? 'w' : '-';
    s += (p & QFileDevice::ExeOwner) ? 'x' : '-';
    s += (p & QFileDevice::ReadGroup) ? 'r' : '-';
    s += (p & QFileDevice::WriteGroup) ? 'w' : '-';
    s += (p & QFileDevice::ExeGroup) ? 'x' : '-';
    s += (p & QFileDevice::ReadOther) ? 'r' : '-';
    s += (p & QFileDevice::WriteOther) ? 'w' : '-';
    s += (p & QFileDevice::ExeOther) ? 'x' : '-';
    return s;
}

}  // namespace

bool ShowFileProperties(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists()) {
        return false;
    }
    QDialog box;
    box.setWindowTitle(QStringLiteral("Eigenschaften von ") + info.fileName());
    auto* form = new QFormLayout;
    const QLocale locale;
    const QString type =
        info.isDir() ? QStringLiteral("Ordner") : QMimeDatabase().mimeTypeForFile(info).comment();
    form->addRow(QStringLiteral("Name:"), new QLabel(info.fileName()));
    form->addRow(QStringLiteral("Typ:"), new QLabel(type));
    form->addRow(QStringLiteral("Ort:"), new QLabel(info.absolutePath()));
    if (!info.isDir()) {
        form->addRow(QStringLiteral("Größe:"),
                     new QLabel(locale.toString(info.size()) + QStringLiteral(" Byte")));
    }
    const QString fmt = QStringLiteral("dd.MM.yyyy  HH:mm:ss");
    form->addRow(QStringLiteral("Geändert:"), new QLabel(info.lastModified().toString(fmt)));
    form->addRow(QStringLiteral("Letzter Zugriff:"), new QLabel(info.lastRead().toString(fmt)));
    form->addRow(QStringLiteral("Rechte:"), new QLabel(permissionText(info.permissions())));
    form->addRow(QStringLiteral("Besitzer:"), new QLabel(info.owner()));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &box, &QDialog::accept);
    auto* layout = new QVBoxLayout(&box);
    layout->addLayout(form);
    layout->addWidget(buttons);
    box.exec();
    return true;
}

bool IsFolderEmpty(const QString& path) {
    const QDir dir(path);
    if (!dir.exists() || !dir.isReadable()) {
        return false;
    }
    return dir.isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
}

QString IncludeTrailingSlash(QString folder) {
    if (!folder.endsWith('/')) {
        folder += '/';
    }
    return folder;
}
