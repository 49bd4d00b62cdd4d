#include "app/MessageBox.h"

#include "app/Termination.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>

namespace {

TMessageBoxPresenter &Presenter()
{
    static TMessageBoxPresenter presenter;
    return presenter;
}

}  // namespace

void ShowMessageBox(const QString &text, const QString &caption)
{
    if (Presenter()) {
        Presenter()(text, caption);
        return;
    }
    if (TerminationRequested() || !qobject_cast<QApplication *>(QCoreApplication::instance())) {
        std::fprintf(stderr, "%s: %s\n", caption.toUtf8().constData(), text.toUtf8().constData());
        return;
    }
    QMessageBox box(QMessageBox::Information, caption, text, QMessageBox::Ok);
    box.exec();
}

void SetMessageBoxPresenter(TMessageBoxPresenter presenter)
{
    Presenter() = std::move(presenter);
}
