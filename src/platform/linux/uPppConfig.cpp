#include "platform/linux/uPppConfig.h"

#include "platform/linux/uAtScanner.h"

#include "util/libStrUtilsQmPack.h"

#include <algorithm>
#include <array>
#include <set>

namespace qm::ppp {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}
bool IsOctal(char c) {
    return c >= '0' && c <= '7';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

std::vector<std::string> SplitOptionWords(std::string_view text) {
    std::vector<std::string> words;
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        while (i < n && IsBlank(text[i]))
            ++i;
        if (i >= n)
            break;
        if (text[i] == '#') {
            while (i < n && text[i] != '\n')
                ++i;
            continue;
        }
        std::string word;
        char quote = 0;
        while (i < n) {
            const char c = text[i];
            if (!quote && IsBlank(c))
                break;
            ++i;
            if (c == '\\') {
                if (i >= n)
                    break;
                const char e = text[i++];
                switch (e) {
                case '\n':
                    break; // continuation
                case 'a':
                    word += '\a';
                    break;
                case 'b':
                    word += '\b';
                    break;
                case 'f':
                    word += '\f';
                    break;
                case 'n':
                    word += '\n';
                    break;
                case 'r':
                    word += '\r';
                    break;
                case 's':
                    word += ' ';
                    break;
                case 't':
                    word += '\t';
                    break;
                case 'v':
                    word += '\v';
                    break;
                case 'x': {
                    int v = 0, digits = 0;
                    while (digits < 2 && i < n && HexDigitValue(text[i]) >= 0)
                        v = v * 16 + HexDigitValue(text[i++]), ++digits;
                    word += digits ? static_cast<char>(v) : 'x';
                    break;
                }
                default:
                    if (IsOctal(e)) {
                        int v = e - '0', digits = 1;
                        while (digits < 3 && i < n && IsOctal(text[i]))
                            v = v * 8 + (text[i++] - '0'), ++digits;
                        word += static_cast<char>(v);
                    } else {
                        word += e;
                    }
                }
                continue;
            }
            if (quote && c == quote) {
                quote = 0;
                continue;
            }
            if (!quote && (c == '"' || c == '\'')) {
                quote = c;
                continue;
            }
            word += c;
        }
        words.push_back(std::move(word));
    }
    return words;
}

std::vector<std::string> SplitShellWords(std::string_view command) {
    std::vector<std::string> words;
    std::size_t i = 0;
    const std::size_t n = command.size();
    while (i < n) {
        while (i < n && (command[i] == ' ' || command[i] == '\t'))
            ++i;
        if (i >= n || command[i] == ';' || command[i] == '|' || command[i] == '&' || command[i] == '\n')
            break;
        std::string word;
        bool any = false;
        while (i < n) {
            const char c = command[i];
            if (c == ' ' || c == '\t' || c == ';' || c == '|' || c == '&' || c == '\n')
                break;
            any = true;
            ++i;
            if (c == '\\') {
                if (i < n && command[i] != '\n')
                    word += command[i];
                ++i;
            } else if (c == '\'') {
                while (i < n && command[i] != '\'')
                    word += command[i++];
                ++i;
            } else if (c == '"') {
                while (i < n && command[i] != '"') {
                    if (command[i] == '\\' && i + 1 < n &&
                        std::string_view("$`\"\\\n").find(command[i + 1]) != std::string_view::npos) {
                        if (command[i + 1] != '\n')
                            word += command[i + 1];
                        i += 2;
                        continue;
                    }
                    word += command[i++];
                }
                ++i;
            } else {
                word += c;
            }
        }
        if (any)
            words.push_back(std::move(word));
    }
    // Redirections ("2>/dev/null", "> file", "<file") are the shell's, not the program's.
    std::vector<std::string> out;
    for (std::size_t k = 0; k < words.size(); ++k) {
        const std::string& w = words[k];
        std::size_t p = 0;
        while (p < w.size() && IsDigit(w[p]))
            ++p;
        if (p < w.size() && (w[p] == '<' || w[p] == '>')) {
            const std::size_t rest = w.find_first_not_of("<>&", p);
            if (rest == std::string::npos)
                ++k; // the target is the next word
            continue;
        }
        out.push_back(w);
    }
    return out;
}

