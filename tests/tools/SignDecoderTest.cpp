// The virtual sign's decoder against the plug-ins' own encoders, and against broken input.
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "signs/brava.h"
#include "signs/cresto.h"
#include "signs/dorun.h"
#include "signs/elvane.h"
#include "tools/SignDecoder.h"

namespace ledsign::test {
namespace {

using tools::SignDecoder;
using tools::SignEvent;
using tools::SignModel;

// A line that keeps every byte written to it, as the sign receives them.
struct StringLine {
    std::string bytes;
    int32_t Write(const uint8_t* data, uint32_t count) {
        bytes.append(reinterpret_cast<const char*>(data), count);
        return 1;
    }
    void Pause(uint32_t) {}
};

// A host call: write the text, or clear the sign when there is none.
using HostCall = std::optional<std::string>;

std::string Encode(SignModel model, const std::vector<HostCall>& calls) {
    StringLine line;
    for (const HostCall& call : calls) {
        switch (model) {
            case SignModel::kBrava:
                call ? WriteTwoRowText(line, brava::kFrameFormat, call->c_str()) : WriteHeaderFramedClear(line);
                break;
            case SignModel::kDorun:
                call ? WriteOneRowText(line, dorun::kFrameFormat, call->c_str()) : WriteHeaderFramedClear(line);
                break;
            case SignModel::kCresto:
                call ? WriteEscLineText(line, cresto::kFrameFormat, call->c_str())
                     : WriteEscLineClear(line, cresto::kFrameFormat);
                break;
            case SignModel::kElvane:
                call ? WriteEscLineText(line, elvane::kFrameFormat, call->c_str())
                     : WriteEscLineClear(line, elvane::kFrameFormat);
                break;
        }
    }
    return line.bytes;
}

// Events as short texts: "row1=AB", "clear", "bad:<reason>".
std::vector<std::string> Summaries(const std::vector<SignEvent>& events) {
    std::vector<std::string> summaries;
    for (const SignEvent& event : events) {
        if (event.kind == SignEvent::kRow) summaries.push_back("row" + std::to_string(event.row) + "=" + event.text);
        if (event.kind == SignEvent::kClear) summaries.push_back("clear");
        if (event.kind == SignEvent::kMalformed) summaries.push_back("bad:" + event.reason);
    }
    return summaries;
}

std::vector<SignEvent> DecodeWhole(SignModel model, const std::string& bytes) {
    SignDecoder decoder(model);
    std::vector<SignEvent> events;
    decoder.Feed(bytes, events);
    decoder.Flush(events);
    return events;
}

std::vector<SignEvent> DecodeByteByByte(SignModel model, const std::string& bytes) {
    SignDecoder decoder(model);
    std::vector<SignEvent> events;
    for (const char byte : bytes) decoder.Feed(std::string(1, byte), events);
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

const std::string k199(199, 'x');
const std::string k200(200, 'y');
const std::string kTwoChinese = "\xC9\xCF\xBA\xA3";  // 上海

TEST(SignDecoder, ShowsWhatTheEncodersSend) {
    struct Case {
        const char* name;
        SignModel model;
        std::vector<HostCall> calls;
        std::vector<std::string> events;
    };
    const Case cases[] = {
        {"brava two rows", SignModel::kBrava, {"AB#D"}, {"row1=AB", "row2=D"}},
        {"brava no hash: row 2 a space", SignModel::kBrava, {"ABC"}, {"row1=ABC", "row2= "}},
        {"brava empty text", SignModel::kBrava, {""}, {"row1= ", "row2= "}},
        {"brava leading hash", SignModel::kBrava, {"#XYZ"}, {"row1= ", "row2=XYZ"}},
        {"brava cut at the first hash", SignModel::kBrava, {"A#B#D"}, {"row1=A", "row2=B#D"}},
        {"brava Chinese", SignModel::kBrava, {kTwoChinese + "#OK"}, {"row1=" + kTwoChinese, "row2=OK"}},
        {"brava longest row", SignModel::kBrava, {k199 + "#z"}, {"row1=" + k199, "row2=z"}},
        {"brava clear", SignModel::kBrava, {std::nullopt}, {"clear"}},
        {"brava write, clear, write", SignModel::kBrava, {"A#B", std::nullopt, "C"},
         {"row1=A", "row2=B", "clear", "row1=C", "row2= "}},
        {"dorun hash is text", SignModel::kDorun, {"A#B"}, {"row1=A#B"}},
        {"dorun empty text", SignModel::kDorun, {""}, {"row1="}},
        {"dorun 255 bytes", SignModel::kDorun, {std::string(255, 'q')}, {"row1=" + std::string(255, 'q')}},
        {"dorun clear", SignModel::kDorun, {std::nullopt, "Z"}, {"clear", "row1=Z"}},
        {"cresto both rows on its one row", SignModel::kCresto, {"AB#D"}, {"row1=AB", "row1=D"}},
        {"cresto clear", SignModel::kCresto, {std::nullopt}, {"row1=", "row1="}},
        {"elvane two rows", SignModel::kElvane, {"AB#D"}, {"row1=AB", "row2=D"}},
        {"elvane row 2 only", SignModel::kElvane, {"#XY"}, {"row2=XY"}},
        {"elvane hash after hash", SignModel::kElvane, {"A#B##D"}, {"row1=A", "row2=B#D"}},
        {"elvane empty text", SignModel::kElvane, {""}, {}},
        {"elvane longest row", SignModel::kElvane, {k200}, {"row1=" + k200}},
        {"elvane Chinese", SignModel::kElvane, {kTwoChinese + "#" + kTwoChinese},
         {"row1=" + kTwoChinese, "row2=" + kTwoChinese}},
        {"elvane clear", SignModel::kElvane, {std::nullopt}, {"row1=", "row2="}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string bytes = Encode(c.model, c.calls);
        ExpectEvents(Summaries(DecodeWhole(c.model, bytes)), c.events);
        ExpectEvents(Summaries(DecodeByteByByte(c.model, bytes)), c.events);
    }
}

std::string Bytes(std::initializer_list<int> values) {
    std::string bytes;
    for (const int value : values) bytes += static_cast<char>(value);
    return bytes;
}

TEST(SignDecoder, ReportsMalformedAndTruncatedFrames) {
    const std::string header = Bytes({0x05, 0x01, 0x03, 0x01, 0x00, 0x58, 0x20});
    const std::string clear = Bytes({0x2A, 0x30, 0x31, 0x44, 0x0D});
    struct Case {
        const char* name;
        SignModel model;
        std::string bytes;
        std::vector<std::string> events;
    };
    const Case cases[] = {
        {"header cut short by the next frame", SignModel::kBrava, Bytes({0x05, 0x01, 0x03}) + header + "\x02" "AB",
         {"bad:truncated header", "row1=AB"}},
        {"header cut short by a clear", SignModel::kBrava, Bytes({0x05, 0x01}) + clear, {"bad:truncated header", "clear"}},
        {"header cut short by the line going quiet", SignModel::kBrava, Bytes({0x05, 0x01, 0x03, 0x01}),
         {"bad:truncated frame"}},
        {"text cut short", SignModel::kBrava, header + "\x05" "AB", {"bad:truncated frame"}},
        {"wrong lead byte", SignModel::kBrava, "AB" + header + "\x01" "C", {"bad:bytes outside any frame", "row1=C"}},
        {"garbage between frames", SignModel::kBrava, header + "\x01" "C" + "\xFF\x00" + clear,
         {"row1=C", "bad:bytes outside any frame", "clear"}},
        {"another model's header", SignModel::kBrava, Bytes({0x05, 0x01, 0x03, 0x01, 0x00, 0x40, 0x10, 0x01, 0x41}),
         {"bad:malformed header: header byte 5 is 40 where 58 belongs", "bad:bytes outside any frame"}},
        {"row 3 on a two-row sign", SignModel::kBrava, Bytes({0x05, 0x01, 0x03, 0x03}), {"bad:malformed header: row"}},
        {"row 2 on a one-row sign", SignModel::kDorun, Bytes({0x05, 0x01, 0x03, 0x02}), {"bad:malformed header: row"}},
        {"misspelt clear", SignModel::kDorun, Bytes({0x2A, 0x30, 0x32}), {"bad:malformed clear command"}},
        {"clear cut short", SignModel::kDorun, Bytes({0x2A, 0x30, 0x2A, 0x30, 0x31, 0x44, 0x0D}),
         {"bad:truncated clear command", "clear"}},
        {"ESC-line garbage", SignModel::kElvane, "junk" + Bytes({0x1B, 0x01, 0x04, 0x41, 0x0D}),
         {"bad:bytes outside any frame", "row1=A"}},
        {"unknown row code", SignModel::kElvane, Bytes({0x1B, 0x01, 0x07, 0x41, 0x0D}),
         {"bad:malformed frame: unknown row code 07", "bad:bytes outside any frame"}},
        {"elvane code on cresto", SignModel::kCresto, Bytes({0x1B, 0x01, 0x04}), {"bad:malformed frame: unknown row code"}},
        {"wrong second byte", SignModel::kCresto, Bytes({0x1B, 0x02}), {"bad:malformed frame: byte 1"}},
        {"frame without its carriage return", SignModel::kElvane,
         Bytes({0x1B, 0x01, 0x04, 0x41, 0x42, 0x1B, 0x01, 0x05, 0x44, 0x0D}), {"bad:truncated frame", "row2=D"}},
        {"frame cut after its lead", SignModel::kElvane, Bytes({0x1B, 0x1B, 0x01, 0x05, 0x44, 0x0D}),
         {"bad:truncated frame", "row2=D"}},
        {"line quiet before the carriage return", SignModel::kCresto, Bytes({0x1B, 0x01, 0x01, 0x41}),
         {"bad:truncated frame"}},
        {"overlong row skipped to its end", SignModel::kElvane,
         Bytes({0x1B, 0x01, 0x04}) + std::string(250, 'A') + "\r" + Bytes({0x1B, 0x01, 0x05, 0x42, 0x0D}),
         {"bad:row longer than 200 bytes", "row2=B"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectEvents(Summaries(DecodeWhole(c.model, c.bytes)), c.events);
        ExpectEvents(Summaries(DecodeByteByByte(c.model, c.bytes)), c.events);
    }
}

TEST(SignDecoder, MalformedEventsCarryTheirBytesAndPosition) {
    const std::vector<SignEvent> events =
        DecodeWhole(SignModel::kElvane, "xy" + Bytes({0x1B, 0x01, 0x04, 0x41, 0x1B, 0x01, 0x05, 0x0D}));
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].bytes, "xy");
    EXPECT_EQ(events[0].offset, 0u);
    EXPECT_EQ(events[1].bytes, Bytes({0x1B, 0x01, 0x04, 0x41}));
    EXPECT_EQ(events[1].offset, 2u);
    EXPECT_EQ(events[2].offset, 6u);
}

// Random line noise, whole and in random chunks: the same events either way, and every
// malformed event names its bytes.
TEST(SignDecoder, NoiseDecodesTheSameInAnyChunking) {
    std::mt19937 random(20240607);
    for (const SignModel model : {SignModel::kBrava, SignModel::kDorun, SignModel::kCresto, SignModel::kElvane}) {
        SCOPED_TRACE(tools::SignModelName(model));
        std::string noise;
        // Biased towards the protocols' own bytes, so that frames almost form.
        const uint8_t common[] = {0x05, 0x01, 0x03, 0x00, 0x58, 0x20, 0x40, 0x10, 0x2A, 0x30, 0x31, 0x44, 0x0D, 0x1B, 0x04};
        for (int index = 0; index < 50000; ++index) {
            noise += static_cast<char>(random() % 3 ? common[random() % sizeof common] : random() % 256);
        }
        const std::vector<std::string> whole = Summaries(DecodeWhole(model, noise));
        SignDecoder decoder(model);
        std::vector<SignEvent> chunked;
        for (size_t done = 0; done < noise.size();) {
            const size_t size = std::min<size_t>(random() % 40, noise.size() - done);
            decoder.Feed(noise.substr(done, size), chunked);
            done += size;
        }
        decoder.Flush(chunked);
        EXPECT_EQ(Summaries(chunked), whole);
        for (const SignEvent& event : chunked) {
            if (event.kind == SignEvent::kMalformed) EXPECT_FALSE(event.bytes.empty()) << event.reason;
        }
    }
}

}  // namespace
}  // namespace ledsign::test
