#include "util/uCommandLine.h"

namespace qm {

std::vector<std::string> SplitCommandWords(std::string_view command) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    for (std::size_t i = 0; i < command.size(); ++i) {
        const char c = command[i];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            if (inWord)
                words.push_back(std::move(word));
            word.clear();
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == '"') {
            for (++i; i < command.size() && command[i] != '"'; ++i) {
                if (command[i] == '\\' && i + 1 < command.size())
                    ++i;
                word += command[i];
            }
        } else if (c == '\'') {
            for (++i; i < command.size() && command[i] != '\''; ++i)
                word += command[i];
        } else if (c == '\\' && i + 1 < command.size()) {
            word += command[++i];
        } else {
            word += c;
        }
    }
    if (inWord)
        words.push_back(std::move(word));
    return words;
}

namespace {

bool Separates(char c) {
    switch (c) {
    case ' ':
    case '\t':
    case '\n':
    case '\r':
    case '"':
    case '\'':
    case '=':
    case ';':
    case '&':
    case '|':
    case '(':
    case ')':
    case '`':
    case ',':
    case ':':
        return true;
    default:
        return false;
    }
}

} // namespace

bool CommandNamesFile(std::string_view command, std::string_view path) {
    if (path.empty())
        return false;
    const std::vector<std::string> words = SplitCommandWords(command);
    for (std::size_t i = 0; i < words.size(); ++i) {
        std::string_view w = words[i];
        if (i == 0)
            while (!w.empty() && (w.front() == '@' || w.front() == '-' || w.front() == ':' ||
                                  w.front() == '+' || w.front() == '!'))
                w.remove_prefix(1);
        if (w == path)
            return true;
    }
    for (std::size_t at = command.find(path); at != std::string_view::npos; at = command.find(path, at + 1)) {
        const std::size_t end = at + path.size();
        if ((at == 0 || Separates(command[at - 1])) && (end == command.size() || Separates(command[end])))
            return true;
    }
    return false;
}

} // namespace qm
