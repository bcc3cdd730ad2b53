// Decodes what a plug-in puts on the serial line back into what the sign would show. Bytes are
// fed as they arrive, in chunks of any size; complete frames come out as events, and anything
// that is not a well-formed frame is reported as malformed rather than guessed at.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "signs/SignModel.h"

namespace ledsign::tools {

// The model of that name among those the build makes, or null.
const SignModel* FindSignModel(const std::string& name);
// The names of every model, for messages: "a, b or c".
std::string SignModelNames();

struct SignEvent {
    enum Kind {
        kRow,        // a row's text was set (row counted from 1; an empty text blanks the row)
        kClear,      // the whole sign was blanked
        kMalformed,  // bytes that are not a well-formed frame, with the reason
    };
    Kind kind;
    int row;             // kRow
    std::string text;    // kRow: the row's bytes as they arrived (GBK)
    std::string bytes;   // the frame's bytes as they arrived (kMalformed: the offending bytes)
    std::string reason;  // kMalformed
    uint64_t offset;     // position on the line of the event's first byte
};

class SignDecoder {
public:
    // Decodes the protocol of `model`, which must outlive the decoder.
    explicit SignDecoder(const SignModel& model);

    // Decodes the bytes and appends the events they complete.
    void Feed(const uint8_t* bytes, size_t count, std::vector<SignEvent>& events);
    void Feed(const std::string& bytes, std::vector<SignEvent>& events) {
        Feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), events);
    }
    // The line went quiet: a frame still incomplete is reported as truncated and dropped.
    void Flush(std::vector<SignEvent>& events);
    bool InFrame() const { return state_ != State::kIdle || !garbage_.empty(); }

    // The longest row text an ESC-line frame may carry before it is refused.
    static constexpr size_t kMaxEscRowBytes = kEscRowCapacity;

private:
    enum class State { kIdle, kHeader, kHeaderText, kClear, kEscFixed, kEscCode, kEscText, kEscOverlong };

    void Step(uint8_t byte, std::vector<SignEvent>& events);
    // One byte in each part of a frame.
    void HeaderByte(uint8_t byte, std::vector<SignEvent>& events);
    void ClearByte(uint8_t byte, std::vector<SignEvent>& events);
    void EscHeadByte(uint8_t byte, std::vector<SignEvent>& events);
    void EscTextByte(uint8_t byte, std::vector<SignEvent>& events);
    void Idle(uint8_t byte, std::vector<SignEvent>& events);
    void StartFrame(State state, uint8_t byte);
    // Reports the frame so far as malformed and goes back to looking for a frame's first byte.
    void Reject(const std::string& reason, std::vector<SignEvent>& events);
    void ReportGarbage(std::vector<SignEvent>& events);
    void EmitRow(int row, std::vector<SignEvent>& events);

    const SignModel& model_;
    bool headerFramed_;
    int headerRows_;  // header-framed: the highest row number
    State state_ = State::kIdle;
    std::string frame_;  // bytes of the frame being decoded
    uint64_t frameOffset_ = 0;
    size_t textLength_ = 0;  // header-framed: text bytes the header announced
    int row_ = 0;
    std::string garbage_;  // bytes between frames not yet reported
    uint64_t garbageOffset_ = 0;
    uint64_t offset_ = 0;  // line position of the byte being decoded
};

}  // namespace ledsign::tools
