// Dialog units as the dialog's template gives positions in, and the font they
// are measured against. The conversion follows Windows: the horizontal base
// unit is the average width of A-Z a-z rounded as GdiGetCharDimensions does,
// the vertical one the font's height; x px = du * baseX / 4 and
// y px = du * baseY / 8, each rounded like MulDiv.
#pragma once

#include <QFont>
#include <QRect>
#include <QStringList>

struct DialogBaseUnits {
    int x = 0;
    int y = 0;
};

// "굴림" 9 pt, falling back to fonts a Linux machine has with Hangul glyphs.
QFont DialogFont();
// The families DialogFont() asks for, best first.
QStringList DialogFontFamilies();

DialogBaseUnits BaseUnitsOf(const QFont &font);

// MulDiv(value, numerator, denominator): the product rounded half away from zero.
int MulDiv(int value, int numerator, int denominator);

QRect DialogRectToPixels(const DialogBaseUnits &units, int x, int y, int width, int height);
