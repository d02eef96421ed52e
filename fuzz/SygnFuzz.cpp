// The signature database as it may come from a server: any bytes. Oracle: every loaded line is
// found by the index in any letter case, its size field too, and nothing else is.
#include "FuzzCheck.h"
#include "detection/uSygnatureManager.h"
#include "fakes/FakePorts.h"
#include "util/libStrUtilsQmPack.h"

#include <string_view>
#include <unordered_set>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    TFakeFileSystem fs;
    fs.Put("/db/Sygn.ini", bytes);
    TSygnatureManager db("/db/Sygn.ini", fs, "/prog/QmVardel");
    const TTextList lines = db.Lines();
    std::unordered_set<std::string> folded; // the reference: every line, lower case
    for (const std::string_view line : lines)
        folded.insert(qm::LowerAscii(line));
    std::size_t checked = 0;
    for (const std::string_view line : lines) {
        if (++checked > 2000)
            break;
        QM_FUZZ_CHECK(lines.Contains(line), "a loaded line is not found");
        QM_FUZZ_CHECK(lines.Contains(qm::UpperAscii(line)), "a line in upper case is not found");
        QM_FUZZ_CHECK(db.SizeIndex().Contains(qm::SizeField(line)), "a line's size field is not found");
        const std::string other = std::string(line) + "\x01";
        QM_FUZZ_CHECK(lines.Contains(other) == (folded.count(qm::LowerAscii(other)) != 0),
                      "the index and the lines disagree");
    }
    const TTextList sizes = db.SizeIndex();
    for (std::size_t i = 1; i < sizes.size() && i < 2000; ++i)
        QM_FUZZ_CHECK(qm::LessText(sizes[i - 1], sizes[i]), "size fields not sorted and distinct");
    (void)db.MalformedLines();
    // A file the database may be asked about: its fingerprint is computed and looked up.
    fs.Put("/f", bytes.substr(0, 1600));
    (void)db.CheckFile("/f");
    return 0;
}
