#include "app/ErrorHandler.h"

#include "app/Errors.h"
#include "app/Log.h"
#include "app/MessageBox.h"

#include <cstdio>
#include <exception>

void ReportError(const QString &message) noexcept
{
    Notice(message);
    try {
        ShowMessageBox(message);
    } catch (...) {
        std::fprintf(stderr, "studiocast: %s\n", message.toUtf8().constData());
    }
}

void ReportCurrentException() noexcept
{
    try {
        throw;
    } catch (const TAppError &error) {
        ReportError(error.Message());
    } catch (const std::exception &error) {
        ReportError(QString::fromUtf8(error.what()));
    } catch (...) {
        ReportError(QStringLiteral("未知错误"));
    }
}
