#include "dialog_units.h"

#include <QFontMetrics>

QStringList DialogFontFamilies() {
    // Gulim first for a machine that has it; NanumGothic is what fonts-nanum
    // installs on Debian, Noto Sans CJK KR what most other distributions carry.
    return {QStringLiteral("굴림"), QStringLiteral("Gulim"), QStringLiteral("NanumGothic"),
            QStringLiteral("Noto Sans CJK KR")};
}

QFont DialogFont() {
    QFont font;
    font.setFamilies(DialogFontFamilies());
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(9);
    return font;
}

DialogBaseUnits BaseUnitsOf(const QFont &font) {
    const QFontMetrics metrics(font);
    const int alphabetWidth = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {(alphabetWidth / 26 + 1) / 2, metrics.height()};
}

int MulDiv(int value, int numerator, int denominator) {
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    const long long rounded =
        product >= 0 ? (product + half) / denominator : (product - half) / denominator;
    return static_cast<int>(rounded);
}

QRect DialogRectToPixels(const DialogBaseUnits &units, int x, int y, int width, int height) {
    // Origin and size are scaled separately, as Windows creates a template's
    // controls, so a control is exactly as large as it would be there.
    return QRect(MulDiv(x, units.x, 4), MulDiv(y, units.y, 8), MulDiv(width, units.x, 4),
                 MulDiv(height, units.y, 8));
}
