#pragma once
// Small helpers for the forms, which place their controls at fixed positions: every control is
// created with its name as objectName, its caption and its rectangle.
#include "components/QmLabel.h"

#include <QLabel>
#include <QMouseEvent>
#include <QRect>
#include <QString>
#include <QWidget>

#include <functional>

template <class T> T* NewControl(QWidget* parent, const char* name, const QRect& rect) {
    auto* control = new T(parent);
    control->setObjectName(QLatin1String(name));
    control->setGeometry(rect);
    return control;
}

template <class T>
T* NewControl(QWidget* parent, const char* name, const QString& caption, const QRect& rect) {
    T* control = NewControl<T>(parent, name, rect);
    control->setText(caption);
    return control;
}

// A markup label at rect, transparent, wrapped and auto-sized, as the forms use them.
inline TQmLabel* NewMarkupLabel(QWidget* parent, const char* name, const std::string& caption,
                                const QRect& rect) {
    auto* label = NewControl<TQmLabel>(parent, name, rect);
    label->setFont(parent->font());
    label->SetTransparent(true);
    label->SetCaption(caption);
    return label;
}

// A picture that reports clicks (imgLogo).
class TImage : public QLabel {
public:
    using QLabel::QLabel;
    std::function<void()> OnClick;

protected:
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && OnClick)
            OnClick();
        QLabel::mouseReleaseEvent(event);
    }
};
