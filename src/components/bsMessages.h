#pragma once
// TbsSkinMessage: the program's message box. Every error, warning, information and question goes
// through ShowMessageBox, which builds a TbsMessageForm sized to the message (uMessageLayout), shows
// it modally in the program's skins, frees it and returns the result of the button that closed it.
#include "components/bsSkinData.h"
#include "components/uMessageLayout.h"

#include <QDialog>
#include <QFont>
#include <QObject>
#include <QPointer>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QPushButton;

// One box, built for one call. Enter presses the default button, Escape the cancel button; closing
// the box any other way gives mrCancel.
class TbsMessageForm : public QDialog {
    Q_OBJECT

public:
    explicit TbsMessageForm(QWidget* parent = nullptr);

    // Adds a button of the table; Help calls onHelp and leaves the box open, any other closes the
    // box with its result.
    QPushButton* AddButton(const TMessageButtonInfo& info, const std::function<void()>& onHelp);
    void SetCancelButton(QPushButton* button) { FCancelButton = button; }

public slots:
    void reject() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    std::vector<QPushButton*> FButtons;
    QPushButton* FCancelButton = nullptr;
};

class TbsSkinMessage : public QObject {
    Q_OBJECT

public:
    explicit TbsSkinMessage(QObject* parent = nullptr);

    // Published properties.
    bool AlphaBlend = false;
    std::uint8_t AlphaBlendValue = 0;
    // The frame skin (the main window's dialog skin) and the control skin; a destroyed skin object
    // clears the reference.
    QPointer<TbsSkinData> SkinData;
    QPointer<TbsSkinData> CtrlSkinData;
    std::string ButtonSkinDataName = "button";
    std::string MessageLabelSkinDataName = "stdlabel";
    QFont DefaultFont;
    QFont DefaultButtonFont;
    bool UseSkinFont = true;

    void SetAlphaBlend(bool value) { AlphaBlend = value; }
    void SetAlphaBlendValue(std::uint8_t value) { AlphaBlendValue = value; }
    void SetSkinData(TbsSkinData* value) { SkinData = value; }
    void SetCtrlSkinData(TbsSkinData* value) { CtrlSkinData = value; }
    void SetButtonSkinDataName(const std::string& value) { ButtonSkinDataName = value; }
    void SetMessageLabelSkinDataName(const std::string& value) { MessageLabelSkinDataName = value; }
    void SetDefaultFont(const QFont& value) { DefaultFont = value; }
    void SetDefaultButtonFont(const QFont& value) { DefaultButtonFont = value; }
    void SetUseSkinFont(bool value) { UseSkinFont = value; }

    // What the Help button opens; the box stays open. The help context is always 0, so none is
    // passed.
    std::function<void()> OnHelp;

    // Shows the box modally and returns the result of the button pressed (mrCancel when the box
    // was closed another way). The help context is not used.
    int ShowMessageBox(const std::string& text, int kind, unsigned buttons, int helpContext = 0);

    // The parts of the box as this object would build it now (skins and fonts applied).
    int ButtonHeight() const;
    int FrameMinWidth() const;
    QFont MessageFont() const;
    QFont ButtonFont() const;

    // Called with every box once it is on the screen; lets tests and tools drive the modal box.
    static std::function<void(QDialog*)> OnBoxShown;

private:
    bool ControlSkinLoaded() const;
    void Build(TbsMessageForm& form, const std::string& text, int kind, unsigned buttons) const;
};
