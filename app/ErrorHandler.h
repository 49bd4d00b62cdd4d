#pragma once

#include <QString>

// The application's general error handling: the user sees the message in a box (caption
// "提示"), the log keeps it. Nothing here throws.
void ReportError(const QString &message) noexcept;
// Reports the exception being handled; call it inside a catch block.
void ReportCurrentException() noexcept;
