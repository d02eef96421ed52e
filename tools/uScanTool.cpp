#include "uScanTool.h"

#include "detection/uSygnatureManager.h"
#include "platform/uPathDelim.h"
#include "scan/uFindFiles.h"
#include "scan/uScanController.h"

#include <optional>

namespace {

constexpr const char* kProgram = "qmvardel-scan";

const char* const kHelp = R"(Użycie: qmvardel-scan [--db ŚCIEŻKA] [--remove] [--quiet] [ŚCIEŻKA...]
Szuka znanych dialerów tak jak skanowanie w oknie QmVardel: sprawdza pliki programów
("*exe", "*.scr" i każdy plik z prawem wykonania) w podanych folderach, a bez ŚCIEŻKI
na wszystkich dyskach stałych. Nie przechodzi na inne systemy plików i nie podąża za
dowiązaniami symbolicznymi; pomija foldery, których nie może odczytać.
Wypisuje ścieżkę każdego znalezionego dialera i na końcu podsumowanie.
  --db ŚCIEŻKA   baza sygnatur (domyślnie Sygn.ini obok programu)
  --remove       przenosi znalezione dialery do kwarantanny
  --quiet        tylko ścieżki dialerów: bez postępu i podsumowania
  --help         ten opis
Kody wyjścia: 0 brak dialerów, 1 znaleziono dialer, 2 błąd użycia, bazy lub ścieżki
(także gdy znaleziono dialer).
)";

struct TOptions {
    bool Help = false;
    bool Remove = false;
    bool Quiet = false;
    std::optional<std::string> Database;
    std::vector<std::string> Paths;
};

std::optional<TOptions> Parse(const std::vector<std::string>& args, std::ostream& err) {
    TOptions o;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (optionsEnded || a.empty() || a[0] != '-' || a == "-") {
            o.Paths.push_back(a);
        } else if (a == "--") {
            optionsEnded = true;
        } else if (a == "--help" || a == "-h") {
            o.Help = true;
        } else if (a == "--remove") {
            o.Remove = true;
        } else if (a == "--quiet" || a == "-q") {
            o.Quiet = true;
        } else if (a == "--db") {
            if (i + 1 == args.size()) {
                err << kProgram << ": --db wymaga ścieżki bazy\n";
                return std::nullopt;
            }
            o.Database = args[++i];
        } else if (a.starts_with("--db=")) {
            o.Database = a.substr(5);
        } else {
            err << kProgram << ": nieznana opcja " << a << " (zob. --help)\n";
            return std::nullopt;
        }
    }
    return o;
}

std::string Seconds(std::int64_t milliseconds) {
    return std::to_string(milliseconds / 1000) + "," + std::to_string(milliseconds % 1000 / 100);
}

} // namespace

int RunScanTool(const std::vector<std::string>& args, const TScanToolEnv& env) {
    const std::optional<TOptions> options = Parse(args, env.Err);
    if (!options)
        return scanExit_Error;
    if (options->Help) {
        env.Out << kHelp;
        return scanExit_Clean;
    }
    if (options->Remove) {
        // The quarantine step belongs to the removal, which this build does not carry yet.
        env.Err << kProgram << ": usuwanie dialerów (--remove) nie jest dostępne w tej kompilacji\n";
        return scanExit_Error;
    }
    const std::string database = options->Database.value_or(env.DefaultDatabase);
    // Without its database a scan finds nothing, and "nothing found" would be a lie.
    if (!env.FileSystem.FileExists(database)) {
        env.Err << kProgram << ": brak bazy sygnatur " << database << "\n";
        return scanExit_Error;
    }
    const TSygnatureManager manager(database, env.FileSystem, env.ExecutablePath);
    if (!manager.LoadError().empty()) {
        env.Err << kProgram << ": " << manager.LoadError() << "\n";
        return scanExit_Error;
    }

    bool failed = false;
    std::vector<std::string> roots;
    for (const std::string& path : options->Paths) {
        if (env.FileSystem.DirectoryExists(path) || env.FileSystem.FileExists(path)) {
            roots.push_back(path);
        } else {
            env.Err << kProgram << ": nie ma takiego pliku ani folderu: " << path << "\n";
            failed = true;
        }
    }
    if (options->Paths.empty())
        roots = env.FixedDrives.Roots();

    const bool progress = env.ErrIsTerminal && !options->Quiet;
    const std::string quarantine = qm::IncludeTrailingPathDelimiter(env.QuarantineDir);
    const std::int64_t start = env.Clock.Milliseconds();
    std::int64_t lastProgress = start;
    bool progressShown = false;
    const auto clearProgress = [&] {
        if (progressShown)
            env.Err << "\r\033[K" << std::flush;
        progressShown = false;
    };
    std::uint64_t dialers = 0;
    const TFindFilesCounts counts =
        FindFiles(roots, {env.FileSearch, env.Clock}, kScanMasks, [&](const TSearchInfo& info, bool&) {
            if (info.IsFile && manager.IsDialer(info.Path, info.Size) &&
                qm::IncludeTrailingPathDelimiter(qm::ExtractFileDir(info.Path)) != quarantine) {
                clearProgress();
                ++dialers;
                env.Out << info.Path << std::endl;
            }
            if (!progress)
                return;
            const std::int64_t now = env.Clock.Milliseconds();
            if (now - lastProgress < kFolderReportInterval)
                return;
            lastProgress = now;
            // One line, cut to a width that fits most terminals.
            std::string line = ScanProgressText(info.Examined, info.Total) + "  " + info.Path;
            if (line.size() > 100)
                line = line.substr(0, 40) + "..." + line.substr(line.size() - 57);
            env.Err << "\r\033[K" << line << std::flush;
            progressShown = true;
        });
    clearProgress();
    if (!options->Quiet) {
        env.Out << "Folderów: " << counts.Folders << ", przejrzanych plików: " << counts.Entries
                << ", znalezionych dialerów: " << dialers
                << ", czas: " << Seconds(env.Clock.Milliseconds() - start) << " s\n";
    }
    if (failed)
        return scanExit_Error;
    return dialers > 0 ? scanExit_Dialer : scanExit_Clean;
}
