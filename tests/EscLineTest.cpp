// The ESC-line encoder against a recording line, with row codes written out here: a sign with a
// code for each row, and one whose two rows share a code.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RecordingLine.h"
#include "signs/EscLine.h"

namespace ledsign::test {
namespace {

using Trace = std::vector<std::string>;

constexpr EscLineFormat kTwoCodes{{0x04, 0x05}};
constexpr EscLineFormat kOneCode{{0x01, 0x01}};

Trace Frame(const char* code, const char* text) {
    return {"w:1B", "w:01", std::string("w:") + code, std::string("w:") + text, "w:0D", "p:1"};
}

Trace Join(Trace first, const Trace& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

TEST(EscLineEncoder, FramesEachRowInFiveWritesWithItsRowCode) {
    struct Case {
        const char* name;
        const EscLineFormat& format;
        std::string text;
        Trace trace;
    };
    const Case cases[] = {
        {"two rows", kTwoCodes, "AB#D", Join(Frame("04", "41 42"), Frame("05", "44"))},
        {"two rows, one code", kOneCode, "AB#D", Join(Frame("01", "41 42"), Frame("01", "44"))},
        {"no hash: row 1 only", kTwoCodes, "ABC", Frame("04", "41 42 43")},
        {"leading hash: row 2 only", kTwoCodes, "#XY", Frame("05", "58 59")},
        {"every examined hash dropped", kTwoCodes, "A#B#D", Join(Frame("04", "41"), Frame("05", "42 44"))},
        {"byte after a hash unexamined", kTwoCodes, "A#B##D",
         Join(Frame("04", "41"), Frame("05", "42 23 44"))},
        {"double hash", kTwoCodes, "A##B", Join(Frame("04", "41"), Frame("05", "23 42"))},
        {"trailing hash adds nothing", kTwoCodes, "AB#", Frame("04", "41 42")},
        {"hash alone sends nothing", kTwoCodes, "#", {}},
        {"empty text sends nothing", kTwoCodes, "", {}},
        {"Chinese", kTwoCodes, "\xC9\xCF#\xBA\xA3", Join(Frame("04", "C9 CF"), Frame("05", "BA A3"))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingLine line;
        EXPECT_EQ(WriteEscLineText(line, c.format, c.text.c_str()), 1);
        EXPECT_EQ(line.Trace(), c.trace);
    }
}

TEST(EscLineEncoder, CutsRowsTo200BytesAtACharacterBoundary) {
    struct Case {
        const char* name;
        std::string row;
        size_t sent;
    };
    const Case cases[] = {
        {"exactly 200", std::string(200, 'A'), 200},
        {"201 cut to 200", std::string(201, 'A'), 200},
        {"GBK character across the cut", std::string(199, 'A') + "\xD6\xD0", 199},
        {"many GBK characters", std::string(300, '\xB0'), 200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingLine line;
        ASSERT_EQ(WriteEscLineText(line, kTwoCodes, (c.row + "#" + c.row).c_str()), 1);
        EXPECT_EQ(line.Calls()[3].bytes, c.row.substr(0, c.sent));
        EXPECT_EQ(line.Calls()[9].bytes, c.row.substr(0, c.sent));
    }
}

TEST(EscLineEncoder, StopsAtAFailedWriteOfEitherFrameWithoutPause) {
    const char* const writes[] = {"1B", "01", "04", "41 42", "0D", "1B", "01", "05", "44", "0D"};
    for (uint32_t failing = 1; failing <= 10; ++failing) {
        SCOPED_TRACE(failing);
        RecordingLine line;
        line.FailWrites({failing});
        EXPECT_EQ(WriteEscLineText(line, kTwoCodes, "AB#D"), -1);
        // Every write before the failed one, the pause only after a complete row-1 frame.
        Trace expected;
        for (uint32_t write = 1; write <= failing; ++write) {
            expected.push_back(std::string("w:") + writes[write - 1] + (write == failing ? "!" : ""));
            if (write == 5 && failing > 5) expected.push_back("p:1");
        }
        EXPECT_EQ(line.Trace(), expected);
    }
}

TEST(EscLineClear, SendsBothEmptyRowFramesAndReportsEitherFailure) {
    struct Case {
        const EscLineFormat& format;
        std::set<uint32_t> failing;
        Trace trace;
        int32_t result;
    };
    const Case cases[] = {
        {kTwoCodes, {}, {"w:1B 01 04 0D", "w:1B 01 05 0D"}, 1},
        {kOneCode, {}, {"w:1B 01 01 0D", "w:1B 01 01 0D"}, 1},
        {kTwoCodes, {1}, {"w:1B 01 04 0D!", "w:1B 01 05 0D"}, -1},
        {kTwoCodes, {2}, {"w:1B 01 04 0D", "w:1B 01 05 0D!"}, -1},
    };
    for (const Case& c : cases) {
        RecordingLine line;
        line.FailWrites(c.failing);
        EXPECT_EQ(WriteEscLineClear(line, c.format), c.result);
        EXPECT_EQ(line.Trace(), c.trace);
    }
}

}  // namespace
}  // namespace ledsign::test