std::vector<std::string> SplitChatScript(std::string_view text) {
    std::vector<std::string> tokens;
    for (const std::string& line : SplitLines(text)) {
        if (!line.empty() && line[0] == '#')
            continue;
        std::size_t i = 0;
        while (i < line.size()) {
            if (line[i] == ' ' || line[i] == '\t') {
                ++i;
                continue;
            }
            std::string token;
            if (line[i] == '"' || line[i] == '\'') {
                const char quote = line[i++];
                while (i < line.size() && line[i] != quote) {
                    if (line[i] == '\\' && i + 1 < line.size())
                        token += line[i++];
                    token += line[i++];
                }
                ++i;
            } else {
                while (i < line.size() && line[i] != ' ' && line[i] != '\t')
                    token += line[i++];
            }
            tokens.push_back(std::move(token));
        }
    }
    return tokens;
}

std::string CleanChatSend(std::string_view text, const std::string& phone, const std::string& phone2) {
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i++];
        if (c == '^' && i < text.size()) {
            const char x = text[i++];
            out += x == '?' ? '\x7F' : static_cast<char>(x & 0x1F);
            continue;
        }
        if (c != '\\') {
            out += c;
            continue;
        }
        if (i >= text.size()) {
            out += '\\';
            break;
        }
        const char e = text[i++];
        switch (e) {
        case 'T':
            out += phone;
            break;
        case 'U':
            out += phone2;
            break;
        case 'd':
        case 'p':
        case 'K':
        case 'c':
        case 'q':
        case 'N':
            break;
        case 'b':
            out += '\b';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 's':
            out += ' ';
            break;
        case 't':
            out += '\t';
            break;
        case '\\':
            out += '\\';
            break;
        case '^':
            out += '^';
            break;
        default:
            if (IsOctal(e)) {
                int v = e - '0', digits = 1;
                while (digits < 3 && i < text.size() && IsOctal(text[i]))
                    v = v * 8 + (text[i++] - '0'), ++digits;
                out += static_cast<char>(v);
            } else {
                out += '\\';
                out += e;
            }
        }
    }
    return out;
}

std::optional<std::string> DialStringOfAtCommand(std::string_view line) {
    // The same scanner reads the service's live command lines, so the phone book and the modem
    // proxy agree on what a line dials.
    const TAtLine scanned = ::ScanAtLine(line);
    if (scanned.Dials.empty())
        return std::nullopt;
    const TAtDial& dial = scanned.Dials.front();
    if (!dial.Known)
        return std::string(); // a redial, a stored number or no digits at all
    std::size_t i = 0;
    const std::string& text = dial.DialString;
    while (i < text.size() &&
           (text[i] == ' ' || text[i] == '\t' || UpperAscii(text[i]) == 'T' || UpperAscii(text[i]) == 'P'))
        ++i; // the dial method is no part of the number
    return Trim(text.substr(i));
}

