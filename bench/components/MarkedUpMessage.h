#pragma once
// The long marked-up message that both label benchmarks paint, so that their figures compare.
#include <string>
#include <vector>

// words words in lines of 20, with every kind of markup the program's texts use: tags, colour
// tags, word format markers and addresses.
inline std::vector<std::string> MarkedUpMessage(int words) {
    static const char* const kWords[] = {
        "Program",
        ".QmVardel",
        "wykrył",
        "<b>próbę</b>",
        "połączenia",
        "z",
        ",numerem",
        "<color:clRed>spoza</color>",
        "listy",
        "_dozwolonych.",
        "Szczegóły:",
        "www.qmvardel.pl",
        "biuro@qmvardel.pl",
        "<i>Kliknięcie</i>",
        "przycisku",
        "<plain>Aktualizuj",
    };
    constexpr int kWordCount = sizeof(kWords) / sizeof(kWords[0]);
    std::vector<std::string> lines;
    std::string line;
    for (int i = 0; i < words; ++i) {
        if (!line.empty())
            line += ' ';
        line += kWords[i % kWordCount];
        if ((i + 1) % 20 == 0) {
            lines.push_back(line);
            line.clear();
        }
    }
    if (!line.empty())
        lines.push_back(line);
    return lines;
}
