// The virtual sign's decoder against the plug-ins' own encoders, and against broken input.
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "RecordingLine.h"
#include "SignCases.h"
#include "tools/signview/SignDecoder.h"
#include "tools/common/TextCodec.h"

namespace ledsign::test {
namespace {

using tools::SignDecoder;
using tools::SignEvent;

// Sign models for the protocol cases, written out here: one of each kind the protocols allow.
const SignModel kTwoRowHeaderSign{"two-row header sign", {}, SignProtocol::kHeaderFramedTwoRows, {0x58, 0x20}, {}, {}};
const SignModel kOneRowHeaderSign{"one-row header sign", {}, SignProtocol::kHeaderFramedOneRow, {0x40, 0x10}, {}, {}};
const SignModel kOneCodeEscSign{"one-code ESC sign", {}, SignProtocol::kEscLine, {}, {{0x01, 0x01}}, {}};
const SignModel kTwoCodeEscSign{"two-code ESC sign", {}, SignProtocol::kEscLine, {}, {{0x04, 0x05}}, {}};

// A host call: write the text, or clear the sign when there is none.
using HostCall = std::optional<std::string>;

// What the product's encoders put on the line for the calls.
std::string Encode(const SignModel& model, const std::vector<HostCall>& calls) {
    RecordingLine line;
    for (const HostCall& call : calls) {
        switch (model.protocol) {
            case SignProtocol::kHeaderFramedTwoRows:
                call ? WriteTwoRowText(line, model.headerFormat, call->c_str()) : WriteHeaderFramedClear(line);
                break;
            case SignProtocol::kHeaderFramedOneRow:
                call ? WriteOneRowText(line, model.headerFormat, call->c_str()) : WriteHeaderFramedClear(line);
                break;
            case SignProtocol::kEscLine:
                call ? WriteEscLineText(line, model.escFormat, call->c_str()) : WriteEscLineClear(line, model.escFormat);
                break;
        }
    }
    return line.OnLine();
}

// Events as short texts: "row1=AB" ("row1=<UTF-8>|<GBK hex>" as the virtual sign shows it, when
// `shown`), "clear", "bad:<reason>".
std::vector<std::string> Summaries(const std::vector<SignEvent>& events, bool shown = false) {
    std::vector<std::string> summaries;
    for (const SignEvent& event : events) {
        const std::string text = shown ? tools::GbkToUtf8Lenient(event.text) + "|" + Hex(event.text) : event.text;
        if (event.kind == SignEvent::kRow) summaries.push_back("row" + std::to_string(event.row) + "=" + text);
        if (event.kind == SignEvent::kClear) summaries.push_back("clear");
        if (event.kind == SignEvent::kMalformed) summaries.push_back("bad:" + event.reason);
    }
    return summaries;
}

// What a new decoder makes of the pieces, fed in turn, and the end of the line.
std::vector<SignEvent> Decode(const SignModel& model, const std::vector<std::string>& pieces) {
    SignDecoder decoder(model);
    std::vector<SignEvent> events;
    for (const std::string& piece : pieces) decoder.Feed(piece, events);
    decoder.Flush(events);
    return events;
}

// Malformed reasons are compared by their start, so the details can grow.
void ExpectEvents(const std::vector<std::string>& actual, const std::vector<std::string>& expected) {
    ASSERT_EQ(actual.size(), expected.size()) << ::testing::PrintToString(actual);
    for (size_t index = 0; index < expected.size(); ++index) {
        EXPECT_EQ(actual[index].substr(0, expected[index].size()), expected[index]) << "event " << index;
        if (expected[index].rfind("bad:", 0) != 0) EXPECT_EQ(actual[index], expected[index]);
    }
}

// The bytes decoded whole and byte by byte: the expected events either way.
void ExpectDecoded(const SignModel& model, const std::string& bytes, const std::vector<std::string>& expected) {
    std::vector<std::string> byteByByte;
    for (const char byte : bytes) byteByByte.emplace_back(1, byte);
    ExpectEvents(Summaries(Decode(model, {bytes})), expected);
    ExpectEvents(Summaries(Decode(model, byteByByte)), expected);
}

const std::string k199(199, 'x');
const std::string k200(200, 'y');
const std::string kTwoChinese = "\xC9\xCF\xBA\xA3";  // 上海

TEST(SignDecoder, ShowsWhatTheEncodersSend) {
    struct Case {
        const char* name;
        const SignModel& model;
        std::vector<HostCall> calls;
        std::vector<std::string> events;
    };
    const Case cases[] = {
        {"two-row header: two rows", kTwoRowHeaderSign, {"AB#D"}, {"row1=AB", "row2=D"}},
        {"two-row header: no hash: row 2 a space", kTwoRowHeaderSign, {"ABC"}, {"row1=ABC", "row2= "}},
        {"two-row header: empty text", kTwoRowHeaderSign, {""}, {"row1= ", "row2= "}},
        {"two-row header: leading hash", kTwoRowHeaderSign, {"#XYZ"}, {"row1= ", "row2=XYZ"}},
        {"two-row header: cut at the first hash", kTwoRowHeaderSign, {"A#B#D"}, {"row1=A", "row2=B#D"}},
        {"two-row header: Chinese", kTwoRowHeaderSign, {kTwoChinese + "#OK"}, {"row1=" + kTwoChinese, "row2=OK"}},
        {"two-row header: longest row", kTwoRowHeaderSign, {k199 + "#z"}, {"row1=" + k199, "row2=z"}},
        {"two-row header: clear", kTwoRowHeaderSign, {std::nullopt}, {"clear"}},
        {"two-row header: write, clear, write", kTwoRowHeaderSign, {"A#B", std::nullopt, "C"},
         {"row1=A", "row2=B", "clear", "row1=C", "row2= "}},
        {"one-row header: hash is text", kOneRowHeaderSign, {"A#B"}, {"row1=A#B"}},
        {"one-row header: empty text", kOneRowHeaderSign, {""}, {"row1="}},
        {"one-row header: 255 bytes", kOneRowHeaderSign, {std::string(255, 'q')}, {"row1=" + std::string(255, 'q')}},
        {"one-row header: clear", kOneRowHeaderSign, {std::nullopt, "Z"}, {"clear", "row1=Z"}},
        {"one code: both rows on its one row", kOneCodeEscSign, {"AB#D"}, {"row1=AB", "row1=D"}},
        {"one code: clear", kOneCodeEscSign, {std::nullopt}, {"row1=", "row1="}},
        {"two codes: two rows", kTwoCodeEscSign, {"AB#D"}, {"row1=AB", "row2=D"}},
        {"two codes: row 2 only", kTwoCodeEscSign, {"#XY"}, {"row2=XY"}},
        {"two codes: hash after hash", kTwoCodeEscSign, {"A#B##D"}, {"row1=A", "row2=B#D"}},
        {"two codes: empty text", kTwoCodeEscSign, {""}, {}},
        {"two codes: longest row", kTwoCodeEscSign, {k200}, {"row1=" + k200}},
        {"two codes: Chinese", kTwoCodeEscSign, {kTwoChinese + "#" + kTwoChinese},
         {"row1=" + kTwoChinese, "row2=" + kTwoChinese}},
        {"two codes: clear", kTwoCodeEscSign, {std::nullopt}, {"row1=", "row2="}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectDecoded(c.model, Encode(c.model, c.calls), c.events);
    }
}

TEST(SignDecoder, ReportsMalformedAndTruncatedFrames) {
    const std::string header = Bytes("05 01 03 01 00 58 20");
    const std::string clear = Bytes("2A 30 31 44 0D");
    struct Case {
        const char* name;
        const SignModel& model;
        std::string bytes;
        std::vector<std::string> events;
    };
    const Case cases[] = {
        {"header cut short by the next frame", kTwoRowHeaderSign, Bytes("05 01 03") + header + "\x02" "AB",
         {"bad:truncated header", "row1=AB"}},
        {"header cut short by a clear", kTwoRowHeaderSign, Bytes("05 01") + clear, {"bad:truncated header", "clear"}},
        {"header cut short by the line going quiet", kTwoRowHeaderSign, Bytes("05 01 03 01"), {"bad:truncated frame"}},
        {"text cut short", kTwoRowHeaderSign, header + "\x05" "AB", {"bad:truncated frame"}},
        {"wrong lead byte", kTwoRowHeaderSign, "AB" + header + "\x01" "C", {"bad:bytes outside any frame", "row1=C"}},
        {"garbage between frames", kTwoRowHeaderSign, header + "\x01" "C" + Bytes("FF 00") + clear,
         {"row1=C", "bad:bytes outside any frame", "clear"}},
        {"another model's header", kTwoRowHeaderSign, Bytes("05 01 03 01 00 40 10 01 41"),
         {"bad:malformed header: header byte 5 is 40 where 58 belongs", "bad:bytes outside any frame"}},
        {"row 3 on a two-row sign", kTwoRowHeaderSign, Bytes("05 01 03 03"), {"bad:malformed header: row"}},
        {"row 2 on a one-row sign", kOneRowHeaderSign, Bytes("05 01 03 02"), {"bad:malformed header: row"}},
        {"misspelt clear", kOneRowHeaderSign, Bytes("2A 30 32"), {"bad:malformed clear command"}},
        {"clear cut short", kOneRowHeaderSign, Bytes("2A 30 2A 30 31 44 0D"), {"bad:truncated clear command", "clear"}},
        {"ESC-line garbage", kTwoCodeEscSign, "junk" + Bytes("1B 01 04 41 0D"), {"bad:bytes outside any frame", "row1=A"}},
        {"unknown row code", kTwoCodeEscSign, Bytes("1B 01 07 41 0D"),
         {"bad:malformed frame: unknown row code 07", "bad:bytes outside any frame"}},
        {"a second code on a one-code sign", kOneCodeEscSign, Bytes("1B 01 04"), {"bad:malformed frame: unknown row code"}},
        {"wrong second byte", kOneCodeEscSign, Bytes("1B 02"), {"bad:malformed frame: byte 1"}},
        {"frame without its carriage return", kTwoCodeEscSign, Bytes("1B 01 04 41 42 1B 01 05 44 0D"),
         {"bad:truncated frame", "row2=D"}},
        {"frame cut after its lead", kTwoCodeEscSign, Bytes("1B 1B 01 05 44 0D"), {"bad:truncated frame", "row2=D"}},
        {"line quiet before the carriage return", kOneCodeEscSign, Bytes("1B 01 01 41"), {"bad:truncated frame"}},
        {"overlong row skipped to its end", kTwoCodeEscSign,
         Bytes("1B 01 04") + std::string(250, 'A') + "\r" + Bytes("1B 01 05 42 0D"), {"bad:row longer than 200 bytes", "row2=B"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectDecoded(c.model, c.bytes, c.events);
    }
}

// Each built model's description decodes what its plug-in sends, as its row of the table says,
// and gives the virtual sign the face the table gives it.
TEST(SignDecoder, EachModelDecodesItsPluginsLine) {
    for (const SignCase& c : kSignCases) {
        SCOPED_TRACE(c.sign);
        const SignModel* model = tools::FindSignModel(c.sign);
        ASSERT_NE(model, nullptr);
        EXPECT_EQ(model->geometry.width, c.width);
        EXPECT_EQ(model->geometry.height, c.height);
        EXPECT_EQ(model->geometry.rows, c.rows);
        EXPECT_EQ(Summaries(Decode(*model, {Bytes(c.chineseBytes) + Bytes(c.clearBytes)}), true), c.emulatorEvents);
    }
    EXPECT_EQ(tools::FindSignModel("nosuchsign"), nullptr);
}

TEST(SignDecoder, MalformedEventsCarryTheirBytesAndPosition) {
    const std::vector<SignEvent> events = Decode(kTwoCodeEscSign, {"xy" + Bytes("1B 01 04 41 1B 01 05 0D")});
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].bytes, "xy");
    EXPECT_EQ(events[0].offset, 0u);
    EXPECT_EQ(events[1].bytes, Bytes("1B 01 04 41"));
    EXPECT_EQ(events[1].offset, 2u);
    EXPECT_EQ(events[2].offset, 6u);
}

// Random line noise, whole and in random chunks: the same events either way, and every
// malformed event names its bytes.
TEST(SignDecoder, NoiseDecodesTheSameInAnyChunking) {
    std::mt19937 random(20240607);
    for (const SignModel* model : {&kTwoRowHeaderSign, &kOneRowHeaderSign, &kOneCodeEscSign, &kTwoCodeEscSign}) {
        SCOPED_TRACE(model->name);
        std::string noise;
        // Biased towards the protocols' own bytes, so that frames almost form.
        const uint8_t common[] = {0x05, 0x01, 0x03, 0x00, 0x58, 0x20, 0x40, 0x10, 0x2A, 0x30, 0x31, 0x44, 0x0D, 0x1B, 0x04};
        for (int index = 0; index < 50000; ++index) {
            noise += static_cast<char>(random() % 3 ? common[random() % sizeof common] : random() % 256);
        }
        std::vector<std::string> chunks;
        for (size_t done = 0, size; done < noise.size(); done += size) {
            size = std::min<size_t>(random() % 40, noise.size() - done);
            chunks.push_back(noise.substr(done, size));
        }
        const std::vector<SignEvent> chunked = Decode(*model, chunks);
        EXPECT_EQ(Summaries(chunked), Summaries(Decode(*model, {noise})));
        for (const SignEvent& event : chunked) {
            if (event.kind == SignEvent::kMalformed) EXPECT_FALSE(event.bytes.empty()) << event.reason;
        }
    }
}

}  // namespace
}  // namespace ledsign::test
