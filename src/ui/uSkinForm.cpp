#include "ui/uSkinForm.h"

#include <QApplication>
#include <QWidget>

TbsBusinessSkinForm::TbsBusinessSkinForm(QWidget* window) : QObject(window), FWindow(window) {
    setObjectName(QStringLiteral("bsBusinessSkinForm"));
}

void TbsBusinessSkinForm::Apply(TbsSkinData* controls, TbsSkinData* frame) {
    FControlsSkinned = controls && controls->Loaded;
    FFrameSkinned = frame && frame->Loaded;
    QString sheet;
    if (FControlsSkinned)
        sheet += controls->StyleSheet;
    if (FFrameSkinned)
        sheet += QLatin1Char('\n') + frame->StyleSheet;
    FWindow->setStyleSheet(sheet);
    FWindow->setPalette(FFrameSkinned && frame->Palette ? *frame->Palette : QApplication::palette());
    if (FFrameSkinned && frame->FrameMinWidth > FWindow->minimumWidth() && FWindow->minimumWidth() == 0)
        FWindow->setMinimumWidth(frame->FrameMinWidth);
}
