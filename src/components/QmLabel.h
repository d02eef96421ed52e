#pragma once
// TQmLabel: a light text control that draws a few lines of the program's markup (bold, italic,
// underline and colour tags, word format markers, highlighted addresses), wraps at its width and
// sizes itself to its text after each paint. The markup rules live in uQmLabelEngine; this widget
// keeps the properties, draws through QPainter and applies the auto-size. It paints no background
// of its own when Transparent, so the parent shows through as under a graphic control.
#include "components/uColors.h"
#include "components/uQmLabelEngine.h"

#include <QWidget>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Alignment of a control in its parent's client area.
enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };

class TQmLabel : public QWidget {
    Q_OBJECT

public:
    explicit TQmLabel(QWidget* parent = nullptr);

    // The label's font is QWidget::font() (setFont repaints); its colour, which QFont does not
    // carry, is FontColor.
    void SetFontColor(TColor color);
    TColor FontColor() const { return FFontColor; }

    void SetText(const std::vector<std::string>& text);
    const std::vector<std::string>& Text() const { return FText; }

    void SetAutoSize(bool autoSize);
    bool AutoSize() const { return FAutoSize; }

    void SetColor(TColor color);
    TColor Color() const { return FColor; }

    void SetWordWrap(bool wordWrap);
    bool WordWrap() const { return FWordWrap; }

    // Kept and published; the format markers and address highlighting apply whatever its value,
    // as every label of the program has it on.
    void SetInternetAutoFormat(bool internetAutoFormat);
    bool InternetAutoFormat() const { return FInternetAutoFormat; }

    void SetCaption(const std::string& caption);
    std::string Caption() const;
    std::string PureText() const;

    void SetTransparent(bool transparent);
    bool Transparent() const { return FTransparent; }

    // Anything but alNone keeps the label on that side of (or filling) its parent's contents and
    // switches AutoSize off whenever it aligns.
    void SetAlign(TAlign align);
    TAlign Align() const { return FAlign; }

    // Sizes the label as a paint would, without drawing: for layouts made before it is shown.
    void UpdateAutoSize();

    // For layouts: an auto-sized label asks for the size its text takes, a wrapped one for the
    // height its text takes at a given width.
    QSize sizeHint() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;

    // Called after every auto-sized, word-wrapped paint with the label and its new height.
    std::function<void(TQmLabel* sender, int height)> OnHeightChange;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TLabelPaintInput PaintInput() const;
    TLabelPaintResult Measure(int width) const;
    TLabelFont EngineFont() const;
    void ApplyPaintResult(const TLabelPaintResult& result);
    void Changed();
    void Realign();

    std::vector<std::string> FText;
    TColor FFontColor = clWindowText;
    TColor FColor = clBtnFace;
    bool FAutoSize = true;
    bool FWordWrap = true;
    bool FInternetAutoFormat = true;
    bool FTransparent = false;
    TAlign FAlign = alNone;
    TQmLabelEngine FEngine;
};
