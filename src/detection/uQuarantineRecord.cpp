#include "detection/uQuarantineRecord.h"

#include "util/libStrUtilsQmPack.h"

#include <charconv>
#include <cstdio>

namespace qm {

namespace {

std::string Octal(std::uint32_t v) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%04o", static_cast<unsigned>(v));
    return buffer;
}

std::string Time(std::int64_t sec, std::int64_t nsec) {
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%lld.%09lld", static_cast<long long>(sec),
                  static_cast<long long>(nsec));
    return buffer;
}

template <class T> bool Number(std::string_view text, T& out, int base = 10) {
    if (text.empty())
        return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out, base);
    return ec == std::errc() && end == text.data() + text.size();
}

bool ParseTime(std::string_view text, std::int64_t& sec, std::int64_t& nsec) {
    const auto dot = text.find('.');
    if (dot == std::string_view::npos)
        return Number(text, sec) && (nsec = 0, true);
    return Number(text.substr(0, dot), sec) && Number(text.substr(dot + 1), nsec) && nsec >= 0 &&
           nsec < 1000000000;
}

std::vector<std::string_view> Fields(std::string_view text) {
    std::vector<std::string_view> out;
    std::size_t start = 0;
    for (;;) {
        const auto blank = text.find(' ', start);
        out.push_back(text.substr(start, blank - start));
        if (blank == std::string_view::npos)
            return out;
        start = blank + 1;
    }
}

} // namespace

std::string EscapeRecordField(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b == '%' || b <= 0x20 || b == 0x7F) {
            out += '%';
            AppendHexByte(out, b);
        } else {
            out += c;
        }
    }
    return out;
}

std::optional<std::string> UnescapeRecordField(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size())
            return std::nullopt;
        const int hi = HexDigitValue(text[i + 1]);
        const int lo = HexDigitValue(text[i + 2]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return out;
}

std::string FormatQuarantineRecord(const TQuarantineRecord& r) {
    std::string out(kQuarantineRecordHeader);
    out += "\n";
    const auto line = [&](std::string_view key, const std::string& value) {
        out.append(key).append("=").append(value).append("\n");
    };
    line("path", EscapeRecordField(r.OriginalPath));
    line("name", EscapeRecordField(r.StoredName));
    if (r.Vanished) {
        line("vanished", "1");
        if (r.FileRestored)
            line("restored", "1");
    } else {
        line("mode", Octal(r.Facts.Mode));
        line("uid", std::to_string(r.Facts.Uid));
        line("gid", std::to_string(r.Facts.Gid));
        line("mtime", Time(r.Facts.ModifiedSec, r.Facts.ModifiedNsec));
        line("size", std::to_string(r.Facts.Size));
        line("fingerprint", EscapeRecordField(r.Fingerprint));
    }
    line("date", EscapeRecordField(r.Date));
    for (const TQuarantinedEntry& q : r.Entries) {
        const TAutoStartEntry& e = q.Entry;
        line("entry", std::string(e.Kind == akSystemdUnit ? "unit" : "desktop") + " " + Octal(e.Facts.Mode) +
                          " " + std::to_string(e.Facts.Uid) + " " + std::to_string(e.Facts.Gid) + " " +
                          Time(e.Facts.ModifiedSec, e.Facts.ModifiedNsec) + " " +
                          EscapeRecordField(e.Location) + " " + EscapeRecordField(e.Name) + " " +
                          EscapeRecordField(q.BackupName));
        for (const TAutoStartLink& l : e.Links)
            line("link", EscapeRecordField(l.Path) + " " + EscapeRecordField(l.Target));
    }
    return out;
}

std::optional<TQuarantineRecord> ParseQuarantineRecord(std::string_view text) {
    const std::vector<std::string> lines = SplitLines(text);
    if (lines.empty() || lines.front() != kQuarantineRecordHeader)
        return std::nullopt;
    TQuarantineRecord r;
    bool havePath = false, haveName = false;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::string& l = lines[i];
        if (l.empty())
            continue;
        const auto eq = l.find('=');
        if (eq == std::string::npos)
            return std::nullopt;
        const std::string_view key = std::string_view(l).substr(0, eq);
        const std::string_view value = std::string_view(l).substr(eq + 1);
        const auto text = UnescapeRecordField(value);
        if (!text)
            return std::nullopt;
        bool ok = true;
        if (key == "path") {
            r.OriginalPath = *text;
            havePath = true;
        } else if (key == "name") {
            r.StoredName = *text;
            haveName = true;
        } else if (key == "mode") {
            ok = Number(value, r.Facts.Mode, 8);
        } else if (key == "uid") {
            ok = Number(value, r.Facts.Uid);
        } else if (key == "gid") {
            ok = Number(value, r.Facts.Gid);
        } else if (key == "mtime") {
            ok = ParseTime(value, r.Facts.ModifiedSec, r.Facts.ModifiedNsec);
        } else if (key == "size") {
            ok = Number(value, r.Facts.Size);
        } else if (key == "fingerprint") {
            r.Fingerprint = *text;
        } else if (key == "vanished") {
            ok = value == "1" || value == "0";
            r.Vanished = value == "1";
        } else if (key == "restored") {
            ok = value == "1" || value == "0";
            r.FileRestored = value == "1";
        } else if (key == "date") {
            r.Date = *text;
        } else if (key == "entry") {
            const auto f = Fields(value);
            if (f.size() != 8 || (f[0] != "desktop" && f[0] != "unit"))
                return std::nullopt;
            TQuarantinedEntry q;
            q.Entry.Kind = f[0] == "unit" ? akSystemdUnit : akDesktopEntry;
            const auto location = UnescapeRecordField(f[5]);
            const auto name = UnescapeRecordField(f[6]);
            const auto backup = UnescapeRecordField(f[7]);
            ok = Number(f[1], q.Entry.Facts.Mode, 8) && Number(f[2], q.Entry.Facts.Uid) &&
                 Number(f[3], q.Entry.Facts.Gid) &&
                 ParseTime(f[4], q.Entry.Facts.ModifiedSec, q.Entry.Facts.ModifiedNsec) && location && name &&
                 backup && !name->empty() && name->find('/') == std::string::npos && !backup->empty() &&
                 backup->find('/') == std::string::npos && *backup != ".." && *name != "..";
            if (ok) {
                q.Entry.Location = *location;
                q.Entry.Name = *name;
                q.BackupName = *backup;
                r.Entries.push_back(std::move(q));
            }
        } else if (key == "link") {
            const auto f = Fields(value);
            if (f.size() != 2 || r.Entries.empty())
                return std::nullopt;
            const auto path = UnescapeRecordField(f[0]);
            const auto target = UnescapeRecordField(f[1]);
            ok = path && target && !path->empty();
            if (ok)
                r.Entries.back().Entry.Links.push_back({*path, *target});
        }
        if (!ok)
            return std::nullopt;
    }
    // The stored name is a name within the quarantine folder, never a path out of it.
    if (!havePath || !haveName || r.OriginalPath.empty() || r.StoredName.empty() ||
        r.StoredName.find('/') != std::string::npos || r.StoredName == "." || r.StoredName == "..")
        return std::nullopt;
    return r;
}

} // namespace qm
