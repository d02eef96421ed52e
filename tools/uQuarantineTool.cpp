#include "uQuarantineTool.h"

#include "detection/uDialerRemoval.h"
#include "detection/uQuarantineRecord.h"
#include "platform/uPathDelim.h"

namespace {

constexpr const char* kProgram = "qmvardel-quarantine";

const char* const kHelp = R"(Użycie: qmvardel-quarantine POLECENIE [OPCJE]
Pliki, które QmVardel przeniósł do kwarantanny, i ich przywracanie.

  list                      wypisuje pliki w kwarantannie: IDENTYFIKATOR, data przeniesienia,
                            pierwotna ścieżka (bajty sterujące i "%" jako %XX), a gdy plik
                            zniknął przed przeniesieniem, czwarte pole "plik zniknął"
  restore ID [--to ŚCIEŻKA] przywraca plik ID na jego miejsce (albo do ŚCIEŻKI) z prawami,
                            właścicielem i czasem modyfikacji, a także usunięte z nim wpisy
                            autostartu i jednostki systemd; niczego nie zastępuje; gdy plik
                            zniknął, przywraca same wpisy
  --help                    ten opis

Kody wyjścia: 0 powodzenie, 1 odmowa lub błąd, 2 błędne wywołanie.
)";

// The fourth field of a listed record whose file had vanished before it could be moved.
constexpr const char* kVanishedMark = "plik zniknął";
// ... and of one whose file was restored while some of its entries could not be.
constexpr const char* kFileRestoredMark = "plik przywrócony";

std::string RecordPath(const TQuarantineToolEnv& env, const std::string& id) {
    return env.QuarantineDir + id + std::string(kQuarantineRecordSuffix);
}

void Log(const TQuarantineToolEnv& env, const std::string& message) {
    const std::string date = env.ShortDate ? env.ShortDate(env.Clock.Now()) : std::string();
    env.Quarantine.AppendLine(env.QuarantineDir + kRemovalLogName, date + " " + message);
}

int List(const TQuarantineToolEnv& env) {
    int exit = qtExit_Ok;
    for (const std::string& name : env.Quarantine.List(env.QuarantineDir)) {
        if (!name.ends_with(kQuarantineRecordSuffix))
            continue;
        const auto text = env.FileSystem.ReadAll(env.QuarantineDir + name);
        const auto record = text ? qm::ParseQuarantineRecord(*text) : std::nullopt;
        if (!record) {
            env.Err << kProgram << ": nieczytelny zapis " << qm::EscapeRecordField(name) << "\n";
            exit = qtExit_Failed;
            continue;
        }
        env.Out << qm::EscapeRecordField(record->StoredName) << "\t" << record->Date << "\t"
                << qm::EscapeRecordField(record->OriginalPath) << (record->Vanished ? "\t" : "")
                << (!record->Vanished      ? ""
                    : record->FileRestored ? kFileRestoredMark
                                           : kVanishedMark)
                << "\n";
    }
    return exit;
}

