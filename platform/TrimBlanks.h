#pragma once

#include <QString>

// Removes blanks and control characters (everything up to U+0020) from both ends, the trim
// the platform's texts and the teacher's input are compared with. Unlike QString::trimmed it
// leaves other Unicode white space (such as the ideographic space) in place.
inline QString TrimBlanks(const QString &text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first).unicode() <= 0x20)
        ++first;
    while (last > first && text.at(last - 1).unicode() <= 0x20)
        --last;
    return text.mid(first, last - first);
}
