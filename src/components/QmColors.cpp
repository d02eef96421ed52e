#include "components/QmColors.h"

#include <QApplication>

namespace {

QColor SystemColor(int index, const QPalette& palette) {
    using R = QPalette::ColorRole;
    switch (index) {
    case 0: // scroll bar
        return palette.color(R::Button);
    case 1: // desktop background
        return palette.color(R::Dark);
    case 2:  // active caption
    case 13: // highlight
    case 27: // gradient active caption
    case 29: // menu highlight
        return palette.color(QPalette::Active, R::Highlight);
    case 3:  // inactive caption
    case 28: // gradient inactive caption
        return palette.color(QPalette::Inactive, R::Highlight);
    case 4:  // menu
    case 10: // active border
    case 11: // inactive border
    case 30: // menu bar
        return palette.color(R::Window);
    case 5: // window (the background of edits and lists)
        return palette.color(R::Base);
    case 6: // window frame
        return palette.color(R::Shadow);
    case 7: // menu text
        return palette.color(R::WindowText);
    case 8: // window text
        return palette.color(R::Text);
    case 9:  // caption text
    case 14: // highlight text
        return palette.color(QPalette::Active, R::HighlightedText);
    case 12: // application work space
        return palette.color(R::Mid);
    case 15: // button face
        return palette.color(R::Button);
    case 16: // button shadow
        return palette.color(R::Dark);
    case 17: // grey (disabled) text
        return palette.color(QPalette::Disabled, R::Text);
    case 18: // button text
        return palette.color(R::ButtonText);
    case 19: // inactive caption text
        return palette.color(QPalette::Inactive, R::HighlightedText);
    case 20: // button highlight
        return palette.color(R::Light);
    case 21: // 3D dark shadow
        return palette.color(R::Shadow);
    case 22: // 3D light
        return palette.color(R::Midlight);
    case 23: // tool tip text
        return palette.color(R::ToolTipText);
    case 24: // tool tip background
        return palette.color(R::ToolTipBase);
    case 26: // hot-tracked item (links)
        return palette.color(R::Link);
    default:
        return palette.color(R::Window);
    }
}

} // namespace

QColor ColorToQColor(TColor color, const QColor& defaultColor) {
    return ColorToQColor(color, QApplication::palette(), defaultColor);
}

QColor ColorToQColor(TColor color, const QPalette& palette, const QColor& defaultColor) {
    if (color == clNone)
        return QColor(Qt::transparent);
    if (color == clDefault)
        return defaultColor;
    if (IsSystemColor(color))
        return SystemColor(SystemColorIndex(color), palette);
    return QColor(static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF),
                  static_cast<int>((color >> 16) & 0xFF));
}

TColor QColorToColor(const QColor& color) {
    const QColor rgb = color.toRgb();
    return static_cast<TColor>(rgb.red()) | (static_cast<TColor>(rgb.green()) << 8) |
           (static_cast<TColor>(rgb.blue()) << 16);
}
