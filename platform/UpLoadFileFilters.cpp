#include "platform/UpLoadFileFilters.h"

#include <array>
#include <utility>

namespace {
constexpr std::array<std::pair<const char *, const char *>, 17> TypesByExtension{{
    {".jpg", "image/jpeg"},
    {".png", "image/png"},
    {".gif", "image/gif"},
    {".bmp", "application/x-bmp"},
    {".mp3", "audio/mp3"},
    {".wav", "audio/wav"},
    {".mp4", "video/mpeg4"},
    {".m4v", "video/mpeg4"},
    {".avi", "video/avi"},
    {".ppt", "application/x-ppt"},
    {".pptx", "application/x-ppt"},
    {".doc", "application/x-doc"},
    {".docx", "application/x-doc"},
    {".pdf", "application/pdf"},
    {".txt", "text/plain"},
    {".xls", "application/x-xls"},
    {".xlsx", "application/x-xls"},
}};
}  // namespace

QString TUpLoadFileFilters::MimeTypeOf(const QString &extension)
{
    const QString lower = extension.toLower();
    for (const auto &[ext, type] : TypesByExtension) {
        if (lower == QLatin1String(ext))
            return QString::fromLatin1(type);
    }
    return QStringLiteral("multipart/form-data");
}
