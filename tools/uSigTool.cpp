#include "uSigTool.h"

#include "detection/uSygnatureManager.h"
#include "util/libStrUtilsQmPack.h"
#include "util/uDateTime.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <optional>
#include <system_error>

namespace {

constexpr const char* kProgram = "qmvardel-sig";

const char* const kMainHelp = R"(Użycie: qmvardel-sig POLECENIE [OPCJE] [PLIK...]
Narzędzie autorów sygnatur: odciski plików i sprawdzanie bazy dialerów QmVardel (Sygn.ini).

Polecenia:
  fingerprint PLIK...            wypisuje odcisk każdego pliku, gotowy do dopisania do bazy
  check [--db ŚCIEŻKA] PLIK...   wypisuje pliki rozpoznane jako znane dialery
  info [--db ŚCIEŻKA]            wersja, data, liczba sygnatur i rozmiarów, błędne wiersze

"qmvardel-sig POLECENIE --help" opisuje polecenie.
Kody wyjścia: 0 powodzenie, 1 check znalazł dialer, 2 błąd użycia lub odczytu.
)";

const char* const kFingerprintHelp = R"(Użycie: qmvardel-sig fingerprint PLIK...
Wypisuje odcisk każdego pliku w osobnym wierszu, w postaci wiersza bazy sygnatur:
długość pliku, "-" i 17 kodów bajtów (przesunięcia 1, 100, 200, ..., 1500 i ostatni bajt;
"--" dla przesunięcia poza plikiem). Wiersz można dopisać do Sygn.ini bez zmian.
Pliku o rozmiarze 2 GiB lub większym baza nie rozpoznaje; taki plik jest błędem.
Kody wyjścia: 0 wszystkie odciski wypisane, 2 błąd użycia lub odczytu.
)";

const char* const kCheckHelp = R"(Użycie: qmvardel-sig check [--db ŚCIEŻKA] PLIK|KATALOG...
Sprawdza pliki tak jak QmVardel i wypisuje ścieżkę każdego znanego dialera.
Katalogi są przeglądane w głąb (bez podążania za dowiązaniami symbolicznymi).
  --db ŚCIEŻKA   baza sygnatur (domyślnie Sygn.ini obok programu)
Kody wyjścia: 0 brak dialerów, 1 znaleziono dialer, 2 błąd użycia lub odczytu
(także gdy część plików okazała się dialerami).
)";

const char* const kInfoHelp = R"(Użycie: qmvardel-sig info [--db ŚCIEŻKA]
Wypisuje wersję bazy, datę pliku, liczbę sygnatur, liczbę różnych rozmiarów
oraz każdy wiersz, który nigdy nie pasuje do odcisku, z numerem wiersza w pliku.
  --db ŚCIEŻKA   baza sygnatur (domyślnie Sygn.ini obok programu)
Kody wyjścia: 0 powodzenie, 2 błąd użycia lub odczytu.
)";

struct TCommandLine {
    bool Help = false;
    std::optional<std::string> Database;
    std::vector<std::string> Files;
};

// Options may come before, between or after the files; "--" ends them.
std::optional<TCommandLine> ParseCommand(const std::vector<std::string>& args, bool takesDatabase,
                                         const TSigToolEnv& env) {
    TCommandLine cmd;
    bool options = true;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (options && a == "--") {
            options = false;
        } else if (options && (a == "--help" || a == "-h")) {
            cmd.Help = true;
        } else if (options && takesDatabase && a == "--db") {
            if (i + 1 >= args.size()) {
                env.Err << kProgram << ": --db wymaga ścieżki bazy\n";
                return std::nullopt;
            }
            cmd.Database = args[++i];
        } else if (options && takesDatabase && a.starts_with("--db=")) {
            cmd.Database = a.substr(5);
        } else if (options && a.size() > 1 && a[0] == '-') {
            env.Err << kProgram << ": nieznana opcja " << a << " (zob. " << kProgram << " " << args[0]
                    << " --help)\n";
            return std::nullopt;
        } else {
            cmd.Files.push_back(a);
        }
    }
    return cmd;
}

// A line of a database from anywhere goes to a terminal: control characters are shown escaped.
std::string Printable(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F) {
            out += "\\x";
            qm::AppendHexByte(out, b);
        } else {
            out += c;
        }
    }
    return out;
}

std::string TwoDigits(int value) {
    std::string text = std::to_string(value);
    if (text.size() < 2)
        text.insert(text.begin(), '0');
    return text;
}

std::string FormatDateTime(qm::TDateTime value) {
    const qm::TDateParts p = qm::DecodeDateTime(value);
    return std::to_string(p.Year) + "-" + TwoDigits(p.Month) + "-" + TwoDigits(p.Day) + " " +
           TwoDigits(p.Hour) + ":" + TwoDigits(p.Minute) + ":" + TwoDigits(p.Second);
}

// The database for check and info; nothing (after an error message) when it is missing or unreadable.
std::unique_ptr<TSygnatureManager> OpenDatabase(const TCommandLine& cmd, const TSigToolEnv& env) {
    const std::string path = cmd.Database.value_or(env.DefaultDatabase);
    if (!env.FileSystem.FileExists(path)) {
        env.Err << kProgram << ": brak bazy sygnatur " << path << "\n";
        return nullptr;
    }
    auto db = std::make_unique<TSygnatureManager>(path, env.FileSystem, std::string());
    if (!db->LoadError().empty()) {
        env.Err << kProgram << ": " << db->LoadError() << "\n";
        return nullptr;
    }
    return db;
}

