#include "core/uHookDispatch.h"
#include "core/uHookRecords.h"

#include <gmock/gmock.h>

#include <cstring>

using namespace qm;

namespace {

// Writes UTF-16 units into a record's field without any terminator handling of its own.
void PutUnits(std::vector<std::uint8_t>& record, std::size_t offset, const std::u16string& units) {
    for (std::size_t i = 0; i < units.size(); ++i) {
        record[offset + 2 * i] = static_cast<std::uint8_t>(units[i] & 0xFF);
        record[offset + 2 * i + 1] = static_cast<std::uint8_t>(units[i] >> 8);
    }
}

} // namespace

TEST(HookRecords, DialRequestRoundTripsThroughTheByteLayout) {
    TDialRequest in{0xA1B2C3D4u, "+48 22 123", "/etc/ppp/peers", "dom"};
    const auto bytes = EncodeDialRequest(in);
    ASSERT_EQ(bytes.size(), 1540u);
    EXPECT_EQ(bytes[0], 0xD4);
    EXPECT_EQ(bytes[3], 0xA1);
    EXPECT_EQ(bytes[4], '+');
    EXPECT_EQ(bytes[516], '/');
    EXPECT_EQ(bytes[1028], 'd');
    const TDialRequest out = DecodeDialRequest(bytes);
    EXPECT_EQ(out.RequestTag, in.RequestTag);
    EXPECT_EQ(out.PhoneNumber, in.PhoneNumber);
    EXPECT_EQ(out.PhonebookPath, in.PhonebookPath);
    EXPECT_EQ(out.EntryName, in.EntryName);
}

TEST(HookRecords, UnterminatedFieldsStopAtTheirOwnEnd) {
    // Every unit of every field is non-zero: no field may run into the next one.
    std::vector<std::uint8_t> record(sizeof(TDialRequestData), 0);
    PutUnits(record, 4, std::u16string(256, u'1'));
    PutUnits(record, 516, std::u16string(256, u'p'));
    PutUnits(record, 1028, std::u16string(256, u'e'));
    const TDialRequest r = DecodeDialRequest(record);
    EXPECT_EQ(r.PhoneNumber, std::string(256, '1'));
    EXPECT_EQ(r.PhonebookPath, std::string(256, 'p'));
    EXPECT_EQ(r.EntryName, std::string(256, 'e'));

    std::vector<std::uint8_t> start(sizeof(TProgramStartData), 0);
    PutUnits(start, 0, std::u16string(260, u'a'));
    PutUnits(start, 520, std::u16string(260, u'c'));
    PutUnits(start, 1040, std::u16string(260, u'd'));
    const TProgramStart s = DecodeProgramStart(start);
    EXPECT_EQ(s.ApplicationName, std::string(260, 'a'));
    EXPECT_EQ(s.CommandLine, std::string(260, 'c'));
    EXPECT_EQ(s.CurrentDirectory, std::string(260, 'd'));
}

TEST(HookRecords, Utf16TextDecodesToUtf8) {
    struct TCase {
        const char* Name;
        std::u16string Units;
        std::string Expected;
    } cases[] = {
        {"Polish letters", u"Połączenie ŻÓŁW", "Połączenie ŻÓŁW"},
        {"surrogate pair", u"a\U0001F4DEb",
         "a\xF0\x9F\x93\x9E"
         "b"},
        {"lone high surrogate", std::u16string{u'a', char16_t(0xD83D), u'b'},
         "a\xEF\xBF\xBD"
         "b"},
        {"lone low surrogate", std::u16string{char16_t(0xDCDE), u'x'}, "\xEF\xBF\xBDx"},
        {"text after the terminator ignored", std::u16string{u'1', u'2', 0, u'9'}, "12"},
    };
    for (const TCase& c : cases) {
        std::vector<std::uint8_t> record(sizeof(TDialRequestData), 0);
        PutUnits(record, 1028, c.Units);
        EXPECT_EQ(DecodeDialRequest(record).EntryName, c.Expected) << c.Name;
    }
}

