#include "platform/linux/uAtScanner.h"

#include <cctype>

namespace {

char Up(char c) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads an optional decimal number at pos; returns -1 when there is none.
long ReadNumber(const std::string& s, std::size_t& pos) {
    long v = -1;
    while (pos < s.size() && (IsDigit(s[pos]) || s[pos] == ' ')) {
        if (s[pos] != ' ')
            v = (v < 0 ? 0 : v * 10) + (s[pos] - '0');
        ++pos;
        if (v > 100000)
            v = 100000;
    }
    return v;
}

// The dial string runs to the end of the line or to a ';', which returns to command mode.
TAtDial ScanDial(const std::string& s, std::size_t& pos) {
    TAtDial d;
    std::size_t start = pos;
    while (pos < s.size() && s[pos] != ';')
        ++pos;
    d.DialString = s.substr(start, pos - start);
    if (pos < s.size()) {
        ++pos; // the ';'
        d.Semicolon = true;
    }
    bool stored = false;
    bool first = true;
    for (std::size_t i = 0; i < d.DialString.size(); ++i) {
        char c = Up(d.DialString[i]);
        if (c == ' ')
            continue;
        if (first && (c == 'L' || c == 'S' || c == '>')) {
            stored = true; // DL, DS=n, DSn, D>name: numbers the modem keeps
            break;
        }
        first = false;
        if (IsDigit(c) || c == '*' || c == '#' || (c >= 'A' && c <= 'D'))
            d.Number += c;
        else if (c == '+' && d.Number.empty())
            d.Number += c;
        else if ((c == 'T' || c == 'P') && d.Number.empty()) {
            first = true; // a dial-method prefix may still precede L or S (DTL, DTS=1)
            continue;
        }
        // T, P, W, R, ',', '@', '!', '$', '-', '(', ')' and the like only shape the dialling.
    }
    if (stored)
        d.Number.clear();
    d.Known = !stored && !d.Number.empty() && d.Number != "+";
    if (!d.Known)
        d.Number.clear();
    return d;
}

} // namespace

TAtLine ScanAtLine(std::string_view raw, char backspace) {
    std::string s;
    for (char c : raw) {
        if (c == backspace) {
            if (!s.empty())
                s.pop_back();
        } else if (c != '\n' && c != '\r') {
            s += c;
        }
    }
    TAtLine line;
    // Modems skip anything before the "AT" prefix.
    std::size_t pos = 0;
    for (;; ++pos) {
        pos = s.find_first_of("aA", pos);
        if (pos == std::string::npos || pos + 1 >= s.size())
            return line;
        char next = s[pos + 1];
        if (next == '/') {
            line.IsCommand = line.Repeat = true;
            return line;
        }
        if (Up(next) == 'T')
            break;
    }
    line.IsCommand = true;
    pos += 2;
    while (pos < s.size()) {
        char c = Up(s[pos++]);
        switch (c) {
        case ' ':
            break;
        case 'D':
            line.Dials.push_back(ScanDial(s, pos));
            break;
        case 'S': { // Sn=v, Sn?, S=? forms
            long reg = ReadNumber(s, pos);
            if (pos < s.size() && s[pos] == '=') {
                ++pos;
                if (pos < s.size() && s[pos] == '?') {
                    ++pos;
                    line.PrintsText = true;
                } else {
                    long value = ReadNumber(s, pos);
                    // "S=v" writes whichever register was named last, possibly on an earlier line.
                    line.Registers.push_back(
                        {reg < 0 ? kAtUnnamedRegister : static_cast<int>(reg), value < 0 ? 0 : value});
                }
            } else if (pos < s.size() && s[pos] == '?') {
                ++pos;
                line.PrintsText = true;
            }
            break;
        }
        case '&':
        case '\\':
        case '%':
        case '*':
        case '#':
        case '$':
        case '-':
        case ')': {
            if (c != '&')
                line.PrintsText = true;
            if (pos < s.size()) {
                char cmd = Up(s[pos++]);
                if (c == '&' && cmd == 'F') {
                    line.Reset = true, line.Echo.reset(), line.Verbose.reset(), line.Quiet.reset();
                    line.Registers.push_back({-1, 0});
                }
                if (c == '&' && (cmd == 'W' || cmd == 'Y'))
                    line.WritesProfile = true;
                if (c == '&' && cmd == 'V')
                    line.PrintsText = true;
                if (pos < s.size() && (s[pos] == '=' || s[pos] == '?')) {
                    // A value or a query; only digits are taken as its argument, so that a 'D'
                    // in whatever follows is still read as the dial it may be.
                    line.PrintsText = true;
                    ++pos;
                }
                ReadNumber(s, pos);
            }
            break;
        }
        case '+': { // +NAME... up to ';', quoted text skipped whole
            line.PrintsText = true;
            bool quoted = false;
            while (pos < s.size() && (quoted || s[pos] != ';')) {
                if (s[pos] == '"')
                    quoted = !quoted;
                ++pos;
            }
            if (pos < s.size())
                ++pos;
            break;
        }
        case 'E':
        case 'V':
        case 'Q': {
            bool on = ReadNumber(s, pos) > 0;
            (c == 'E' ? line.Echo : c == 'V' ? line.Verbose : line.Quiet) = on;
            break;
        }
        case 'H':
            if (ReadNumber(s, pos) <= 0)
                line.HangUp = true;
            break;
        case 'O':
            ReadNumber(s, pos);
            line.Online = true;
            break;
        case 'A':
            line.Answer = true;
            break;
        case '?':
            line.PrintsText = true;
            break;
        case 'Z':
            ReadNumber(s, pos);
            line.HangUp = true;
            line.Reset = true;
            line.Echo.reset();
            line.Verbose.reset();
            line.Quiet.reset();
            line.Registers.push_back({-1, 0});
            break;
        case 'I':
            ReadNumber(s, pos);
            line.PrintsText = true;
            break;
        default:
            if (c >= 'A' && c <= 'Z')
                ReadNumber(s, pos);
            else
                line.PrintsText = true; // not a command we know: the modem may answer anything
            break;
        }
    }
    return line;
}

