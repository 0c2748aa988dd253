// Entry routine of the Tarvik desktop program.
//
//   tarvik [ARCHIVE|FILE]              the window; an archive is opened, any
//                                      other file is offered for adding
//   tarvik --screenshot PNG [ARCHIVE]  renders the window to PNG and exits
//   tarvik --bench-open ARCHIVE        opens the archive, fills and sorts the
//                                      list, shows it, prints the time and exits
//   tarvik --extract-here ARCHIVE...   the file manager's commands (app/Batch.h)
//   tarvik --extract-to DIR ARCHIVE...
//   tarvik --add-to ARCHIVE FILE...
#include <QApplication>
#include <QElapsedTimer>
#include <QLibraryInfo>
#include <QLocale>
#include <QTimer>
#include <QTranslator>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "app/Batch.h"
#include "app/FileDialogs.h"
#include "app/Global.h"
#include "app/MessageBoxes.h"
#include "app/UniMain.h"
#include "zip/ZACore.h"
#include "zip/ZADialogProvider.h"
#include "zip/ZipArchiver.h"
#include "zip/messages/dialog/ZAQtDialogProvider.h"

namespace {

bool hasDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

int renderScreenshot(const QString& png, const QStringList& archive) {
    TfrmMain window(archive);
    window.show();
    window.FormActivate();
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::processEvents();
    }
    if (!window.grab().save(png, "PNG")) {
        std::fprintf(stderr, "tarvik: %s kann nicht geschrieben werden\n", qPrintable(png));
        return 1;
    }
    return 0;
}

// Without anybody to answer: the component's boxes go to the error output;
// questions get their first choice that goes on (OK, else No or Cancel),
// passwords none.
class TBatchDialogProvider : public TZADialogProvider {
public:
    TZADialogAnswer ShowDialog(const TZADialogRequest& r) override {
        std::fprintf(stderr, "%s: %s\n", r.Title.c_str(), r.Text.c_str());
        if (r.IsPassword()) {
            return {mrCancel, {}};
        }
        for (const TMsgDlgBtn b : {mbOK, mbNo, mbCancel}) {
            if (r.Buttons.contains(b)) {
                return {ModalResultOf(b), {}};
            }
        }
        return {mrCancel, {}};
    }
};

int benchOpen(const QString& archive) {
    TfrmMain window;
    QElapsedTimer timer;
    timer.start();
    const std::clock_t cpu = std::clock();
    window.OeffneArchiv(archive);
    // Until the list is shown: the view lays out its rows.
    window.show();
    QCoreApplication::processEvents();
    const qint64 ms = timer.elapsed();
    const double cpuMs = 1000.0 * static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC;
    // Wall-clock and processor time: on a busy machine the first overstates.
    std::printf(
        "%d Einträge geladen, Liste gefüllt und sortiert in %lld ms (Prozessorzeit %.0f ms)\n",
        window.Model().rowCount(), static_cast<long long>(ms), cpuMs);
    return window.Model().rowCount() > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char* argv[]) {
    QStringList raw;
    for (int i = 1; i < argc; ++i) {
        raw << QString::fromLocal8Bit(argv[i]);
    }
    const bool batch = !raw.isEmpty() && (raw.front() == QStringLiteral("--screenshot") ||
                                          raw.front() == QStringLiteral("--bench-open"));
    if (batch && !hasDisplay() && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarvik"));
    QApplication::setOrganizationName(QStringLiteral("KVL"));
    // Dates and separators follow the user's locale.
    QLocale::setDefault(UserLocale());
    // The window speaks German, Qt's own texts too (edit-field menus, the file
    // chooser): Qt's German translations, where the system has them.
    QTranslator qtTexts;
    if (LoadQtGermanTranslations(qtTexts)) {
        QCoreApplication::installTranslator(&qtTexts);
    }
    // The component asks its questions and shows its errors in its Qt box.
    InstallQtDialogProvider();
    // Long operations keep the window alive through the component's pump,
    // and the component shows the hourglass while it works.
    // The component calls it on every cancel check (once per entry while an
    // archive loads), so pending events run at most every 15 ms: often enough
    // for a live window, rarely enough not to slow large archives down.
    SetMessagePump(ProcessPendingEvents);
    SetBusyCursorHook([](bool busy) {
        if (busy) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
        } else {
            QApplication::restoreOverrideCursor();
        }
    });

    if (batch) {
        // Nobody is there to answer: messages go to the error output, questions
        // are declined and choosers cancelled.
        SetMessageBoxHook([](TMessageKind, const QString& title, const QString& text,
                             QMessageBox::StandardButtons buttons) {
            std::fprintf(stderr, "%s: %s\n", qPrintable(title), qPrintable(text));
            return buttons.testFlag(QMessageBox::No) ? QMessageBox::No : QMessageBox::Ok;
        });
        SetFileDialogHook([](const TFileDialogRequest&) { return QStringList(); });
        // The component's own box, too, must never wait.
        static TBatchDialogProvider batchDialogs;
        SetDefaultDialogProvider(&batchDialogs);
    }
    if (!raw.isEmpty() && raw.front() == QStringLiteral("--screenshot")) {
        if (raw.size() < 2) {
            std::fprintf(stderr, "Aufruf: tarvik --screenshot DATEI.png [ARCHIV]\n");
            return 2;
        }
        return renderScreenshot(raw[1], raw.mid(2, 1));
    }
    if (!raw.isEmpty() && raw.front() == QStringLiteral("--bench-open")) {
        if (raw.size() < 2) {
            std::fprintf(stderr, "Aufruf: tarvik --bench-open ARCHIV\n");
            return 2;
        }
        return benchOpen(raw[1]);
    }

    if (IsBatchCommand(raw)) {
        return RunBatchCommand(raw);
    }
    TfrmMain window(raw);
    window.show();
    return QApplication::exec();
}
