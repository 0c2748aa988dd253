// What the main-window tests share: real archives made with Info-ZIP zip, a
// temporary settings and temp folder, and the hooks through which message
// boxes, choosers, modal windows and the viewer launcher are answered.
#pragma once

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QLocale>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>

#include "app/FileDialogs.h"
#include "app/Global.h"
#include "app/MessageBoxes.h"
#include "app/UniAdd.h"
#include "app/UniExtr.h"
#include "app/UniMain.h"

struct TShownMessage {
    TMessageKind kind;
    QString title;
    QString text;
};

// A file with `size` bytes (repetitive when `packable`, else incompressible)
// and a modification time.
inline void writeFile(const QString& path, qint64 size, const QDateTime& modified,
                      bool packable = false) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QByteArray data(size, 'a');
    if (!packable) {
        quint32 x = 2463534242u;
        for (qint64 i = 0; i < size; ++i) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            data[i] = static_cast<char>(x & 0xFF);
        }
    }
    f.write(data);
    f.close();
    QFile g(path);
    QVERIFY(g.open(QIODevice::ReadWrite));
    QVERIFY(g.setFileTime(modified, QFileDevice::FileModificationTime));
}

// Runs Info-ZIP zip in `folder` on the given names.
inline void makeZip(const QString& archive, const QString& folder, const QStringList& names,
                    const QStringList& options = {QStringLiteral("-0")}) {
    QProcess p;
    p.setWorkingDirectory(folder);
    p.start(QStringLiteral("zip"), QStringList{QStringLiteral("-q"), QStringLiteral("-X")} +
                                       options + QStringList{archive} + names);
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitCode(), 0);
}

// A Zip64 archive of stored entries whose data are holes: the file has the
// declared size on disk (sparse) without writing it, so archives of several
// GiB cost nothing. The CRCs are not those of the zeros; listing does not read them.
inline void writeSparseZip64(const QString& archive, const QList<QPair<QString, qint64>>& entries) {
    QFile f(archive);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    auto le = [](QByteArray& b, quint64 v, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            b.append(static_cast<char>((v >> (8 * i)) & 0xFF));
        }
    };
    const quint32 dosTime = (6u << 11);                                // 06:00:00
    const quint32 dosDate = ((2024u - 1980u) << 9) | (3u << 5) | 15u;  // 15.03.2024
    QByteArray central;
    qint64 offset = 0;
    for (const auto& [name, size] : entries) {
        const QByteArray n = name.toUtf8();
        QByteArray local;
        le(local, 0x04034b50, 4);
        le(local, 45, 2);
        le(local, 0, 2);
        le(local, 0, 2);  // stored
        le(local, dosTime, 2);
        le(local, dosDate, 2);
        le(local, 0, 4);
        le(local, 0xFFFFFFFF, 4);
        le(local, 0xFFFFFFFF, 4);
        le(local, static_cast<quint64>(n.size()), 2);
        le(local, 20, 2);
        local.append(n);
        le(local, 0x0001, 2);
        le(local, 16, 2);
        le(local, static_cast<quint64>(size), 8);
        le(local, static_cast<quint64>(size), 8);
        QVERIFY(f.seek(offset));
        QCOMPARE(f.write(local), local.size());
        le(central, 0x02014b50, 4);
        le(central, 45, 2);
        le(central, 45, 2);
        le(central, 0, 2);
        le(central, 0, 2);
        le(central, dosTime, 2);
        le(central, dosDate, 2);
        le(central, 0, 4);
        le(central, 0xFFFFFFFF, 4);
        le(central, 0xFFFFFFFF, 4);
        le(central, static_cast<quint64>(n.size()), 2);
        le(central, 28, 2);
        le(central, 0, 2);
        le(central, 0, 2);
        le(central, 0, 2);
        le(central, 0, 4);
        le(central, 0xFFFFFFFF, 4);
        central.append(n);
        le(central, 0x0001, 2);
        le(central, 24, 2);
        le(central, static_cast<quint64>(size), 8);
        le(central, static_cast<quint64>(size), 8);
        le(central, static_cast<quint64>(offset), 8);
        offset += local.size() + size;
    }
    const qint64 centralOffset = offset;
    QByteArray tail = central;
    le(tail, 0x06064b50, 4);
    le(tail, 44, 8);
    le(tail, 45, 2);
    le(tail, 45, 2);
    le(tail, 0, 4);
    le(tail, 0, 4);
    le(tail, static_cast<quint64>(entries.size()), 8);
    le(tail, static_cast<quint64>(entries.size()), 8);
    le(tail, static_cast<quint64>(central.size()), 8);
    le(tail, static_cast<quint64>(centralOffset), 8);
    le(tail, 0x07064b50, 4);
    le(tail, 0, 4);
    le(tail, static_cast<quint64>(centralOffset + central.size()), 8);
    le(tail, 1, 4);
    le(tail, 0x06054b50, 4);
    le(tail, 0, 2);
    le(tail, 0, 2);
    le(tail, 0xFFFF, 2);
    le(tail, 0xFFFF, 2);
    le(tail, 0xFFFFFFFF, 4);
    le(tail, 0xFFFFFFFF, 4);
    le(tail, 0, 2);
    QVERIFY(f.seek(centralOffset));
    QCOMPARE(f.write(tail), tail.size());
}

inline QDateTime at(int y, int mo, int d, int h, int mi) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, 0));
}