TChatCall ParseConnectCommand(std::string_view command) {
    TChatCall call;
    std::vector<std::string> words = SplitShellWords(command);
    std::size_t i = 0;
    // "exec", "env" and variable assignments may stand before the program.
    while (i < words.size() &&
           (words[i] == "exec" || words[i] == "env" || words[i].ends_with("/env") ||
            (words[i].find('=') != std::string::npos && words[i][0] != '=' && words[i][0] != '-')))
        ++i;
    if (i >= words.size())
        return call;
    const std::string& program = words[i];
    const auto slash = program.find_last_of('/');
    if ((slash == std::string::npos ? program : program.substr(slash + 1)) != "chat")
        return call;
    call.IsChat = true;
    ++i;
    // chat's options: flags may be combined ("-vf FILE"); a value follows in the same word or the next.
    while (i < words.size() && words[i].size() > 1 && words[i][0] == '-') {
        const std::string word = words[i++];
        if (word == "--")
            break;
        for (std::size_t k = 1; k < word.size(); ++k) {
            const char o = word[k];
            if (o == 'f' || o == 'r' || o == 't' || o == 'T' || o == 'U') {
                std::string value = word.substr(k + 1);
                if (value.empty() && i < words.size())
                    value = words[i++];
                if (o == 'f')
                    call.ScriptFile = value;
                else if (o == 'T')
                    call.Phone = value;
                else if (o == 'U')
                    call.Phone2 = value;
                break;
            }
        }
    }
    call.InlineScript.assign(words.begin() + static_cast<std::ptrdiff_t>(i), words.end());
    return call;
}

std::string DialedNumberOfChatScript(const std::vector<std::string>& tokens, const std::string& phone,
                                     const std::string& phone2) {
    static const std::set<std::string> keywords = {"ABORT",   "CLR_ABORT", "REPORT", "CLR_REPORT",
                                                   "TIMEOUT", "ECHO",      "HANGUP", "SAY"};
    // Tokens alternate expect, send; a keyword in the expect place takes the send place as its value.
    for (std::size_t i = 0; i + 1 < tokens.size(); i += 2) {
        if (keywords.count(tokens[i]))
            continue;
        if (const auto dial = DialStringOfAtCommand(CleanChatSend(tokens[i + 1], phone, phone2)))
            return *dial;
    }
    return {};
}

bool OptionTakesValue(std::string_view option) {
    static const std::set<std::string, std::less<>> withValue = {"active-filter",
                                                                 "asyncmap",
                                                                 "call",
                                                                 "chap-interval",
                                                                 "chap-max-challenge",
                                                                 "chap-restart",
                                                                 "chapms-strip-domain",
                                                                 "connect",
                                                                 "connect-delay",
                                                                 "demand-filter",
                                                                 "disconnect",
                                                                 "domain",
                                                                 "eap-interval",
                                                                 "eap-max-rreq",
                                                                 "eap-max-sreq",
                                                                 "eap-restart",
                                                                 "eap-timeout",
                                                                 "escape",
                                                                 "file",
                                                                 "holdoff",
                                                                 "idle",
                                                                 "init",
                                                                 "ipcp-accept-local",
                                                                 "ipcp-max-configure",
                                                                 "ipcp-max-failure",
                                                                 "ipcp-max-terminate",
                                                                 "ipcp-restart",
                                                                 "ipparam",
                                                                 "ipv6",
                                                                 "ipv6cp-max-configure",
                                                                 "ipv6cp-max-failure",
                                                                 "ipv6cp-max-terminate",
                                                                 "ipv6cp-restart",
                                                                 "ipx-network",
                                                                 "ifname",
                                                                 "kdebug",
                                                                 "lcp-echo-failure",
                                                                 "lcp-echo-interval",
                                                                 "lcp-max-configure",
                                                                 "lcp-max-failure",
                                                                 "lcp-max-terminate",
                                                                 "lcp-restart",
                                                                 "linkname",
                                                                 "logfd",
                                                                 "logfile",
                                                                 "maxconnect",
                                                                 "maxfail",
                                                                 "modem_chat",
                                                                 "mru",
                                                                 "ms-dns",
                                                                 "ms-wins",
                                                                 "mtu",
                                                                 "name",
                                                                 "netmask",
                                                                 "pap-max-authreq",
                                                                 "pap-restart",
                                                                 "pap-timeout",
                                                                 "pass-filter",
                                                                 "password",
                                                                 "plugin",
                                                                 "pty",
                                                                 "record",
                                                                 "remotename",
                                                                 "remotenumber",
                                                                 "socket",
                                                                 "unit",
                                                                 "user",
                                                                 "welcome",
                                                                 "nic-eth0",
                                                                 "pppoe-service",
                                                                 "rp_pppoe_service",
                                                                 "rp_pppoe_ac",
                                                                 "rp_pppoe_sess"};
    return withValue.count(option) != 0;
}

