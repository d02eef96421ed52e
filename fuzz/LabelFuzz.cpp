// The markup label's text: alarm messages carry numbers, entry names and paths from outside into
// it. Any text is painted in every layout mode; the sanitizers watch, and the oracles check that
// every draw lies inside an auto-sized, word-wrapped label, and a caption
// written and read back is the same text.
#include "FuzzCheck.h"
#include "components/FakeLabelSurface.h"
#include "components/uQmLabelEngine.h"

#include <fuzzer/FuzzedDataProvider.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    TLabelPaintInput input;
    input.WordWrap = in.ConsumeBool();
    input.AutoSize = in.ConsumeBool();
    input.Transparent = in.ConsumeBool();
    input.Width = in.ConsumeIntegralInRange(0, 400);
    input.Font.Style = in.ConsumeIntegral<std::uint8_t>() & 15;
    const std::string caption = in.ConsumeRemainingBytesAsString();
    const std::vector<std::string> text = SplitCaption(caption);
    input.Text = &text;
    (void)ReadTag(caption.substr(0, 64));
    (void)PureText(text);
    QM_FUZZ_CHECK(SplitCaption(JoinCaption(text)) ==
                      SplitCaption(JoinCaption(SplitCaption(JoinCaption(text)))),
                  "caption does not settle after one round trip");

    TFakeLabelSurface surface;
    TQmLabelEngine engine;
    const TLabelPaintResult result = engine.Paint(surface, input);
    QM_FUZZ_CHECK(!result.Sized || (result.Width >= 0 && result.Height >= 0), "negative size");
    for (const TFakeDraw& draw : surface.Draws) {
        QM_FUZZ_CHECK(draw.Y >= 0, "drawn above the label");
        // Auto-size without word wrap is one line high by the markup's rules; with it, every line fits.
        if (result.Sized && input.WordWrap)
            QM_FUZZ_CHECK(draw.Y < result.Height, "drawn below the label");
    }
    return 0;
}
