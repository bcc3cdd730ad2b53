// Fuzzes every sign model's text encoder over a recording line that can fail one chosen write, and
// checks that what reaches the line is well formed: length bytes that match, rows within
// their limits, no GBK character cut in two, ESC frames complete unless a write failed.
#include <cstdint>
#include <string>
#include <vector>

#include "RecordingLine.h"
#include "fuzz/Require.h"
#include "signs/AllModels.h"

namespace ledsign::fuzz {
namespace {

using test::RecordedCall;
using test::RecordingLine;

bool IsLead(uint8_t byte) { return byte >= 0x81 && byte <= 0xFE; }

// A sent row must be the source row, or its longest prefix within the limit that ends on a
// character boundary.
void RequireFittedRow(const std::string& sent, const std::string& source, size_t limit) {
    Require(sent.size() <= limit, "row longer than its buffer");
    Require(source.compare(0, sent.size(), sent) == 0, "row is not the host's bytes");
    if (sent.size() == source.size()) return;
    size_t boundary = 0;
    while (boundary < sent.size()) boundary += IsLead(static_cast<uint8_t>(source[boundary])) ? 2 : 1;
    Require(boundary == sent.size(), "GBK character cut in two");
    const size_t next = IsLead(static_cast<uint8_t>(source[boundary])) && boundary + 1 < source.size() ? 2 : 1;
    Require(boundary + next > limit, "row cut shorter than needed");
}

// Walks the recorded calls in order; `failed` once a write has failed.
struct CallCursor {
    const std::vector<RecordedCall>& calls;
    size_t next = 0;
    bool failed = false;

    const RecordedCall& Write() {
        Require(next < calls.size() && calls[next].kind == RecordedCall::kWrite, "missing write");
        const RecordedCall& event = calls[next++];
        failed |= event.result <= 0;
        return event;
    }
    void Pause(uint32_t milliseconds) {
        Require(
            next < calls.size() && calls[next].kind == RecordedCall::kPause && calls[next].milliseconds == milliseconds,
            "missing pause");
        ++next;
    }
    bool Done() const { return next == calls.size(); }
};

std::string HeaderOf(uint8_t row, const HeaderFrameFormat& format, size_t length) {
    return std::string("\x05\x01\x03", 3) + static_cast<char>(row) + '\0' + static_cast<char>(format.modelByte) +
           static_cast<char>(format.dotsByte) + static_cast<char>(static_cast<uint8_t>(length));
}

// Row 1 goes out whatever its writes gave; row 2 ends at its first failed write.
void CheckTwoRowText(CallCursor& cursor, const std::string& text, const HeaderFrameFormat& format) {
    const size_t hash = text.find('#');
    const std::string sources[2] = {text.substr(0, hash), hash == std::string::npos ? "" : text.substr(hash + 1)};
    for (uint8_t row = 1; row <= 2; ++row) {
        const std::string& source = sources[row - 1];
        const RecordedCall& header = cursor.Write();
        if (row == 2 && header.result <= 0) break;
        const RecordedCall& body = cursor.Write();
        Require(header.bytes == HeaderOf(row, format, body.bytes.size()), "two-row header");
        if (source.empty()) {
            Require(body.bytes == " ", "an empty row is one space");
        } else {
            RequireFittedRow(body.bytes, source, 199);
        }
        if (row == 2 && body.result <= 0) break;
        cursor.Pause(100);
    }
}

// The one row ends at its first failed write.
void CheckOneRowText(CallCursor& cursor, const std::string& text, const HeaderFrameFormat& format) {
    const RecordedCall& header = cursor.Write();
    if (cursor.failed) return;
    const RecordedCall& body = cursor.Write();
    Require(header.bytes == HeaderOf(1, format, body.bytes.size()), "one-row header");
    RequireFittedRow(body.bytes, text, 255);
    if (!cursor.failed) cursor.Pause(200);
}

// True when every byte of `part` appears in `whole`, in the same order.
bool IsSubsequence(const std::string& part, const std::string& whole) {
    size_t at = 0;
    for (const char byte : part) {
        at = whole.find(byte, at);
        if (at == std::string::npos) return false;
        ++at;
    }
    return true;
}

// The line ends at its first failed write.
void CheckEscLine(CallCursor& cursor, const std::string& text, const EscLineFormat& format) {
    // Row 1 is the text up to its first '#'; row 2 comes only from what follows it, in order, and
    // is there whenever anything follows it. (How row 2 treats further '#'s is the encoder's
    // own table-driven test's to check, not restated here.)
    const size_t firstHash = text.find('#');
    const std::string tail = firstHash == std::string::npos ? std::string() : text.substr(firstHash + 1);
    const std::string sources[2] = {text.substr(0, firstHash), tail};
    for (size_t index = 0; index < 2; ++index) {
        if (sources[index].empty()) continue;
        const char prefix[3] = {0x1B, 0x01, static_cast<char>(format.rowCodes[index])};
        for (char expected : prefix) {
            Require(cursor.Write().bytes == std::string(1, expected), "ESC frame prefix");
            if (cursor.failed) return;
        }
        const RecordedCall& body = cursor.Write();
        Require(!body.bytes.empty(), "an empty row is never framed");
        if (index == 0 || tail.find('#') == std::string::npos) {
            RequireFittedRow(body.bytes, sources[index], 200);
        } else {
            Require(body.bytes.size() <= 200 && IsSubsequence(body.bytes, tail),
                    "row 2 comes from after the first '#'");
        }
        if (cursor.failed) return;
        Require(cursor.Write().bytes == "\r", "ESC frame ends in 0x0D");
        if (cursor.failed) return;
        cursor.Pause(1);
    }
}

// The model's encoder writes `text` on a line that fails write number `failingWrite` (0: none):
// the line must carry its frames and nothing more, and the result must say whether a write failed.
void CheckModel(const SignModel& model, const std::string& text, uint32_t failingWrite) {
    RecordingLine line;
    line.FailWrites({failingWrite});
    CallCursor cursor{line.Calls()};
    int32_t result = 0;
    switch (model.protocol) {
        case SignProtocol::kHeaderFramedTwoRows:
            result = WriteTwoRowText(line, model.headerFormat, text.c_str());
            CheckTwoRowText(cursor, text, model.headerFormat);
            break;
        case SignProtocol::kHeaderFramedOneRow:
            result = WriteOneRowText(line, model.headerFormat, text.c_str());
            CheckOneRowText(cursor, text, model.headerFormat);
            break;
        case SignProtocol::kEscLine:
            result = WriteEscLineText(line, model.escFormat, text.c_str());
            CheckEscLine(cursor, text, model.escFormat);
            break;
    }
    Require(cursor.Done(), "the encoder wrote past its frames or after a failed write");
    Require(result == (cursor.failed ? -1 : 1), "the result says whether a write failed");
}

}  // namespace
}  // namespace ledsign::fuzz

// The first byte picks the failing write (0: none); the rest, up to a NUL, is the host's text.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 65537) return 0;
    const uint32_t failingWrite = data[0] % 12;
    const std::string text(std::string(reinterpret_cast<const char*>(data + 1), size - 1).c_str());
    for (const ledsign::BuiltModel& built : ledsign::kBuiltModels)
        ledsign::fuzz::CheckModel(*built.model, text, failingWrite);
    return 0;
}
