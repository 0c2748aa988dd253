#include "zip/messages/dialog/ZAQtDialogProvider.h"

#include <QApplication>
#include <memory>

#include "zip/messages/dialog/ZADlg.h"

TZADialogAnswer TZAQtDialogProvider::ShowDialog(const TZADialogRequest& request) {
    TZADialogAnswer answer;
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr)
        return answer;
    auto box = std::make_unique<TZipDialogBox>(QApplication::activeWindow(), request.Value);
    box->LayoutDialog(request.Title, request.Text, request.Buttons);
    answer.ModalResult = box->ShowModal();
    if (request.IsPassword() && answer.ModalResult == mrOk)
        answer.Password = box->PasswordText();
    return answer;
}

TZADialogProvider& InstallQtDialogProvider() {
    static TZAQtDialogProvider provider;
    SetDefaultDialogProvider(&provider);
    return provider;
}
