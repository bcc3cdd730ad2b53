// The header-framed encoders (two rows, one row) against a recording line, with the header's
// model and dots bytes written out here.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RecordingLine.h"
#include "signs/HeaderFramed.h"

namespace ledsign::test {
namespace {

using Trace = std::vector<std::string>;

constexpr HeaderFrameFormat kTwoRowSign{0x58, 0x20};  // a 32-dot two-row sign
constexpr HeaderFrameFormat kOneRowSign{0x40, 0x10};  // a 16-dot one-row sign

enum Encoder { kTwoRows, kOneRow };

// What the encoder puts on a line whose `failing` writes fail, counted from 1; its result in `result`.
Trace Sent(Encoder encoder, const std::string& text, std::set<uint32_t> failing, int32_t& result) {
    RecordingLine line;
    line.FailWrites(std::move(failing));
    result = encoder == kOneRow ? WriteOneRowText(line, kOneRowSign, text.c_str())
                                : WriteTwoRowText(line, kTwoRowSign, text.c_str());
    return line.Trace();
}

struct TwoRowCase {
    const char* name;
    std::string text;
    std::string row1;  // hex of the row-1 text write
    std::string row2;
};

TEST(TwoRowEncoder, SplitsAtFirstHashAndSendsFourWritesWithPauses) {
    const std::string twoChinese = "\xD6\xD0\xCE\xC4";
    const TwoRowCase cases[] = {
        {"two rows", "AB#D", "41 42", "44"},
        {"no hash: row 2 is a space", "ABC", "41 42 43", "20"},
        {"empty text", "", "20", "20"},
        {"hash alone", "#", "20", "20"},
        {"leading hash", "#XYZ", "20", "58 59 5A"},
        {"later hashes are text", "A#B#D", "41", "42 23 44"},
        {"trailing hash", "ABC#", "41 42 43", "20"},
        {"Chinese row", twoChinese + "#A", "D6 D0 CE C4", "41"},
    };
    for (const TwoRowCase& c : cases) {
        SCOPED_TRACE(c.name);
        int32_t result = 0;
        const Trace trace = Sent(kTwoRows, c.text, {}, result);
        const auto length = [](const std::string& hex) { return (hex.size() + 1) / 3; };
        char header1[40], header2[40];
        std::snprintf(header1, sizeof header1, "w:05 01 03 01 00 58 20 %02zX", length(c.row1));
        std::snprintf(header2, sizeof header2, "w:05 01 03 02 00 58 20 %02zX", length(c.row2));
        EXPECT_EQ(trace, (Trace{header1, "w:" + c.row1, "p:100", header2, "w:" + c.row2, "p:100"}));
        EXPECT_EQ(result, 1);
    }
}

TEST(TwoRowEncoder, CutsLongRowsAtACharacterBoundary) {
    struct Case {
        const char* name;
        std::string row;
        size_t sent;
    };
    const Case cases[] = {
        {"199 bytes fit", std::string(199, 'A'), 199},
        {"200 bytes cut to 199", std::string(200, 'A'), 199},
        {"GBK character across the cut", std::string(198, 'A') + "\xD6\xD0", 198},
        {"GBK character ending at the cut", std::string(197, 'A') + "\xD6\xD0" + "BB", 199},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingLine line;
        ASSERT_EQ(WriteTwoRowText(line, kTwoRowSign, (c.row + "#" + c.row).c_str()), 1);
        const auto& events = line.Calls();
        for (size_t header : {0u, 3u}) {
            EXPECT_EQ(static_cast<uint8_t>(events[header].bytes[7]), c.sent);
            EXPECT_EQ(events[header + 1].bytes, c.row.substr(0, c.sent));
        }
    }
}

TEST(TwoRowEncoder, ReportsAnyFailedWriteButKeepsTheBytesOfTheProtocol) {
    struct Case {
        uint32_t failingWrite;
        Trace trace;
    };
    const Case cases[] = {
        // Row 1 is untested on the line: its failure neither stops nor shortens the call.
        {1, {"w:05 01 03 01 00 58 20 02!", "w:41 42", "p:100", "w:05 01 03 02 00 58 20 01", "w:44", "p:100"}},
        {2, {"w:05 01 03 01 00 58 20 02", "w:41 42!", "p:100", "w:05 01 03 02 00 58 20 01", "w:44", "p:100"}},
        // Row 2 stops at its first failure, with no pause after it.
        {3, {"w:05 01 03 01 00 58 20 02", "w:41 42", "p:100", "w:05 01 03 02 00 58 20 01!"}},
        {4, {"w:05 01 03 01 00 58 20 02", "w:41 42", "p:100", "w:05 01 03 02 00 58 20 01", "w:44!"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failingWrite);
        int32_t result = 0;
        EXPECT_EQ(Sent(kTwoRows, "AB#D", {c.failingWrite}, result), c.trace);
        EXPECT_EQ(result, -1);
    }
}

TEST(OneRowEncoder, SendsTheWholeTextAsOneRow) {
    struct Case {
        const char* name;
        std::string text;
        Trace trace;
    };
    const Case cases[] = {
        {"hash is ordinary", "A#B", {"w:05 01 03 01 00 40 10 03", "w:41 23 42", "p:200"}},
        {"empty text keeps length 0", "", {"w:05 01 03 01 00 40 10 00", "w:", "p:200"}},
        {"Chinese", "\xD6\xD0\xCE\xC4", {"w:05 01 03 01 00 40 10 04", "w:D6 D0 CE C4", "p:200"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int32_t result = 0;
        EXPECT_EQ(Sent(kOneRow, c.text, {}, result), c.trace);
        EXPECT_EQ(result, 1);
    }
}

TEST(OneRowEncoder, CutsTextsOver255BytesSoTheLengthByteMatches) {
    struct Case {
        std::string text;
        size_t sent;
    };
    const Case cases[] = {
        {std::string(255, 'A'), 255},
        {std::string(300, 'A'), 255},
        {std::string(254, 'A') + "\xD6\xD0", 254},
    };
    for (const Case& c : cases) {
        RecordingLine line;
        ASSERT_EQ(WriteOneRowText(line, kOneRowSign, c.text.c_str()), 1);
        EXPECT_EQ(static_cast<uint8_t>(line.Calls()[0].bytes[7]), c.sent);
        EXPECT_EQ(line.Calls()[1].bytes, c.text.substr(0, c.sent));
    }
}

TEST(OneRowEncoder, StopsAtTheFirstFailedWriteWithoutPause) {
    int32_t result = 0;
    EXPECT_EQ(Sent(kOneRow, "A", {1}, result), (Trace{"w:05 01 03 01 00 40 10 01!"}));
    EXPECT_EQ(result, -1);
    EXPECT_EQ(Sent(kOneRow, "A", {2}, result), (Trace{"w:05 01 03 01 00 40 10 01", "w:41!"}));
    EXPECT_EQ(result, -1);
}

TEST(HeaderFramedClear, SendsStarZeroOneDInOneWriteAndReportsIt) {
    RecordingLine line;
    EXPECT_EQ(WriteHeaderFramedClear(line), 1);
    EXPECT_EQ(line.Trace(), (Trace{"w:2A 30 31 44 0D"}));
    RecordingLine failing;
    failing.FailWrites({1});
    EXPECT_EQ(WriteHeaderFramedClear(failing), -1);
}

}  // namespace
}  // namespace ledsign::test
