#include "components/QmLabel.h"

#include "components/QmColors.h"

#include <QEvent>
#include <QFontInfo>
#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>

#include <array>
#include <optional>

namespace {

// The engine's surface over a painter. Without a painter it only measures, for sizing a label
// that is not drawn.
class TPainterLabelSurface final : public ILabelSurface {
public:
    TPainterLabelSurface(QPainter* painter, const QFont& baseFont, const QPalette& palette, const QRect& clip)
        : FPainter(painter), FBaseFont(baseFont), FPalette(palette), FClip(clip) {}

    void FillClipRect(TColor color) override {
        if (FPainter != nullptr)
            FPainter->fillRect(FClip, ColorToQColor(color, FPalette, FPalette.color(QPalette::Button)));
    }

    void SetClearTextBackground() override {
        if (FPainter != nullptr)
            FPainter->setBackgroundMode(Qt::TransparentMode);
    }

    void SetFont(const TLabelFont& font) override {
        const std::size_t style = font.Style & 0x0F;
        if (!FFonts[style]) {
            QFont styled = FBaseFont;
            styled.setBold((font.Style & fsBold) != 0);
            styled.setItalic((font.Style & fsItalic) != 0);
            styled.setUnderline((font.Style & fsUnderline) != 0);
            styled.setStrikeOut((font.Style & fsStrikeOut) != 0);
            FFonts[style].emplace(styled, QFontMetrics(styled));
        }
        FCurrent = &*FFonts[style];
        if (FPainter != nullptr) {
            FPainter->setFont(FCurrent->Font);
            FPainter->setPen(ColorToQColor(font.Color, FPalette, FPalette.color(QPalette::WindowText)));
        }
    }

    int TextWidth(std::string_view text) override { return Metrics().horizontalAdvance(ToQString(text)); }

    int TextHeight(std::string_view) override { return Metrics().height(); }

    void TextOut(int x, int y, std::string_view text) override {
        if (FPainter != nullptr)
            FPainter->drawText(x, y + Metrics().ascent(), ToQString(text));
    }

private:
    struct TStyledFont {
        TStyledFont(const QFont& font, const QFontMetrics& metrics) : Font(font), Metrics(metrics) {}
        QFont Font;
        QFontMetrics Metrics;
    };

    static QString ToQString(std::string_view text) {
        return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    }

    const QFontMetrics& Metrics() {
        if (FCurrent == nullptr)
            SetFont(TLabelFont{});
        return FCurrent->Metrics;
    }

    QPainter* FPainter;
    QFont FBaseFont;
    QPalette FPalette;
    QRect FClip;
    std::array<std::optional<TStyledFont>, 16> FFonts;
    const TStyledFont* FCurrent = nullptr;
};

} // namespace

TQmLabel::TQmLabel(QWidget* parent) : QWidget(parent), FText{"TQmLabel"} {
    resize(70, 35);
}

void TQmLabel::SetFontColor(TColor color) {
    if (FFontColor == color)
        return;
    FFontColor = color;
    Changed();
}

void TQmLabel::SetText(const std::vector<std::string>& text) {
    FText = text;
    Changed();
}

void TQmLabel::SetAutoSize(bool autoSize) {
    if (FAutoSize == autoSize)
        return;
    FAutoSize = autoSize;
    Changed();
}

void TQmLabel::SetColor(TColor color) {
    if (FColor == color)
        return;
    FColor = color;
    Changed();
}

void TQmLabel::SetWordWrap(bool wordWrap) {
    if (FWordWrap == wordWrap)
        return;
    FWordWrap = wordWrap;
    Changed();
}

void TQmLabel::SetInternetAutoFormat(bool internetAutoFormat) {
    if (FInternetAutoFormat == internetAutoFormat)
        return;
    FInternetAutoFormat = internetAutoFormat;
    Changed();
}

void TQmLabel::SetCaption(const std::string& caption) {
    FText = SplitCaption(caption);
    Changed();
}

std::string TQmLabel::Caption() const {
    return JoinCaption(FText);
}

std::string TQmLabel::PureText() const {
    return ::PureText(FText);
}

void TQmLabel::SetTransparent(bool transparent) {
    if (FTransparent == transparent)
        return;
    FTransparent = transparent;
    Changed();
}