class TMainWindowFixture {
public:
    QTemporaryDir tmp;
    QString settingsDir;
    QList<TShownMessage> messages;
    QList<QMessageBox::StandardButton> answers;  // next answers to questions
    QList<QStringList> chooserAnswers;
    QList<TFileDialogRequest> chooserRequests;
    std::function<void(QDialog&)> dialogDriver;
    QList<QPair<QString, QString>> launched;  // (program, file); no program: associated

    QString path(const QString& name) const { return tmp.filePath(name); }

    // The add dialog is answered: mark everything, OK.
    void addEverything() {
        dialogDriver = [](QDialog& d) {
            auto* add = qobject_cast<TfrmAdd*>(&d);
            QVERIFY(add);
            add->btnMarkAllClick();
            add->btnOkClick();
        };
    }

    // Answers the extract dialog with `target` typed in and OK.
    void answerExtractDialog(const QString& target) {
        dialogDriver = [target](QDialog& d) {
            auto* ex = qobject_cast<TfrmExtr*>(&d);
            QVERIFY(ex);
            ex->ediZielverz->setText(target + "/");
            ex->btnZielOkClick();
        };
    }

    // Settings and the temp folder in the test's folder; every box, chooser,
    // modal window and launch goes to this fixture. Numbers and dates take the
    // locale the program itself would take in this environment.
    void Install() {
        QVERIFY(tmp.isValid());
        QLocale::setDefault(UserLocale());
        settingsDir = path(QStringLiteral("settings"));
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir);
        qputenv("TMPDIR", path(QStringLiteral("systmp")).toUtf8());
        QDir().mkpath(path(QStringLiteral("systmp")));
        SetMessageBoxHook([this](TMessageKind kind, const QString& title, const QString& text,
                                 QMessageBox::StandardButtons buttons) {
            messages.append({kind, title, text});
            if (!answers.isEmpty()) {
                return answers.takeFirst();
            }
            return buttons.testFlag(QMessageBox::No) ? QMessageBox::No : QMessageBox::Ok;
        });
        SetFileDialogHook([this](const TFileDialogRequest& r) {
            chooserRequests.append(r);
            return chooserAnswers.isEmpty() ? QStringList() : chooserAnswers.takeFirst();
        });
        TfrmMain::SetModalHook([this](QDialog& d) {
            if (dialogDriver) {
                dialogDriver(d);
            }
        });
        TfrmMain::SetLaunchHook([this](const QString& program, const QString& file) {
            launched.append({program, file});
        });
    }

    void Reset() {
        ResetSharedState();
        QDir(settingsDir).removeRecursively();
        messages.clear();
        answers.clear();
        chooserAnswers.clear();
        chooserRequests.clear();
        dialogDriver = nullptr;
        launched.clear();
    }

    // An archive whose entries test the cells and each column's order.
    QString makeSortArchive(const QString& name = QStringLiteral("sort.zip")) {
        const QString src = path(QStringLiteral("sortsrc"));
        writeFile(src + "/b_999.bin", 999, at(2021, 5, 1, 10, 0));
        writeFile(src + "/a_1000.bin", 1000, at(2020, 1, 1, 8, 30));
        writeFile(src + "/C_leer.txt", 0, at(2023, 2, 3, 4, 5));
        writeFile(src + "/ordner/d_text.txt", 20000, at(2022, 12, 24, 18, 0), true);
        writeFile(src + "/e_gross.bin", 70000, at(2019, 7, 7, 7, 7));
        const QString archive = path(name);
        QFile::remove(archive);
        makeZip(archive, src,
                {"b_999.bin", "a_1000.bin", "C_leer.txt", "ordner/d_text.txt", "e_gross.bin"},
                {QStringLiteral("-0")});
        // Recompress the text entry so one entry has a packing rate below 100 %.
        makeZip(archive, src, {"ordner/d_text.txt"}, {QStringLiteral("-9")});
        return archive;
    }

    static QStringList column(TfrmMain& w, int col) {
        QStringList texts;
        for (int r = 0; r < w.Model().rowCount(); ++r) {
            texts << w.Model().CellText(r, col);
        }
        return texts;
    }

    static bool enabled(TfrmMain& w, const char* name) {
        return w.Command(QLatin1String(name))->isEnabled();
    }

    static void selectRows(TfrmMain& w, const QList<int>& rows) {
        QItemSelectionModel* sel = w.ListView1()->selectionModel();
        sel->clearSelection();
        for (int r : rows) {
            sel->select(w.Model().index(r, 0),
                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
    }

    // The row showing `caption`, or -1.
    static int rowOf(TfrmMain& w, const QString& caption) {
        return static_cast<int>(column(w, 0).indexOf(caption));
    }

    static QStringList entryNames(const QString& archive) {
        QProcess p;
        p.start(QStringLiteral("unzip"), {QStringLiteral("-Z1"), archive});
        p.waitForFinished(30000);
        return QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    }

    // Info-ZIP's test of every entry: true when it finds no error at all.
    static bool unzipTestPasses(const QString& archive) {
        QProcess p;
        p.start(QStringLiteral("unzip"), {QStringLiteral("-tq"), archive});
        p.waitForFinished(30000);
        if (p.exitCode() != 0) {
            qWarning("%s", p.readAllStandardOutput().constData());
        }
        return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }
};