int Fingerprint(const TCommandLine& cmd, const TSigToolEnv& env) {
    if (cmd.Files.empty()) {
        env.Err << kProgram << ": fingerprint wymaga co najmniej jednego pliku\n" << kFingerprintHelp;
        return sigExit_Error;
    }
    int result = sigExit_Ok;
    for (const std::string& path : cmd.Files) {
        const std::optional<std::uint64_t> size = env.FileSystem.FileSize(path);
        std::string error;
        std::string fingerprint;
        if (env.FileSystem.DirectoryExists(path))
            error = "to jest katalog";
        else if (!size)
            error = "brak pliku";
        else if (*size > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()))
            error = "plik ma 2 GiB lub więcej; takiego pliku baza nie rozpoznaje";
        else if ((fingerprint = qm::FileFingerprint(env.FileSystem, path)).empty())
            error = "nie można otworzyć pliku";
        if (error.empty()) {
            env.Out << fingerprint << "\n";
        } else {
            env.Err << kProgram << ": " << path << ": " << error << "\n";
            result = sigExit_Error;
        }
    }
    return result;
}

// Regular files under the folder, in path order; walk errors are reported and set failed.
std::vector<std::string> FilesUnder(const std::string& dir, const TSigToolEnv& env, bool& failed) {
    namespace fs = std::filesystem;
    std::vector<std::string> files;
    std::error_code ec;
    fs::recursive_directory_iterator it(dir, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        std::error_code statError;
        if (it->symlink_status(statError).type() == fs::file_type::regular)
            files.push_back(it->path().string());
    }
    if (ec) {
        env.Err << kProgram << ": " << dir << ": " << ec.message() << "\n";
        failed = true;
    }
    std::sort(files.begin(), files.end());
    return files;
}

int Check(const TCommandLine& cmd, const TSigToolEnv& env) {
    if (cmd.Files.empty()) {
        env.Err << kProgram << ": check wymaga co najmniej jednego pliku lub katalogu\n" << kCheckHelp;
        return sigExit_Error;
    }
    const std::unique_ptr<TSygnatureManager> db = OpenDatabase(cmd, env);
    if (!db)
        return sigExit_Error;
    bool failed = false;
    bool found = false;
    const auto checkFile = [&](const std::string& path) {
        switch (db->CheckFile(path)) {
        case dcMissing:
            env.Err << kProgram << ": " << path << ": brak pliku\n";
            failed = true;
            break;
        case dcUnreadable:
            env.Err << kProgram << ": " << path << ": nie można otworzyć pliku\n";
            failed = true;
            break;
        case dcDialer:
            env.Out << path << "\n";
            found = true;
            break;
        case dcNotDialer:
            break;
        }
    };
    for (const std::string& path : cmd.Files) {
        if (env.FileSystem.DirectoryExists(path)) {
            for (const std::string& file : FilesUnder(path, env, failed))
                checkFile(file);
        } else {
            checkFile(path);
        }
    }
    return failed ? sigExit_Error : found ? sigExit_Dialer : sigExit_Ok;
}

int Info(const TCommandLine& cmd, const TSigToolEnv& env) {
    if (!cmd.Files.empty()) {
        env.Err << kProgram << ": info nie przyjmuje plików\n" << kInfoHelp;
        return sigExit_Error;
    }
    const std::unique_ptr<TSygnatureManager> db = OpenDatabase(cmd, env);
    if (!db)
        return sigExit_Error;
    const std::vector<TSygnatureProblem> problems = db->MalformedLines();
    env.Out << "Baza: " << db->FileName() << "\n"
            << "Wersja: " << db->Version() << "\n"
            << "Data: " << FormatDateTime(db->DatabaseDate()) << "\n"
            << "Sygnatury: " << db->Lines().size() << "\n"
            << "Różne rozmiary: " << db->SizeIndex().size() << "\n"
            << "Błędne wiersze: " << problems.size() << "\n";
    for (const TSygnatureProblem& p : problems)
        env.Out << "  wiersz " << p.LineNumber << ": " << p.Reason << ": \"" << Printable(p.Line) << "\"\n";
    return sigExit_Ok;
}

} // namespace

int RunSigTool(const std::vector<std::string>& args, const TSigToolEnv& env) {
    if (args.empty()) {
        env.Err << kMainHelp;
        return sigExit_Error;
    }
    const std::string& command = args[0];
    if (command == "--help" || command == "-h" || command == "help") {
        env.Out << kMainHelp;
        return sigExit_Ok;
    }
    struct TCommand {
        const char* Name;
        bool TakesDatabase;
        const char* Help;
        int (*Run)(const TCommandLine&, const TSigToolEnv&);
    };
    static const TCommand commands[] = {
        {"fingerprint", false, kFingerprintHelp, Fingerprint},
        {"check", true, kCheckHelp, Check},
        {"info", true, kInfoHelp, Info},
    };
    for (const TCommand& c : commands) {
        if (command != c.Name)
            continue;
        const std::optional<TCommandLine> cmd = ParseCommand(args, c.TakesDatabase, env);
        if (!cmd)
            return sigExit_Error;
        if (cmd->Help) {
            env.Out << c.Help;
            return sigExit_Ok;
        }
        return c.Run(*cmd, env);
    }
    env.Err << kProgram << ": nieznane polecenie " << command << "\n" << kMainHelp;
    return sigExit_Error;
}
