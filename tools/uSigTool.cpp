#include "uSigTool.h"

#include "detection/uSygnatureManager.h"
#include "net/uEd25519Signature.h"
#include "util/libStrUtilsQmPack.h"
#include "util/uDateTime.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
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
  info [--db ŚCIEŻKA]            wersja, data, liczba sygnatur i rozmiarów, błędne wiersze, podpis
  keygen PRYWATNY PUBLICZNY      tworzy parę kluczy Ed25519 do podpisywania baz
  sign --key PRYWATNY PLIK...    zapisuje podpis każdego pliku obok niego (PLIK.sig)
  verify [--key PUBLICZNY] [--sig PODPIS] PLIK   sprawdza podpis pliku

"qmvardel-sig POLECENIE --help" opisuje polecenie.
Kody wyjścia: 0 powodzenie, 1 check znalazł dialer lub verify odrzucił podpis,
2 błąd użycia lub odczytu.
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
Wypisuje wersję bazy, datę pliku, liczbę sygnatur, liczbę różnych rozmiarów,
każdy wiersz, który nigdy nie pasuje do odcisku, z numerem wiersza w pliku,
oraz stan podpisu bazy (klucz Sygn.pub obok bazy lub obok programu, podpis ŚCIEŻKA.sig).
  --db ŚCIEŻKA   baza sygnatur (domyślnie Sygn.ini obok programu)
Kody wyjścia: 0 powodzenie, 2 błąd użycia lub odczytu.
)";

const char* const kKeygenHelp = R"(Użycie: qmvardel-sig keygen PRYWATNY PUBLICZNY
Tworzy parę kluczy Ed25519: klucz prywatny (PEM, tylko dla właściciela) do podpisywania
baz i klucz publiczny (PEM), który kładzie się obok programu jako Sygn.pub. Istniejących
plików nie nadpisuje.
Kody wyjścia: 0 powodzenie, 2 błąd.
)";

const char* const kSignHelp = R"(Użycie: qmvardel-sig sign --key PRYWATNY PLIK...
Podpisuje dokładną zawartość każdego pliku i zapisuje podpis (base64, jeden wiersz)
w pliku PLIK.sig. Podpisaną bazę i jej podpis publikuje się razem.
Kody wyjścia: 0 powodzenie, 2 błąd.
)";

const char* const kVerifyHelp = R"(Użycie: qmvardel-sig verify [--key PUBLICZNY] [--sig PODPIS] PLIK
Sprawdza podpis pliku tak jak QmVardel przed instalacją bazy.
  --key PUBLICZNY  klucz publiczny (domyślnie Sygn.pub obok programu)
  --sig PODPIS     plik podpisu (domyślnie PLIK.sig)
Kody wyjścia: 0 podpis prawidłowy, 1 podpis nieprawidłowy, 2 błąd użycia lub odczytu.
)";

struct TCommandLine {
    bool Help = false;
    std::optional<std::string> Database;
    std::optional<std::string> Key;
    std::optional<std::string> Signature;
    std::vector<std::string> Files;
};

// Options may come before, between or after the files; "--" ends them.
std::optional<TCommandLine> ParseCommand(const std::vector<std::string>& args, bool takesDatabase,
                                         bool takesKey, const TSigToolEnv& env) {
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
        } else if (options && takesKey && (a == "--key" || a == "--sig")) {
            if (i + 1 >= args.size()) {
                env.Err << kProgram << ": " << a << " wymaga ścieżki\n";
                return std::nullopt;
            }
            (a == "--key" ? cmd.Key : cmd.Signature) = args[++i];
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

// The public key beside the program, where the guard looks for it.
std::string DefaultKey(const TSigToolEnv& env) {
    const std::size_t slash = env.DefaultDatabase.rfind('/');
    return (slash == std::string::npos ? std::string() : env.DefaultDatabase.substr(0, slash + 1)) +
           "Sygn.pub";
}

bool WriteText(const std::string& path, const std::string& text, const TSigToolEnv& env) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!(out << text) || !out.flush()) {
        env.Err << kProgram << ": " << path << ": nie można zapisać pliku\n";
        return false;
    }
    return true;
}

// What the guard would say of the database's signature: with Sygn.pub beside the database (a
// published copy) or else beside the program.
std::string SignatureState(const std::string& database, const TSigToolEnv& env) {
    const std::size_t slash = database.rfind('/');
    std::optional<std::string> key = env.FileSystem.ReadAll(
        (slash == std::string::npos ? std::string() : database.substr(0, slash + 1)) + "Sygn.pub");
    if (!key)
        key = env.FileSystem.ReadAll(DefaultKey(env));
    if (!key)
        return "brak klucza publicznego Sygn.pub: baza niepodpisana";
    const std::optional<std::string> sig = env.FileSystem.ReadAll(database + ".sig");
    if (!sig)
        return "brak pliku podpisu " + database + ".sig";
    const std::optional<std::string> data = env.FileSystem.ReadAll(database);
    std::string why;
    if (!data || !TEd25519Signature().Verify(*data, *sig, *key, why))
        return "nieprawidłowy (" + why + ")";
    return "prawidłowy";
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
    env.Out << "Podpis: " << SignatureState(db->FileName(), env) << "\n";
    return sigExit_Ok;
}

