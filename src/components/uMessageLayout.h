#pragma once
// The message box's vocabulary and sizing rule, free of any toolkit: the kinds, the button set and
// its results, the default and cancel buttons, and where every part of the box goes. The widget
// (bsMessages) measures the text and the screen and places what this computes.
#include <array>
#include <string>
#include <string_view>
#include <vector>

// Message kinds.
inline constexpr int mtWarning = 0;
inline constexpr int mtError = 1;
inline constexpr int mtInformation = 2;
inline constexpr int mtConfirmation = 3;
inline constexpr int mtCustom = 4;

// Buttons, one bit each; the bit order is the order of the buttons from left to right.
inline constexpr unsigned mbYes = 1u << 0;
inline constexpr unsigned mbNo = 1u << 1;
inline constexpr unsigned mbOK = 1u << 2;
inline constexpr unsigned mbCancel = 1u << 3;
inline constexpr unsigned mbAbort = 1u << 4;
inline constexpr unsigned mbRetry = 1u << 5;
inline constexpr unsigned mbIgnore = 1u << 6;
inline constexpr unsigned mbAll = 1u << 7;
inline constexpr unsigned mbNoToAll = 1u << 8;
inline constexpr unsigned mbYesToAll = 1u << 9;
inline constexpr unsigned mbHelp = 1u << 10;
inline constexpr unsigned mbYesNoCancel = mbYes | mbNo | mbCancel;
inline constexpr unsigned mbOKCancel = mbOK | mbCancel;

// Results.
inline constexpr int mrNone = 0;
inline constexpr int mrOk = 1;
inline constexpr int mrCancel = 2;
inline constexpr int mrAbort = 3;
inline constexpr int mrRetry = 4;
inline constexpr int mrIgnore = 5;
inline constexpr int mrYes = 6;
inline constexpr int mrNo = 7;
inline constexpr int mrAll = 8;
inline constexpr int mrNoToAll = 9;
inline constexpr int mrYesToAll = 10;

struct TMessageButtonInfo {
    unsigned Bit;
    std::string_view Name;
    // "&" marks the accelerator letter.
    std::string_view Caption;
    // mrNone: the button does not close the box.
    int Result;
};

inline constexpr std::array<TMessageButtonInfo, 11> kMessageButtons{{
    {mbYes, "Yes", "&Tak", mrYes},
    {mbNo, "No", "&Nie", mrNo},
    {mbOK, "OK", "OK", mrOk},
    {mbCancel, "Cancel", "Anuluj", mrCancel},
    {mbAbort, "Abort", "&Abort", mrAbort},
    {mbRetry, "Retry", "&Retry", mrRetry},
    {mbIgnore, "Ignore", "&Ignore", mrIgnore},
    {mbAll, "All", "&All", mrAll},
    {mbNoToAll, "NoToAll", "N&oToAll", mrNoToAll},
    {mbYesToAll, "YesToAll", "&YesToAll", mrYesToAll},
    {mbHelp, "Help", "&Pomoc", mrNone},
}};

inline constexpr unsigned kAllMessageButtons = (mbHelp << 1) - 1;

// The button that Enter presses: OK, else Yes, else Retry; 0 when the set has none of them.
unsigned DefaultButtonOf(unsigned buttons);
// The button that Escape presses: Cancel, else No, else OK; 0 when the set has none of them.
unsigned CancelButtonOf(unsigned buttons);
// The box's title for a kind; empty for mtCustom (and any unknown kind), which takes the
// application's title.
std::string MessageKindTitle(int kind);
// The message's lines: broken at CR LF, a lone CR and a lone LF. An empty text is one blank line,
// so that the box keeps the height of one line.
std::vector<std::string> SplitMessageLines(std::string_view text);

struct TMessageRect {
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;

    bool operator==(const TMessageRect&) const = default;
};

// What the sizing rule is computed from.
struct TMessageBoxMetrics {
    unsigned Buttons = 0;
    // Button height H: the control skin's button height, 25 without one.
    int ButtonHeight = 25;
    // The message label's size as measured in its font.
    int LabelWidth = 0;
    int LabelHeight = 0;
    // Width of the desktop work area.
    int WorkAreaWidth = 0;
    // The frame's minimum width: the skin's frame picture width, 120 without a skin.
    int FrameMinWidth = 120;
    // Window width minus client width: what a frame drawn inside the window takes. The window
    // manager's decorations lie outside the window, so 0 for an unskinned box.
    int FrameWidth = 0;
};

struct TMessageButtonPlace {
    unsigned Bit = 0;
    TMessageRect Rect;

    bool operator==(const TMessageButtonPlace&) const = default;
};

struct TMessageBoxGeometry {
    int ButtonHeight = 0;
    // Row width W of all buttons with their gaps.
    int RowWidth = 0;
    // Client size as the rule computes it from the content, before the window width is fitted.
    int ContentClientWidth = 0;
    int ClientHeight = 0;
    // The window width after cutting to the work area or raising to the minimum, and the client
    // width that it leaves; the buttons are centred in the latter.
    int WindowWidth = 0;
    int ClientWidth = 0;
    TMessageRect Image;
    TMessageRect Label;
    std::vector<TMessageButtonPlace> ButtonPlaces;
};

inline constexpr int kMessageButtonWidth = 60;
inline constexpr int kMessageButtonGap = 10;
inline constexpr int kMessageDefaultButtonHeight = 25;
inline constexpr int kMessageDefaultMinWidth = 120;

TMessageBoxGeometry ComputeMessageBoxGeometry(const TMessageBoxMetrics& metrics);