int Restore(const TQuarantineToolEnv& env, const std::string& id, std::string target) {
    if (id.empty() || id.find('/') != std::string::npos || id == "." || id == "..") {
        env.Err << kProgram << ": błędny identyfikator " << id << "\n";
        return qtExit_Usage;
    }
    const auto text = env.FileSystem.ReadAll(RecordPath(env, id));
    if (!text) {
        env.Err << kProgram << ": w kwarantannie nie ma pliku " << id << "\n";
        return qtExit_Failed;
    }
    const auto record = qm::ParseQuarantineRecord(*text);
    if (!record || record->StoredName != id) {
        env.Err << kProgram << ": nieczytelny zapis pliku " << id << "\n";
        return qtExit_Failed;
    }
    if (record->Vanished && !target.empty()) {
        env.Err << kProgram << ": w kwarantannie nie ma pliku " << id
                << ", są tylko wpisy autostartu; --to nie ma zastosowania\n";
        return qtExit_Usage;
    }
    if (target.empty())
        target = record->OriginalPath;
    else if (target.front() != qm::PathDelim)
        target = qm::IncludeTrailingPathDelimiter(env.CurrentDirectory) + target;

    // Everything that would be replaced is named first, and then nothing is done.
    std::vector<std::string> taken;
    if (!record->Vanished && env.Quarantine.Exists(target))
        taken.push_back(target);
    for (const TQuarantinedEntry& q : record->Entries) {
        if (env.Quarantine.Exists(q.Entry.Path()))
            taken.push_back(q.Entry.Path());
        for (const TAutoStartLink& l : q.Entry.Links)
            if (env.Quarantine.Exists(l.Path))
                taken.push_back(l.Path);
    }
    if (!taken.empty()) {
        for (const std::string& t : taken)
            env.Err << kProgram << ": istnieje już " << qm::EscapeRecordField(t)
                    << "; niczego nie przywrócono\n";
        return qtExit_Failed;
    }

    int exit = qtExit_Ok;
    // A file that vanished has nothing to put back but its entries.
    if (!record->Vanished) {
        const TMoveResult moved = env.Quarantine.MoveOut(env.QuarantineDir, id, target, record->Facts);
        if (moved.Status != msMoved) {
            env.Err << kProgram << ": nie można przywrócić " << qm::EscapeRecordField(target) << ": "
                    << (moved.Status == msNameTaken ? "plik już istnieje" : moved.Error) << "\n";
            return qtExit_Failed;
        }
        if (!moved.Error.empty()) {
            env.Err << kProgram << ": " << qm::EscapeRecordField(target) << ": " << moved.Error << "\n";
            exit = qtExit_Failed;
        }
        Log(env, kRestoredFileLog + target);
        env.Out << qm::EscapeRecordField(target) << "\n";
    }

    TQuarantineRecord left = *record;
    left.Entries.clear();
    for (const TQuarantinedEntry& q : record->Entries) {
        const TMoveResult r = env.AutoStartEntries.Restore(q.Entry, env.QuarantineDir + q.BackupName);
        if (r.Status != msMoved) {
            env.Err << kProgram << ": nie można przywrócić " << qm::EscapeRecordField(q.Entry.Path()) << ": "
                    << (r.Status == msNameTaken ? "plik już istnieje" : r.Error) << "\n";
            left.Entries.push_back(q);
            exit = qtExit_Failed;
            continue;
        }
        if (!r.Error.empty()) {
            env.Err << kProgram << ": " << qm::EscapeRecordField(q.Entry.Path()) << ": " << r.Error << "\n";
            exit = qtExit_Failed;
        }
        env.Quarantine.Delete(env.QuarantineDir, q.BackupName);
        Log(env, kRestoredEntryLog + q.Entry.Path());
        env.Out << qm::EscapeRecordField(q.Entry.Path()) << "\n";
    }
    // What could not be put back stays on record, as entries alone: the file is out of the
    // quarantine, so a later restore puts back only these.
    if (!record->Vanished) {
        left.Vanished = true;
        left.FileRestored = true;
    }
    if (left.Entries.empty())
        env.Quarantine.Delete(env.QuarantineDir, id + std::string(kQuarantineRecordSuffix));
    else
        env.FileSystem.ReplaceFile(RecordPath(env, id), qm::FormatQuarantineRecord(left));
    return exit;
}

} // namespace

int RunQuarantineTool(const std::vector<std::string>& args, const TQuarantineToolEnv& env) {
    if (args.empty()) {
        env.Err << kHelp;
        return qtExit_Usage;
    }
    const std::string& command = args[0];
    if (command == "--help" || command == "-h" || command == "help") {
        env.Out << kHelp;
        return qtExit_Ok;
    }
    if (command == "list") {
        if (args.size() != 1) {
            env.Err << kProgram << ": list nie przyjmuje argumentów\n";
            return qtExit_Usage;
        }
        return List(env);
    }
    if (command == "restore") {
        std::string id, to;
        for (std::size_t i = 1; i < args.size(); ++i) {
            if (args[i] == "--help" || args[i] == "-h") {
                env.Out << kHelp;
                return qtExit_Ok;
            }
            if (args[i] == "--to" && i + 1 < args.size() && to.empty()) {
                to = args[++i];
            } else if (args[i].starts_with("--to=") && to.empty() && args[i].size() > 5) {
                to = args[i].substr(5);
            } else if (id.empty() && !args[i].starts_with("--")) {
                id = args[i];
            } else {
                env.Err << kProgram << ": nieznany argument " << args[i] << " (zob. " << kProgram
                        << " --help)\n";
                return qtExit_Usage;
            }
        }
        if (id.empty()) {
            env.Err << kProgram << ": restore wymaga identyfikatora (zob. " << kProgram << " list)\n";
            return qtExit_Usage;
        }
        return Restore(env, id, to);
    }
    env.Err << kProgram << ": nieznane polecenie " << command << " (zob. " << kProgram << " --help)\n";
    return qtExit_Usage;
}
