#pragma once

#include <QString>

#include <functional>

// A modal message box with one OK button, the way the program shows its fixed messages.
// Nothing is shown once the program was asked to terminate (SIGTERM/SIGINT): the text then
// goes to standard error. Without an application object (tools, tests) the text goes to
// standard error too.
void ShowMessageBox(const QString &text, const QString &caption = QStringLiteral("提示"));

// Replaces how boxes are presented, so that tests can see the texts without a modal loop; an
// empty function restores the standard box.
using TMessageBoxPresenter = std::function<void(const QString &text, const QString &caption)>;
void SetMessageBoxPresenter(TMessageBoxPresenter presenter);
