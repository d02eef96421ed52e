#pragma once
// The main window's message box as a port: the program shows every message through it, and tests
// give the window one that records the questions and answers them.
#include "components/bsMessages.h"

#include <string>

class IMessageBoxPort {
public:
    virtual ~IMessageBoxPort() = default;
    virtual int ShowMessageBox(const std::string& text, int kind, unsigned buttons) = 0;
    // The frame skin (dialog.in1) and the control skin (skin.ini) of the boxes to come.
    virtual void SetSkins(TbsSkinData* frame, TbsSkinData* controls) = 0;
};

// The skinned message box of the components.
class TSkinMessageBoxPort : public IMessageBoxPort {
public:
    explicit TSkinMessageBoxPort(QObject* owner) : FBox(owner) {}
    int ShowMessageBox(const std::string& text, int kind, unsigned buttons) override {
        return FBox.ShowMessageBox(text, kind, buttons);
    }
    void SetSkins(TbsSkinData* frame, TbsSkinData* controls) override {
        FBox.SkinData = frame;
        FBox.CtrlSkinData = controls;
    }
    TbsSkinMessage& Box() { return FBox; }

private:
    TbsSkinMessage FBox;
};
