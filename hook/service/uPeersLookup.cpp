#include "uPeersLookup.h"

#include "uAtScanner.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

// Words with shell-like quoting ('...', "...", backslash) and '#' comments, as pppd option files and
// chat scripts write them.
std::vector<std::string> Tokens(const std::string& text) {
    std::vector<std::string> out;
    std::size_t i = 0;
    while (i < text.size()) {
        char c = text[i];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            ++i;
            continue;
        }
        if (c == '#') {
            while (i < text.size() && text[i] != '\n')
                ++i;
            continue;
        }
        std::string word;
        while (i < text.size() && text[i] != ' ' && text[i] != '\t' && text[i] != '\n' && text[i] != '\r') {
            char q = text[i];
            if (q == '\'' || q == '"') {
                ++i;
                while (i < text.size() && text[i] != q) {
                    if (q == '"' && text[i] == '\\' && i + 1 < text.size())
                        word += text[i++];
                    word += text[i++];
                }
                ++i;
            } else if (q == '\\' && i + 1 < text.size()) {
                word += text[i++];
                word += text[i++];
            } else {
                word += text[i++];
            }
        }
        out.push_back(word);
    }
    return out;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    if (in)
        s << in.rdbuf();
    return s.str();
}

// The numbers an entry dials, from the chat program of its connect option.
std::vector<std::string> EntryNumbers(const std::string& peersText) {
    std::vector<std::string> words = Tokens(peersText);
    for (std::size_t i = 0; i + 1 < words.size(); ++i) {
        if (words[i] != "connect")
            continue;
        std::vector<std::string> cmd = Tokens(words[i + 1]);
        std::string phone, scriptFile;
        std::vector<std::string> inline_;
        bool sawChat = false;
        for (std::size_t j = 0; j < cmd.size(); ++j) {
            const std::string& w = cmd[j];
            if (!sawChat) {
                sawChat = std::filesystem::path(w).filename() == "chat";
                continue;
            }
            if ((w == "-T" || w == "-f" || w == "-r" || w == "-t" || w == "-U" || w == "-s") &&
                j + 1 < cmd.size()) {
                if (w == "-T")
                    phone = cmd[j + 1];
                if (w == "-f")
                    scriptFile = cmd[j + 1];
                ++j;
            } else if (w.size() > 1 && w[0] == '-') {
                continue;
            } else {
                inline_.push_back(w);
            }
        }
        std::string script;
        if (!scriptFile.empty()) {
            script = ReadFile(scriptFile);
        } else {
            for (const std::string& w : inline_)
                script += "'" + w + "' ";
        }
        return ChatScriptNumbers(script, phone);
    }
    return {};
}

} // namespace

std::vector<std::string> ChatScriptNumbers(const std::string& script, const std::string& phoneSubstitute) {
    std::vector<std::string> numbers;
    for (std::string w : Tokens(script)) {
        for (std::size_t p; (p = w.find("\\T")) != std::string::npos;)
            w.replace(p, 2, phoneSubstitute);
        TAtLine line = ScanAtLine(w);
        for (const TAtDial& d : line.Dials)
            if (d.Known)
                numbers.push_back(d.Number);
    }
    return numbers;
}

std::optional<TPeersEntry> FindPeersEntry(const std::string& etcDir, const std::string& number) {
    if (number.empty())
        return std::nullopt;
    std::string peersDir = etcDir + "/ppp/peers";
    std::error_code ec;
    std::optional<TPeersEntry> found;
    int matches = 0;
    for (const auto& e : std::filesystem::directory_iterator(peersDir, ec)) {
        if (!e.is_regular_file(ec))
            continue;
        for (const std::string& n : EntryNumbers(ReadFile(e.path().string()))) {
            if (n == number) {
                ++matches;
                found = TPeersEntry{e.path().filename().string(), peersDir};
                break;
            }
        }
    }
    return matches == 1 ? found : std::nullopt;
}
