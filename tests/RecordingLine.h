// A line for encoder tests: records each write call (its bytes and result) and each pause in order, and can
// fail chosen writes (a failed write puts nothing on the line and returns -1).
#pragma once

#include <cstdint>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/common/TextFormat.h"

namespace ledsign::test {

struct RecordedCall {
    enum Kind { kWrite, kPause } kind;
    std::string bytes;  // kWrite: the bytes handed to the write
    int32_t result;     // kWrite: what the write returned
    uint32_t milliseconds;  // kPause
};

class RecordingLine {
public:
    // Fails the given writes, counted from 1.
    void FailWrites(std::set<uint32_t> writeNumbers) { failing_ = std::move(writeNumbers); }
    void FailFromWrite(uint32_t writeNumber) { failFrom_ = writeNumber; }

    int32_t Write(const uint8_t* bytes, uint32_t count) {
        ++writes_;
        const bool fail = failing_.count(writes_) != 0 || (failFrom_ != 0 && writes_ >= failFrom_);
        const int32_t result = fail ? -1 : 1;
        calls_.push_back({RecordedCall::kWrite, std::string(reinterpret_cast<const char*>(bytes), count), result, 0});
        return result;
    }
    void Pause(uint32_t milliseconds) { calls_.push_back({RecordedCall::kPause, {}, 0, milliseconds}); }

    const std::vector<RecordedCall>& Calls() const { return calls_; }

    // The bytes that reached the line, in order.
    std::string OnLine() const {
        std::string line;
        for (const RecordedCall& event : calls_) {
            if (event.kind == RecordedCall::kWrite && event.result > 0) line += event.bytes;
        }
        return line;
    }

    // A compact trace: each write as "w:<hex>" (with "!" when it failed), each pause as "p:<ms>".
    std::vector<std::string> Trace() const;

private:
    std::vector<RecordedCall> calls_;
    std::set<uint32_t> failing_;
    uint32_t failFrom_ = 0;
    uint32_t writes_ = 0;
};

std::string Hex(const std::string& bytes);
// Parses "05 01 41" into bytes.
std::string Bytes(const char* hex);

inline std::vector<std::string> RecordingLine::Trace() const {
    std::vector<std::string> trace;
    for (const RecordedCall& event : calls_) {
        if (event.kind == RecordedCall::kWrite) {
            trace.push_back("w:" + Hex(event.bytes) + (event.result > 0 ? "" : "!"));
        } else {
            trace.push_back("p:" + std::to_string(event.milliseconds));
        }
    }
    return trace;
}

inline std::string Hex(const std::string& bytes) { return tools::HexBytes(bytes); }

// The bytes of a table's hex text ("05 01 41").
inline std::string Bytes(const char* hex) {
    std::string bytes;
    if (!tools::ParseHexBytes(hex, bytes)) throw std::invalid_argument(std::string("not hex: ") + hex);
    return bytes;
}

}  // namespace ledsign::test
