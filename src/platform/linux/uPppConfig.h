#pragma once
// The file formats of the Linux dial-up phone book: pppd option files (/etc/ppp/peers/NAME and
// what they include), the chat scripts their connect command runs, the AT command that dials, and
// wvdial's /etc/wvdial.conf. Parsing only; no files are read here.
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm::ppp {

// The words of a pppd option file: blanks separate, "#" at the start of a word comments to the end
// of the line, '...' and "..." quote, backslash escapes (\n \t \r \s \a \b \f \v, \xHH, octal,
// backslash-newline continues) work inside and outside quotes.
std::vector<std::string> SplitOptionWords(std::string_view text);

// The words of the first simple command of a shell command line (sh quoting), ending at an
// unquoted ; | & or newline; redirections are dropped.
std::vector<std::string> SplitShellWords(std::string_view command);

// The tokens of a chat script file: lines starting with "#" are comments; a token is a quoted
// string ('...' or "...", its backslash escapes kept for later) or a run of non-blanks.
std::vector<std::string> SplitChatScript(std::string_view text);

// chat's escape processing of a string it sends, with \T and \U replaced by the phone numbers;
// the pauses and controls that send nothing (\d \p \K \c \q \N) are dropped.
std::string CleanChatSend(std::string_view text, const std::string& phone, const std::string& phone2);

// The dial string of an AT command line ("ATX3DT0202122" gives "0202122", blanks trimmed);
// an empty text when it dials no number of its own (ATDL, ATDS=n, ATD>n); nothing when the line
// is not an AT command with a dial in it ("AT&D2", "ATZ"). Scanned by ScanAtLine; the text is the
// dial string as written, for the user, not the digits only.
std::optional<std::string> DialStringOfAtCommand(std::string_view line);

// What a chat command line is asked to do.
struct TChatCall {
    bool IsChat = false;       // the command runs chat
    std::string ScriptFile;    // -f
    std::string Phone, Phone2; // -T, -U
    std::vector<std::string> InlineScript;
};
TChatCall ParseConnectCommand(std::string_view command);

// The number a chat script dials: the first send string that is an AT dial. An empty text when
// there is none.
std::string DialedNumberOfChatScript(const std::vector<std::string>& tokens, const std::string& phone,
                                     const std::string& phone2);

// Does the pppd option take a value (the next word)? Needed to keep the words aligned.
bool OptionTakesValue(std::string_view option);

// wvdial.conf: section and key names compare without letter case; values are trimmed.
struct TWvdialConf {
    std::vector<std::string> SectionNames;                              // as first written, in file order
    std::map<std::string, std::map<std::string, std::string>> Sections; // lower-cased names
};
TWvdialConf ParseWvdialConf(std::string_view text);
// The dialer names ("NAME" of "[Dialer NAME]"), without "Defaults".
std::vector<std::string> WvdialDialers(const TWvdialConf& conf);
bool HasWvdialDialer(const TWvdialConf& conf, const std::string& dialer);
// The value of key for the dialer as wvdial merges it: the dialer's own section, then the
// sections it inherits from ("Inherits"), then "Dialer Defaults". Nothing when no section has it.
std::optional<std::string> WvdialValue(const TWvdialConf& conf, const std::string& dialer,
                                       const std::string& key);

} // namespace qm::ppp
