#pragma once
// Reading Hayes AT command lines as a modem does, to find the dials in them, and classifying the
// modem's result codes. A line is what the host sent up to its CR, without the CR. The modem-port
// proxy of the hook service scans the live command stream with it; the phone book reads the dial of
// a chat script's send string with it (DialStringOfAtCommand), so both read a dial the same way.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct TAtDial {
    // The number in the dial string (digits, '+', '*', '#', A-D), or empty when the dial names no
    // number of its own: DL (the last number), DS=n and D> (stored numbers), a bare D.
    std::string Number;
    bool Known = false;
    std::string DialString; // as written, without the D
    bool Semicolon = false; // ended by ';': the modem returns to command mode at once
};

// An S-register write (Sn=v) in line order; Register -1 is a reset to the factory values (Z, &F).
inline constexpr int kAtUnnamedRegister = -2; // "S=v": the register named last

struct TAtRegisterWrite {
    int Register = 0;
    long Value = 0;
};

struct TAtLine {
    bool IsCommand = false; // an "AT" line (or "A/", which repeats the previous one)
    bool Repeat = false;    // "A/"
    std::vector<TAtDial> Dials;
    // Settings the line changes, in the order the modem applies them (last one wins).
    std::optional<bool> Echo;    // En
    std::optional<bool> Verbose; // Vn
    std::optional<bool> Quiet;   // Qn
    bool Reset = false;          // Z or &F (echo on, verbose, not quiet)
    bool HangUp = false;         // H, H0 or Z: a call in progress ends
    bool Online = false;         // O: back to the data of a call in progress
    bool Answer = false;         // A: answer (the modem may connect)
    std::vector<TAtRegisterWrite> Registers;
    // Some command may print text of its own (I, &V, S queries, extended commands, unknown ones),
    // which in numeric mode can look like a result code.
    bool PrintsText = false;
    bool WritesProfile = false; // &W or &Y: what a later reset restores would change
    // The modem may go on line after this line: a dial not ended by ';', A or O.
    bool MayConnect() const { return Answer || Online || (!Dials.empty() && !Dials.back().Semicolon); }
};

// backspace is the modem's S5 character; it removes the character before it.
TAtLine ScanAtLine(std::string_view line, char backspace = '\b');

enum class TModemReply {
    mrNone, // not a result code (an echo, information text, an empty line)
    mrOk,
    mrConnect,
    mrRing,
    mrNoCarrier,
    mrError,
    mrNoDialtone,
    mrBusy,
    mrNoAnswer,
};

// line: one line of the modem's output, without CR/LF. Numeric codes count only when verbose is off.
TModemReply ClassifyModemReply(std::string_view line, bool verbose);
// True for the replies that end a dial attempt without a connection.
bool IsDialFailure(TModemReply reply);
