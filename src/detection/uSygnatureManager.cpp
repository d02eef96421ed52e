#include "detection/uSygnatureManager.h"

#include "util/libStrUtilsQmPack.h"
#include "util/uFormat.h"
#include "util/uQmError.h"

#include <array>
#include <cstdint>
#include <limits>
#include <optional>

namespace {

constexpr int kCodeCount = 17;

// The sampled offset of code k (0-based) for a file of the given 32-bit length.
std::int64_t SampledOffset(int k, std::int64_t length) {
    if (k == 0)
        return 1;
    if (k < kCodeCount - 1)
        return static_cast<std::int64_t>(k) * 100;
    return length - 1;
}

// Like DecodeLegacyText, but a UTF-8 file (the usual case) is taken over without a second copy
// of a possibly large buffer.
std::string DecodeDatabaseText(std::string bytes) {
    if (bytes.starts_with("\xEF\xBB\xBF"))
        bytes.erase(0, 3);
    if (qm::IsValidUtf8(bytes))
        return bytes;
    return qm::Windows1250ToUtf8(bytes);
}

} // namespace

namespace qm {

std::string FileFingerprint(const IFileSystem& fileSystem, const std::string& path) {
    // A file that does not exist cannot be opened either; one call answers both.
    const std::unique_ptr<IReadFile> file = fileSystem.OpenRead(path);
    if (!file)
        return {};
    const std::int64_t end = file->SeekEnd();
    if (end < 0)
        return {};
    // The length is kept as a 32-bit signed number: from 2 GiB on it wraps and no longer equals
    // the directory-entry length that the size test uses, so such a file never matches.
    const auto length = static_cast<std::int64_t>(static_cast<std::int32_t>(static_cast<std::uint32_t>(end)));
    std::string result = std::to_string(length) + "-";
    result.reserve(result.size() + 2 * kCodeCount);
    for (int k = 0; k < kCodeCount; ++k) {
        const std::int64_t offset = SampledOffset(k, length);
        std::optional<std::uint8_t> byte;
        if (offset >= 0 && offset < length)
            byte = file->ReadByteAt(offset);
        if (byte) {
            qm::AppendHexByte(result, *byte);
        } else {
            result += "--";
        }
    }
    return result;
}

TDateTime FileLastWriteTime(const IFileSystem& fileSystem, const std::string& path) {
    return fileSystem.LastWriteTime(path).value_or(0);
}

std::string SygnatureLineProblem(std::string_view line) {
    if (line.empty())
        return "pusty wiersz";
    const std::size_t dash = line.find('-');
    if (dash == std::string_view::npos)
        return "brak znaku \"-\" po rozmiarze";
    const std::string_view size = line.substr(0, dash);
    if (size.empty())
        return "brak rozmiaru przed znakiem \"-\"";
    for (std::size_t i = 0; i < size.size(); ++i)
        if (size[i] < '0' || size[i] > '9')
            return Format("rozmiar nie jest liczbą dziesiętną (znak %u)", i + 1);
    if (size.size() > 1 && size[0] == '0')
        return "rozmiar zaczyna się od zera";
    std::int64_t length = 0;
    for (const char c : size) {
        length = length * 10 + (c - '0');
        if (length > std::numeric_limits<std::int32_t>::max())
            return "rozmiar 2 GiB lub większy: taki plik nigdy nie jest rozpoznawany";
    }
    const std::string_view codes = line.substr(dash + 1);
    for (std::size_t i = 0; i < codes.size(); ++i)
        if (codes[i] != '-' && qm::HexDigitValue(codes[i]) < 0)
            return Format("niedozwolony znak %u (dozwolone są cyfry szesnastkowe i \"-\")", dash + 2 + i);
    if (codes.size() != 2 * kCodeCount)
        return Format("liczba znaków kodów po rozmiarze: %u zamiast 34 (17 kodów bajtów po 2 znaki)",
                      codes.size());
    for (int k = 0; k < kCodeCount; ++k) {
        const std::string_view code = codes.substr(static_cast<std::size_t>(2 * k), 2);
        const bool absent = code == "--";
        if (!absent && (code[0] == '-' || code[1] == '-'))
            return Format("kod bajtu %d (\"%s\") jest niepełny", k + 1, std::string(code));
        const std::int64_t offset = SampledOffset(k, length);
        const bool inside = offset >= 0 && offset < length;
        if (inside && absent)
            return Format("kod bajtu %d to \"--\", a przesunięcie %d leży w pliku o tym rozmiarze", k + 1,
                          offset);
        if (!inside && !absent)
            return Format("kod bajtu %d powinien być \"--\": przesunięcie %d leży poza plikiem", k + 1,
                          offset);
    }
    return {};
}

} // namespace qm

