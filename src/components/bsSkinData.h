#pragma once
// A loaded skin as the widgets consume it. The main window owns two: the control skin (from a skin
// folder's skin.ini) and the dialog-frame skin (from its dialog.in1). A default-constructed object
// is "no skin": every widget then keeps the plain look. Widgets that refer to a skin hold a
// QPointer, so a destroyed skin object clears their reference.
#include <QFont>
#include <QObject>
#include <QPalette>
#include <QString>

#include <optional>

class TbsSkinData : public QObject {
public:
    explicit TbsSkinData(QObject* parent = nullptr) : QObject(parent) {}

    // True once a complete skin description was loaded into this object.
    bool Loaded = false;
    // Style sheet for a whole window and its controls (control skin), or for a dialog's frame
    // (dialog skin).
    QString StyleSheet;
    std::optional<QPalette> Palette;
    // Height of the skin's "button" object; 0 = the skin defines none.
    int ButtonHeight = 0;
    // Width of the frame picture, the narrowest a skinned dialog may be; 0 = none.
    int FrameMinWidth = 0;
    std::optional<QFont> ButtonFont;
    // Font of the "stdlabel" object, used for message texts.
    std::optional<QFont> LabelFont;

    void Clear() {
        Loaded = false;
        StyleSheet.clear();
        Palette.reset();
        ButtonHeight = 0;
        FrameMinWidth = 0;
        ButtonFont.reset();
        LabelFont.reset();
    }
};
