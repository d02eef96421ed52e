// The phone book's formats as a user or a package may write them: pppd option files, shell
// command lines of "connect", chat scripts and their send strings, AT command lines, wvdial.conf.
// The first byte picks the parser. Oracles where the format gives one: a dialer that wvdial.conf
// lists is found by its name, and a dial string is trimmed.
#include "FuzzCheck.h"
#include "platform/linux/uAtScanner.h"
#include "platform/linux/uPppConfig.h"
#include "util/libStrUtilsQmPack.h"

#include <string_view>

using namespace qm::ppp;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 6) {
    case 0:
        for (const std::string& word : SplitOptionWords(text))
            (void)OptionTakesValue(word);
        break;
    case 1: {
        const TChatCall call = ParseConnectCommand(text);
        (void)DialedNumberOfChatScript(call.InlineScript, call.Phone, call.Phone2);
        break;
    }
    case 2: {
        const auto tokens = SplitChatScript(text);
        const std::string number = DialedNumberOfChatScript(tokens, "0202122", "\\T");
        QM_FUZZ_CHECK(number.size() <= text.size() * 8 + 64, "dial string out of proportion");
        break;
    }
    case 3:
        (void)CleanChatSend(text, "12", "34");
        if (const auto dial = DialStringOfAtCommand(text))
            QM_FUZZ_CHECK(qm::Trim(*dial) == *dial, "dial string not trimmed");
        break;
    case 4: {
        const TWvdialConf conf = ParseWvdialConf(text);
        for (const std::string& dialer : WvdialDialers(conf)) {
            QM_FUZZ_CHECK(HasWvdialDialer(conf, dialer), "a listed dialer is not found");
            (void)WvdialValue(conf, dialer, "Phone");
        }
        break;
    }
    default: {
        const TAtLine line = ScanAtLine(text, static_cast<char>(data[0]));
        for (const TAtDial& dial : line.Dials)
            QM_FUZZ_CHECK(dial.Known || dial.Number.empty(), "an unknown dial with a number");
        for (const bool verbose : {false, true})
            (void)ClassifyModemReply(text, verbose);
        break;
    }
    }
    return 0;
}