namespace {

// A section's lookup key: lower case, and "Dialer" with any run of blanks before the name taken as
// one blank, so "[Dialer<TAB>work]" and "[Dialer  work]" are the dialer "work" in every lookup.
std::string SectionKey(const std::string& name) {
    const std::string lower = LowerAscii(name);
    if (lower.size() > 6 && lower.starts_with("dialer") && IsBlank(lower[6])) {
        const std::string dialer = Trim(lower.substr(7));
        if (!dialer.empty())
            return "dialer " + dialer;
    }
    return lower;
}

} // namespace

TWvdialConf ParseWvdialConf(std::string_view text) {
    TWvdialConf conf;
    std::map<std::string, std::string>* current = nullptr;
    for (const std::string& raw : SplitLines(text)) {
        const std::string line = Trim(raw);
        if (line.empty() || line[0] == '#' || line[0] == ';')
            continue;
        if (line[0] == '[') {
            const auto end = line.find(']');
            const std::string name =
                Trim(line.substr(1, end == std::string::npos ? std::string::npos : end - 1));
            const std::string key = SectionKey(name);
            if (!conf.Sections.count(key))
                conf.SectionNames.push_back(name);
            current = &conf.Sections[key];
            continue;
        }
        const auto eq = line.find('=');
        if (!current || eq == std::string::npos)
            continue;
        (*current)[LowerAscii(Trim(line.substr(0, eq)))] = Trim(line.substr(eq + 1));
    }
    return conf;
}

namespace {

bool IsDialerSection(const std::string& name, std::string& dialer) {
    if (name.size() < 7 || LowerAscii(name.substr(0, 6)) != "dialer" || !IsBlank(name[6]))
        return false;
    dialer = Trim(name.substr(7));
    return !dialer.empty();
}

} // namespace

std::vector<std::string> WvdialDialers(const TWvdialConf& conf) {
    std::vector<std::string> out;
    for (const std::string& name : conf.SectionNames) {
        std::string dialer;
        if (IsDialerSection(name, dialer) && !SameText(dialer, "Defaults"))
            out.push_back(dialer);
    }
    return out;
}

bool HasWvdialDialer(const TWvdialConf& conf, const std::string& dialer) {
    return !SameText(dialer, "Defaults") && conf.Sections.count(SectionKey("dialer " + dialer)) != 0;
}

std::optional<std::string> WvdialValue(const TWvdialConf& conf, const std::string& dialer,
                                       const std::string& key) {
    const std::string wanted = LowerAscii(key);
    std::set<std::string> seen; // an inheritance loop ends where it closes
    std::string section = SectionKey("dialer " + dialer);
    while (!section.empty() && seen.insert(section).second) {
        const auto it = conf.Sections.find(section);
        if (it == conf.Sections.end())
            break;
        const auto value = it->second.find(wanted);
        if (value != it->second.end())
            return value->second;
        const auto inherits = it->second.find("inherits");
        if (inherits == it->second.end())
            break;
        // Written as the section ("Dialer shh") or as the dialer's name alone ("shh").
        const std::string target = SectionKey(inherits->second);
        section = target.starts_with("dialer ") ? target : SectionKey("dialer " + target);
    }
    const auto defaults = conf.Sections.find("dialer defaults");
    if (defaults != conf.Sections.end()) {
        const auto value = defaults->second.find(wanted);
        if (value != defaults->second.end())
            return value->second;
    }
    return std::nullopt;
}

} // namespace qm::ppp