TModemReply ClassifyModemReply(std::string_view raw, bool verbose) {
    std::string s;
    for (char c : raw)
        if (c != '\r' && c != '\n')
            s += Up(c);
    std::size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos)
        return TModemReply::mrNone;
    s = s.substr(b, s.find_last_not_of(' ') - b + 1);
    if (!verbose) {
        bool numeric = !s.empty();
        for (char c : s)
            numeric = numeric && IsDigit(c);
        if (numeric) {
            int v = std::stoi(s.size() > 4 ? "9999" : s);
            switch (v) {
            case 0:
                return TModemReply::mrOk;
            case 2:
                return TModemReply::mrRing;
            case 3:
                return TModemReply::mrNoCarrier;
            case 4:
                return TModemReply::mrError;
            case 6:
                return TModemReply::mrNoDialtone;
            case 7:
                return TModemReply::mrBusy;
            case 8:
                return TModemReply::mrNoAnswer;
            default:
                return v == 1 || v == 5 || v >= 9 ? TModemReply::mrConnect : TModemReply::mrNone;
            }
        }
    }
    auto starts = [&](std::string_view w) {
        return s.compare(0, w.size(), w) == 0;
    };
    if (s == "OK")
        return TModemReply::mrOk;
    if (starts("CONNECT"))
        return TModemReply::mrConnect;
    if (s == "RING" || starts("RING "))
        return TModemReply::mrRing;
    if (s == "NO CARRIER")
        return TModemReply::mrNoCarrier;
    if (s == "ERROR" || starts("+CME ERROR"))
        return TModemReply::mrError;
    if (s == "NO DIALTONE" || s == "NO DIAL TONE")
        return TModemReply::mrNoDialtone;
    if (s == "BUSY")
        return TModemReply::mrBusy;
    if (s == "NO ANSWER" || s == "DELAYED" || starts("BLACKLISTED"))
        return TModemReply::mrNoAnswer;
    return TModemReply::mrNone;
}

bool IsDialFailure(TModemReply reply) {
    return reply == TModemReply::mrNoCarrier || reply == TModemReply::mrError ||
           reply == TModemReply::mrNoDialtone || reply == TModemReply::mrBusy ||
           reply == TModemReply::mrNoAnswer;
}