TEST(HookRecords, PairCutByTheFieldEndIsNotCompletedFromTheNextField) {
    std::vector<std::uint8_t> record(sizeof(TDialRequestData), 0);
    std::u16string units(255, u'7');
    units += char16_t(0xD83D); // high half in the last unit of PhoneNumber
    PutUnits(record, 4, units);
    PutUnits(record, 516, std::u16string{char16_t(0xDCDE)}); // a low half opening the next field
    const TDialRequest r = DecodeDialRequest(record);
    EXPECT_EQ(r.PhoneNumber, std::string(255, '7') + "\xEF\xBF\xBD");
    EXPECT_EQ(r.PhonebookPath, "\xEF\xBF\xBD");
}

TEST(HookRecords, EncodingCutsLongTextSoTheTerminatorFits) {
    TDialRequest in;
    in.PhoneNumber = std::string(300, '5');
    in.EntryName = std::string(254, 'x') + "\U0001F4DE"; // the pair would end past unit 255
    const auto bytes = EncodeDialRequest(in);
    const TDialRequest out = DecodeDialRequest(bytes);
    EXPECT_EQ(out.PhoneNumber, std::string(255, '5'));
    EXPECT_EQ(out.EntryName, std::string(254, 'x'));
}

TEST(HookRecords, ShortMessagesNeverReadPastTheirEnd) {
    const auto full = EncodeDialRequest({7, "0202122", "/pb", "dom"});
    // Copies on the heap of exactly the given size, so a read past the end is caught by ASan.
    for (std::size_t size : {0u, 2u, 4u, 5u, 6u, 20u, 516u, 517u, 1539u}) {
        std::vector<std::uint8_t> cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(size));
        const TDialRequest r = DecodeDialRequest(cut);
        EXPECT_EQ(r.RequestTag, size >= 1 ? 7u : 0u) << size;
        EXPECT_EQ(r.PhoneNumber, std::string("0202122").substr(0, size > 4 ? (size - 4) / 2 : 0)) << size;
        EXPECT_EQ(r.EntryName, size == 1539 ? "dom" : "") << size;
    }
}

namespace {

class TRecordingHandler : public IHookHandler {
public:
    std::vector<TDialRequest> Dials;
    std::vector<TProgramStart> Starts;
    std::int32_t DialResult = 1;
    std::int32_t HandleDialRequest(const TDialRequest& r) override {
        Dials.push_back(r);
        return DialResult;
    }
    std::int32_t HandleProgramStart(const TProgramStart& s) override {
        Starts.push_back(s);
        return 0;
    }
};

} // namespace

TEST(HookDispatch, RoutesByKindAndAnswersZeroForEverythingElse) {
    TRecordingHandler handler;
    THookDispatcher dispatcher(handler);
    std::vector<std::string> problems;
    dispatcher.OnProblem = [&](const std::string& p) {
        problems.push_back(p);
    };

    const auto dial = EncodeDialRequest({3, "123", "", ""});
    const auto start = EncodeProgramStart({"/usr/bin/x", "x -y", "/tmp"});
    struct TCase {
        const char* Name;
        std::uint32_t DwData;
        std::vector<std::uint8_t> Record;
        std::int32_t Result;
        std::size_t Dials, Starts, Problems;
    } cases[] = {
        {"dial request", 0, dial, 1, 1, 0, 0},
        {"program start", 1, start, 0, 1, 1, 0},
        {"unknown kind", 2, dial, 0, 1, 1, 1},
        {"short dial request", 0, {dial.begin(), dial.end() - 1}, 0, 1, 1, 2},
        {"dial request with trailing bytes", 0,
         [&] {
             auto r = dial;
             r.push_back(9);
             return r;
         }(),
         1, 2, 1, 2},
        {"short program start", 1, {start.begin(), start.begin() + 1040}, 0, 2, 1, 3},
        {"empty dial request", 0, {}, 0, 2, 1, 4},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(dispatcher.Dispatch(c.DwData, c.Record), c.Result) << c.Name;
        EXPECT_EQ(handler.Dials.size(), c.Dials) << c.Name;
        EXPECT_EQ(handler.Starts.size(), c.Starts) << c.Name;
        EXPECT_EQ(problems.size(), c.Problems) << c.Name;
    }
    EXPECT_EQ(handler.Dials[0].PhoneNumber, "123");
    EXPECT_EQ(handler.Starts[0].CommandLine, "x -y");
}
