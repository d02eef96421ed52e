#pragma once
// TbsBusinessSkinForm: the skinned frame of a window. It dresses its window in the control skin
// (buttons, lists, check boxes ...) and, when one is loaded, in the dialog-frame skin; without a
// frame skin the window keeps the plain frame while its controls stay skinned.
#include "components/bsSkinData.h"

#include <QObject>
#include <QPointer>

class QWidget;

class TbsBusinessSkinForm : public QObject {
public:
    explicit TbsBusinessSkinForm(QWidget* window);
    void Apply(TbsSkinData* controls, TbsSkinData* frame);
    bool IsFrameSkinned() const { return FFrameSkinned; }
    bool AreControlsSkinned() const { return FControlsSkinned; }

private:
    QWidget* FWindow;
    bool FFrameSkinned = false;
    bool FControlsSkinned = false;
};