void TQmLabel::SetAlign(TAlign align) {
    if (FAlign == align)
        return;
    FAlign = align;
    if (FAlign != alNone)
        SetAutoSize(false);
    if (parentWidget() != nullptr) {
        if (FAlign == alNone)
            parentWidget()->removeEventFilter(this);
        else
            parentWidget()->installEventFilter(this);
    }
    Realign();
}

void TQmLabel::UpdateAutoSize() {
    TPainterLabelSurface surface(nullptr, font(), palette(), rect());
    ApplyPaintResult(FEngine.Paint(surface, PaintInput()));
}

QSize TQmLabel::sizeHint() const {
    if (!FAutoSize)
        return size();
    const TLabelPaintResult result = Measure(width());
    return {result.Width, result.Height};
}

bool TQmLabel::hasHeightForWidth() const {
    return FAutoSize && FWordWrap;
}

int TQmLabel::heightForWidth(int width) const {
    if (!hasHeightForWidth())
        return QWidget::heightForWidth(width);
    return Measure(width).Height;
}

TLabelPaintResult TQmLabel::Measure(int width) const {
    TPainterLabelSurface surface(nullptr, font(), palette(), rect());
    TLabelPaintInput input = PaintInput();
    input.Width = width;
    TQmLabelEngine engine;
    return engine.Paint(surface, input);
}

void TQmLabel::paintEvent(QPaintEvent* event) {
    TLabelPaintResult result;
    {
        QPainter painter(this);
        TPainterLabelSurface surface(&painter, font(), palette(), event->rect());
        result = FEngine.Paint(surface, PaintInput());
    }
    ApplyPaintResult(result);
}

bool TQmLabel::event(QEvent* event) {
    switch (event->type()) {
    case QEvent::ParentAboutToChange:
        if (parentWidget() != nullptr)
            parentWidget()->removeEventFilter(this);
        break;
    case QEvent::ParentChange:
        if (parentWidget() != nullptr && FAlign != alNone) {
            parentWidget()->installEventFilter(this);
            Realign();
        }
        break;
    default:
        break;
    }
    return QWidget::event(event);
}

bool TQmLabel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        Realign();
    return QWidget::eventFilter(watched, event);
}

TLabelPaintInput TQmLabel::PaintInput() const {
    TLabelPaintInput input;
    input.Text = &FText;
    input.Font = EngineFont();
    input.Color = FColor;
    input.Transparent = FTransparent;
    input.WordWrap = FWordWrap;
    input.AutoSize = FAutoSize;
    input.Width = width();
    return input;
}

TLabelFont TQmLabel::EngineFont() const {
    const QFont& current = font();
    TLabelFont engineFont;
    engineFont.Name = current.family().toStdString();
    engineFont.Height = QFontInfo(current).pixelSize();
    engineFont.Color = FFontColor;
    engineFont.Style = static_cast<std::uint8_t>(
        (current.bold() ? fsBold : 0) | (current.italic() ? fsItalic : 0) |
        (current.underline() ? fsUnderline : 0) | (current.strikeOut() ? fsStrikeOut : 0));
    return engineFont;
}

void TQmLabel::ApplyPaintResult(const TLabelPaintResult& result) {
    if (!result.Sized)
        return;
    if (width() != result.Width || height() != result.Height) {
        resize(result.Width, result.Height);
        updateGeometry();
    }
    if (result.NotifyHeight && OnHeightChange)
        OnHeightChange(this, height());
}

void TQmLabel::Changed() {
    update();
}

void TQmLabel::Realign() {
    QWidget* parent = parentWidget();
    if (FAlign == alNone || parent == nullptr)
        return;
    SetAutoSize(false);
    const QRect area = parent->contentsRect();
    switch (FAlign) {
    case alTop:
        setGeometry(area.left(), area.top(), area.width(), height());
        break;
    case alBottom:
        setGeometry(area.left(), area.bottom() + 1 - height(), area.width(), height());
        break;
    case alLeft:
        setGeometry(area.left(), area.top(), width(), area.height());
        break;
    case alRight:
        setGeometry(area.right() + 1 - width(), area.top(), width(), area.height());
        break;
    case alClient:
        setGeometry(area);
        break;
    case alNone:
        break;
    }
}
