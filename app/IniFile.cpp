#include "app/IniFile.h"

#include <limits>

namespace {

bool IsBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

QString TrimBlanks(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}

QString Unquoted(const QString &value)
{
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') && value.back() == value.front())
        return value.mid(1, value.size() - 2);
    return value;
}

}  // namespace

TIniDocument::TIniDocument(const QString &text)
{
    QString body = text;
    if (body.startsWith(QChar(0xFEFF)))
        body.remove(0, 1);
    const QStringList rows = body.split(u'\n');
    for (qsizetype i = 0; i < rows.size(); ++i) {
        QString row = rows[i];
        if (row.endsWith(u'\r'))
            row.chop(1);
        if (i == rows.size() - 1 && row.isEmpty())
            break;  // the final line break
        lines.append(Parse(row));
    }
    // Lines before the first header belong to no section and are never matched.
}

TIniDocument::Line TIniDocument::Parse(const QString &text)
{
    Line line{text, {}, {}, false};
    const QString trimmed = TrimBlanks(text);
    if (trimmed.startsWith(u'[')) {
        const qsizetype close = trimmed.indexOf(u']');
        line.header = true;
        line.section = TrimBlanks(trimmed.mid(1, close < 0 ? -1 : close - 1));
        return line;
    }
    if (trimmed.startsWith(u';'))
        return line;
    const qsizetype equals = trimmed.indexOf(u'=');
    if (equals > 0)
        line.key = TrimBlanks(trimmed.left(equals));
    return line;
}

std::optional<QString> TIniDocument::Value(const QString &section, const QString &key) const
{
    bool inSection = false;
    for (const Line &line : lines) {
        if (line.header) {
            inSection = line.section.compare(section, Qt::CaseInsensitive) == 0;
            continue;
        }
        if (inSection && !line.key.isEmpty() && line.key.compare(key, Qt::CaseInsensitive) == 0) {
            const QString trimmed = TrimBlanks(line.text);
            return Unquoted(TrimBlanks(trimmed.mid(trimmed.indexOf(u'=') + 1)));
        }
    }
    return std::nullopt;
}

void TIniDocument::SetValue(const QString &section, const QString &key, const QString &value)
{
    // A value is one line: line breaks inside it would start new keys of their own.
    QString flat = value;
    flat.replace(u'\r', u' ').replace(u'\n', u' ');
    const QString text = key + u'=' + flat;

    qsizetype sectionEnd = -1;  // index after the last key line of the section
    bool inSection = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const Line &line = lines[i];
        if (line.header) {
            inSection = line.section.compare(section, Qt::CaseInsensitive) == 0;
            if (inSection && sectionEnd < 0)
                sectionEnd = i + 1;
            continue;
        }
        if (!inSection)
            continue;
        if (!line.key.isEmpty() && line.key.compare(key, Qt::CaseInsensitive) == 0) {
            lines[i] = Parse(text);
            return;
        }
        if (!TrimBlanks(line.text).isEmpty() && sectionEnd >= 0)
            sectionEnd = i + 1;
    }
    if (sectionEnd < 0) {
        lines.append(Parse(u'[' + section + u']'));
        lines.append(Parse(text));
        return;
    }
    lines.insert(sectionEnd, Parse(text));
}

QString TIniDocument::Text() const
{
    QString text;
    for (const Line &line : lines)
        text += line.text + u'\n';
    return text;
}

namespace IniFormat {

QString ReadString(const TIniDocument &ini, const QString &section, const QString &key,
                   const QString &defaultValue)
{
    const std::optional<QString> value = ini.Value(section, key);
    if (!value)
        return defaultValue;
    qsizetype length = std::min<qsizetype>(value->size(), MaxTextLength);
    // Never cut a character in half.
    if (length < value->size() && length > 0 && value->at(length - 1).isHighSurrogate())
        --length;
    return value->left(length);
}

std::optional<int> ParseInteger(const QString &text)
{
    QString digits = text;
    int base = 10;
    bool negative = false;
    if (digits.size() > 2 && digits[0] == u'0' && (digits[1] == u'x' || digits[1] == u'X'))
        digits = u'$' + digits.mid(2);
    if (digits.startsWith(u'-') || digits.startsWith(u'+')) {
        negative = digits[0] == u'-';
        digits.remove(0, 1);
    }
    if (digits.startsWith(u'$')) {
        base = 16;
        digits.remove(0, 1);
    }
    if (digits.isEmpty())
        return std::nullopt;
    qint64 value = 0;
    for (QChar c : digits) {
        const int digit = base == 16 && c.isLetter() ? (c.toLower().unicode() - u'a' + 10) : c.unicode() - u'0';
        if (digit < 0 || digit >= base || (c.isLetter() && base != 16) || c.unicode() > 127)
            return std::nullopt;
        value = value * base + digit;
        if (value > 0xFFFFFFFFll)
            return std::nullopt;
    }
    if (base == 16) {
        // Hexadecimal spells the 32 bits: $FFFFFFFF is -1.
        const auto bits = static_cast<quint32>(value);
        return static_cast<qint32>(negative ? 0u - bits : bits);
    }
    if (negative)
        value = -value;
    if (value < std::numeric_limits<qint32>::min() || value > std::numeric_limits<qint32>::max())
        return std::nullopt;
    return int(value);
}

int ReadInteger(const TIniDocument &ini, const QString &section, const QString &key, int defaultValue)
{
    const std::optional<QString> value = ini.Value(section, key);
    if (!value)
        return defaultValue;
    return ParseInteger(*value).value_or(defaultValue);
}

bool ReadBool(const TIniDocument &ini, const QString &section, const QString &key, bool defaultValue)
{
    return ReadInteger(ini, section, key, defaultValue ? 1 : 0) != 0;
}

}  // namespace IniFormat