int Keygen(const TCommandLine& cmd, const TSigToolEnv& env) {
    if (cmd.Files.size() != 2) {
        env.Err << kProgram << ": keygen wymaga dwóch ścieżek\n" << kKeygenHelp;
        return sigExit_Error;
    }
    namespace fs = std::filesystem;
    for (const std::string& path : cmd.Files) {
        std::error_code ec;
        if (fs::exists(fs::symlink_status(path, ec))) {
            env.Err << kProgram << ": " << path << ": plik już istnieje\n";
            return sigExit_Error;
        }
    }
    const TEd25519Signature::TKeyPair keys = TEd25519Signature::GenerateKeyPair();
    // The private key is readable by its owner only, from its first byte on.
    {
        std::ofstream(cmd.Files[0], std::ios::binary).flush();
        std::error_code ec;
        fs::permissions(cmd.Files[0], fs::perms::owner_read | fs::perms::owner_write, ec);
        std::ofstream out(cmd.Files[0], std::ios::binary | std::ios::trunc);
        if (ec || !(out << keys.PrivatePem) || !out.flush()) {
            env.Err << kProgram << ": " << cmd.Files[0] << ": nie można zapisać klucza\n";
            return sigExit_Error;
        }
    }
    if (!WriteText(cmd.Files[1], keys.PublicPem, env))
        return sigExit_Error;
    env.Out << "Klucz prywatny: " << cmd.Files[0] << "\nKlucz publiczny: " << cmd.Files[1]
            << " (połóż go obok programu jako Sygn.pub)\n";
    return sigExit_Ok;
}

int Sign(const TCommandLine& cmd, const TSigToolEnv& env) {
    if (!cmd.Key || cmd.Files.empty()) {
        env.Err << kProgram << ": sign wymaga --key i co najmniej jednego pliku\n" << kSignHelp;
        return sigExit_Error;
    }
    const std::optional<std::string> key = env.FileSystem.ReadAll(*cmd.Key);
    if (!key) {
        env.Err << kProgram << ": " << *cmd.Key << ": nie można odczytać klucza\n";
        return sigExit_Error;
    }
    for (const std::string& path : cmd.Files) {
        const std::optional<std::string> data = env.FileSystem.ReadAll(path);
        if (!data) {
            env.Err << kProgram << ": " << path << ": nie można odczytać pliku\n";
            return sigExit_Error;
        }
        if (!WriteText(path + ".sig", TEd25519Signature::Sign(*data, *key) + "\n", env))
            return sigExit_Error;
        env.Out << path << ".sig\n";
    }
    return sigExit_Ok;
}

int Verify(const TCommandLine& cmd, const TSigToolEnv& env) {
    if (cmd.Files.size() != 1) {
        env.Err << kProgram << ": verify wymaga jednego pliku\n" << kVerifyHelp;
        return sigExit_Error;
    }
    const std::string& path = cmd.Files[0];
    const std::string keyPath = cmd.Key.value_or(DefaultKey(env));
    const std::string sigPath = cmd.Signature.value_or(path + ".sig");
    const std::optional<std::string> data = env.FileSystem.ReadAll(path);
    const std::optional<std::string> key = env.FileSystem.ReadAll(keyPath);
    const std::optional<std::string> sig = env.FileSystem.ReadAll(sigPath);
    for (const auto& [value, name] : {std::pair{&data, &path}, {&key, &keyPath}, {&sig, &sigPath}}) {
        if (!*value) {
            env.Err << kProgram << ": " << *name << ": nie można odczytać pliku\n";
            return sigExit_Error;
        }
    }
    std::string why;
    if (!TEd25519Signature().Verify(*data, *sig, *key, why)) {
        env.Out << path << ": podpis nieprawidłowy: " << why << "\n";
        return sigExit_Dialer;
    }
    env.Out << path << ": podpis prawidłowy\n";
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
        {"keygen", false, kKeygenHelp, Keygen},
        {"sign", false, kSignHelp, Sign},
        {"verify", false, kVerifyHelp, Verify},
    };
    for (const TCommand& c : commands) {
        if (command != c.Name)
            continue;
        const std::optional<TCommandLine> cmd =
            ParseCommand(args, c.TakesDatabase, c.Help == kSignHelp || c.Help == kVerifyHelp, env);
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
