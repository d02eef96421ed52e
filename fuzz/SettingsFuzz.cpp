// The settings file: any content (8-bit, UTF-16, broken), then a few writes of any text. Oracle:
// after every write a fresh read of the file gives exactly what was written, no other section
// appears or goes, every other section keeps its values, and a refused write changes nothing.
#include "FuzzCheck.h"
#include "core/uAppIni.h"
#include "fakes/FakePorts.h"
#include "util/libStrUtilsQmPack.h"
#include "util/uQmError.h"
#include "util/uTextFile.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <map>
#include <set>

namespace {

const std::string kPath = "/p/QmVardel.ini";

// The sections a file holds, as any reader of the format sees them: a line starting with "["
// (blanks aside) opens the section named up to "]".
std::set<std::string> Sections(const std::string& bytes) {
    std::set<std::string> names;
    for (const qm::TTextLine& line : qm::DecodeTextFile(bytes).Lines) {
        const std::string t = qm::Trim(line.Text);
        if (t.empty() || t[0] != '[')
            continue;
        const auto close = t.find(']');
        names.insert(qm::LowerAscii(qm::Trim(t.substr(1, close == std::string::npos ? close : close - 1))));
    }
    return names;
}

std::map<std::string, std::vector<std::string>> Lists(TAppIni& ini, const std::set<std::string>& sections) {
    std::map<std::string, std::vector<std::string>> lists;
    for (const std::string& s : sections)
        ini.ReadList(s, lists[s]);
    return lists;
}

std::string SectionName(FuzzedDataProvider& in) {
    static const char* const names[] = {"main", "MAIN", "allowed_connections", "day_statistics",
                                        "user notes"};
    const auto pick = in.ConsumeIntegralInRange<std::size_t>(0, std::size(names));
    return pick < std::size(names) ? names[pick] : in.ConsumeRandomLengthString(16);
}

// One write's effect on the section it went to: at most one value changed, or one added.
bool OneValueSet(const std::vector<std::string>& before, const std::vector<std::string>& after,
                 const std::string& value) {
    std::size_t i = 0;
    while (i < before.size() && i < after.size() && before[i] == after[i])
        ++i;
    if (after.size() == before.size())
        return i == after.size() ||
               (after[i] == value && std::equal(after.begin() + i + 1, after.end(), before.begin() + i + 1));
    return after.size() == before.size() + 1 && after[i] == value &&
           std::equal(after.begin() + i + 1, after.end(), before.begin() + i);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    TFakeFileSystem fs;
    fs.Put(kPath, in.ConsumeRandomLengthString(4096));
    TAppIni ini(kPath, fs);
    for (int op = 0; op < 6 && in.remaining_bytes() > 0; ++op) {
        const std::string before = fs.Files[kPath].Content;
        const std::set<std::string> sectionsBefore = Sections(before);
        const auto listsBefore = Lists(ini, sectionsBefore);
        const int kind = in.ConsumeIntegralInRange(0, 3);
        const std::string section = SectionName(in);
        const std::string lowered = qm::LowerAscii(section);
        std::string key, value;
        std::vector<std::string> list;
        bool raised = false;
        try {
            if (kind == 0) {
                key = in.ConsumeRandomLengthString(24);
                value = in.ConsumeRandomLengthString(32);
                ini.WriteString(key, value, section);
            } else if (kind == 1) {
                key = in.ConsumeRandomLengthString(24);
                const int v = in.ConsumeIntegral<int>();
                value = std::to_string(v);
                ini.WriteInt(key, v, section);
                QM_FUZZ_CHECK(ini.ReadInt(key, v == 0 ? 1 : 0, section) == v, "integer read back");
            } else if (kind == 2) {
                for (int n = in.ConsumeIntegralInRange(0, 4); n > 0; --n)
                    list.push_back(in.ConsumeRandomLengthString(24));
                ini.WriteList(section, list);
            } else {
                ini.EraseSection(section);
            }
        } catch (const EQmError&) {
            raised = true;
        }
        const std::string after = fs.Files[kPath].Content;
        if (raised) {
            QM_FUZZ_CHECK(after == before, "a refused write changed the file");
            continue;
        }
        TAppIni fresh(kPath, fs);
        std::set<std::string> expected = sectionsBefore;
        if (kind <= 1 || (kind == 2 && !list.empty()))
            expected.insert(lowered);
        else
            expected.erase(lowered);
        QM_FUZZ_CHECK(Sections(after) == expected, "a section appeared or went");
        for (const auto& [name, values] : listsBefore) {
            if (name == lowered)
                continue;
            std::vector<std::string> now;
            fresh.ReadList(name, now);
            QM_FUZZ_CHECK(now == values, "another section's values changed");
        }
        std::vector<std::string> now;
        fresh.ReadList(section, now);
        const auto old = listsBefore.find(lowered);
        if (kind <= 1) {
            QM_FUZZ_CHECK(fresh.ReadString(key, value + "?", section) == value, "value read back");
            QM_FUZZ_CHECK(ini.ReadString(key, value + "?", section) == value, "memory and file differ");
            QM_FUZZ_CHECK(
                OneValueSet(old == listsBefore.end() ? std::vector<std::string>() : old->second, now, value),
                "more than one value of the section changed");
        } else if (kind == 2) {
            QM_FUZZ_CHECK(now == list, "list read back");
        } else {
            QM_FUZZ_CHECK(now.empty() && !fresh.SectionExists(section), "erased section still there");
        }
    }
    return 0;
}