TSygnatureManager::TSygnatureManager(std::string fileName, const IFileSystem& fileSystem,
                                     const std::string& executablePath)
    : FFileName(std::move(fileName)), FFileSystem(fileSystem) {
    FDatabaseDate = FileLastWriteTime(executablePath);
    try {
        Load();
    } catch (const EQmError&) {
        // Kept in FLoadError: the program starts with an empty database rather than not at all.
    }
}

void TSygnatureManager::Load() {
    FLoadError.clear();
    if (!FFileSystem.FileExists(FFileName))
        return;
    const qm::TDateTime date = FileLastWriteTime(FFileName);
    std::optional<std::string> bytes = FFileSystem.ReadAll(FFileName);
    if (!bytes) {
        // Gone between the two calls: the same as not being there.
        if (!FFileSystem.FileExists(FFileName))
            return;
        FailLoad(qm::Format("Nie można odczytać bazy sygnatur %s", FFileName));
    }
    // The new contents are built aside and replace the old ones only when complete.
    TSygnatureTable table;
    try {
        table.Assign(DecodeDatabaseText(std::move(*bytes)));
    } catch (const EQmError& e) {
        FailLoad(e.what());
    }
    std::optional<std::string> version;
    if (table.LineCount() > 0 && table.Line(0).starts_with('[')) {
        const std::string_view first = table.Line(0);
        version = std::string(first.substr(1, first.size() >= 2 ? first.size() - 2 : 0));
        table.DropFirstLine();
    }
    table.BuildIndex();

    FTable = std::move(table);
    FHasVersionLine = version.has_value();
    if (version)
        FVersion = *version;
    FDatabaseDate = date;
}

void TSygnatureManager::TakeLoaded(TSygnatureManager& loaded) {
    FFileName = loaded.FFileName;
    FTable = std::move(loaded.FTable);
    loaded.FTable = TSygnatureTable();
    FVersion = loaded.FVersion;
    FDatabaseDate = loaded.FDatabaseDate;
    FHasVersionLine = loaded.FHasVersionLine;
    FLoadError = loaded.FLoadError;
}

void TSygnatureManager::FailLoad(const std::string& message) {
    FLoadError = message;
    throw EQmError(message);
}

TDialerCheck TSygnatureManager::CheckFile(const std::string& path) const {
    const std::optional<std::uint64_t> size = FFileSystem.FileSize(path);
    if (!size)
        return dcMissing;
    return CheckFile(path, *size);
}

TDialerCheck TSygnatureManager::CheckFile(const std::string& path, std::uint64_t size) const {
    if (!FTable.ContainsSize(std::to_string(size)))
        return dcNotDialer;
    // The fingerprint of such a file carries its wrapped 32-bit length, which could equal some
    // other line of the database; a file of 2 GiB or more is never one of its signatures.
    if (size > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()))
        return dcNotDialer;
    const std::string fingerprint = FileFingerprint(path);
    if (fingerprint.empty())
        return dcUnreadable;
    return FTable.ContainsLine(fingerprint) ? dcDialer : dcNotDialer;
}

std::vector<TSygnatureProblem> TSygnatureManager::MalformedLines() const {
    std::vector<TSygnatureProblem> problems;
    const std::size_t firstLineNumber = FHasVersionLine ? 2 : 1;
    const std::size_t count = FTable.LineCount();
    for (std::size_t i = 0; i < count; ++i) {
        const std::string_view line = FTable.Line(i);
        std::string reason = qm::SygnatureLineProblem(line);
        if (!reason.empty())
            problems.push_back({firstLineNumber + i, std::string(line), std::move(reason)});
    }
    return problems;
}
