#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// An INI text held in memory, read and changed the way the classic private-profile functions
// do it: section and key names match without regard to case, blanks around names and values
// are ignored, one pair of quotes around a value is removed, the first of duplicate keys wins.
// Writing a key replaces its line in place or appends it at the end of its section (a new
// section goes to the end of the text); every other line, comments included, stays as it was.
class TIniDocument {
public:
    TIniDocument() = default;
    explicit TIniDocument(const QString &text);

    std::optional<QString> Value(const QString &section, const QString &key) const;
    void SetValue(const QString &section, const QString &key, const QString &value);

    // Lines joined by LF, with a final LF.
    QString Text() const;

private:
    struct Line {
        QString text;
        QString section;  // header lines: the section's name
        QString key;      // key lines: the key's name
        bool header = false;
    };
    QList<Line> lines;

    static Line Parse(const QString &text);
};

// Typed access as the settings store reads values: texts up to 2047 characters; integers in
// decimal, or hexadecimal with "$" or (when longer than two characters) "0x"/"0X"; anything
// else, and numbers out of the 32-bit range, read as the default; booleans are integers other
// than 0.
namespace IniFormat {
constexpr int MaxTextLength = 2047;

QString ReadString(const TIniDocument &ini, const QString &section, const QString &key,
                   const QString &defaultValue);
int ReadInteger(const TIniDocument &ini, const QString &section, const QString &key, int defaultValue);
bool ReadBool(const TIniDocument &ini, const QString &section, const QString &key, bool defaultValue);
std::optional<int> ParseInteger(const QString &text);
}  // namespace IniFormat
