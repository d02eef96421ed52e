#include "components/uMessageLayout.h"

#include "util/libStrUtilsQmPack.h"

#include <algorithm>

unsigned DefaultButtonOf(unsigned buttons) {
    for (unsigned bit : {mbOK, mbYes, mbRetry}) {
        if ((buttons & bit) != 0)
            return bit;
    }
    return 0;
}

unsigned CancelButtonOf(unsigned buttons) {
    for (unsigned bit : {mbCancel, mbNo, mbOK}) {
        if ((buttons & bit) != 0)
            return bit;
    }
    return 0;
}

std::string MessageKindTitle(int kind) {
    switch (kind) {
    case mtWarning:
        return "Ostrzeżenie";
    case mtError:
        return "Błąd";
    case mtInformation:
        return "Informacja";
    case mtConfirmation:
        return "Potwierdzenie";
    default:
        return {};
    }
}

std::vector<std::string> SplitMessageLines(std::string_view text) {
    std::vector<std::string> lines = qm::SplitLines(text);
    if (lines.empty())
        lines.emplace_back();
    return lines;
}

TMessageBoxGeometry ComputeMessageBoxGeometry(const TMessageBoxMetrics& metrics) {
    TMessageBoxGeometry geometry;
    const unsigned buttons = metrics.Buttons & kAllMessageButtons;
    const int buttonHeight = std::max(0, metrics.ButtonHeight);
    const int labelWidth = std::max(0, metrics.LabelWidth);
    const int labelHeight = std::max(0, metrics.LabelHeight);

    int count = 0;
    for (const TMessageButtonInfo& info : kMessageButtons) {
        if ((buttons & info.Bit) != 0)
            ++count;
    }
    geometry.ButtonHeight = buttonHeight;
    geometry.RowWidth = count == 0 ? 0 : count * kMessageButtonWidth + (count - 1) * kMessageButtonGap;
    geometry.Image = {5, 5, 32, 32};
    geometry.Label = {50, 10, labelWidth, labelHeight};
    geometry.ClientHeight = buttonHeight + labelHeight + 35;
    geometry.ContentClientWidth = std::max(geometry.RowWidth, 50 + labelWidth) + 40;

    const int frameWidth = std::max(0, metrics.FrameWidth);
    int windowWidth = geometry.ContentClientWidth + frameWidth;
    if (metrics.WorkAreaWidth > 0 && windowWidth > metrics.WorkAreaWidth)
        windowWidth = metrics.WorkAreaWidth;
    else if (windowWidth < metrics.FrameMinWidth)
        windowWidth = metrics.FrameMinWidth;
    geometry.WindowWidth = windowWidth;
    geometry.ClientWidth = std::max(0, windowWidth - frameWidth);

    const int top = geometry.ClientHeight - buttonHeight - 10;
    int left = (geometry.ClientWidth - geometry.RowWidth) / 2;
    for (const TMessageButtonInfo& info : kMessageButtons) {
        if ((buttons & info.Bit) == 0)
            continue;
        geometry.ButtonPlaces.push_back({info.Bit, {left, top, kMessageButtonWidth, buttonHeight}});
        left += kMessageButtonWidth + kMessageButtonGap;
    }
    return geometry;
}
