#pragma once
// Colour values (components/uColors.h) as Qt colours. System colours are taken from a palette, by
// default the application's, so that they follow the theme as the Windows system colours do.
#include "components/uColors.h"

#include <QColor>
#include <QPalette>

// clNone gives a fully transparent colour; clDefault gives defaultColor (invalid unless given).
QColor ColorToQColor(TColor color, const QColor& defaultColor = QColor());
QColor ColorToQColor(TColor color, const QPalette& palette, const QColor& defaultColor = QColor());
// A Qt colour as a plain colour value (0x00BBGGRR).
TColor QColorToColor(const QColor& color);
