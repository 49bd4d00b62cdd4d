#pragma once

#include <QString>

// The content type an upload declares for a file, chosen by the file's extension.
class TUpLoadFileFilters {
public:
    // `extension` with its dot (".jpg"); compared in lower case. Unknown extensions, and
    // an empty one, give "multipart/form-data".
    static QString MimeTypeOf(const QString &extension);
};
