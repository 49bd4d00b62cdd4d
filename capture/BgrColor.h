#pragma once

#include <QColor>

// Colours are given as the desktop's 0x00BBGGRR integers (red in the low byte).
inline QColor BgrColor(unsigned value)
{
    return QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
}
