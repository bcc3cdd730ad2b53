#include "tools/signview/SignDecoder.h"

#include "signs/AllModels.h"
#include "tools/common/TextFormat.h"

namespace ledsign::tools {

namespace {

constexpr size_t kHeaderSize = sizeof(RowHeader::bytes);
constexpr size_t kGarbageReportSize = 64;

std::string HexByte(uint8_t byte) { return HexBytes(std::string(1, static_cast<char>(byte))); }

}  // namespace

const SignModel* FindSignModel(const std::string& name) {
    for (const BuiltModel& built : kBuiltModels) {
        if (name == built.model->name) return built.model;
    }
    return nullptr;
}

std::string SignModelNames() {
    std::string names;
    const size_t count = sizeof kBuiltModels / sizeof kBuiltModels[0];
    for (size_t index = 0; index < count; ++index) {
        if (index > 0) names += index + 1 == count ? " or " : ", ";
        names += kBuiltModels[index].model->name;
    }
    return names;
}

SignDecoder::SignDecoder(const SignModel& model)
    : model_(model),
      headerFramed_(IsHeaderFramed(model.protocol)),
      headerRows_(model.protocol == SignProtocol::kHeaderFramedTwoRows ? 2 : 1) {}

void SignDecoder::Feed(const uint8_t* bytes, size_t count, std::vector<SignEvent>& events) {
    for (size_t index = 0; index < count; ++index) {
        Step(bytes[index], events);
        ++offset_;
    }
}

void SignDecoder::Flush(std::vector<SignEvent>& events) {
    ReportGarbage(events);
    if (state_ == State::kIdle) return;
    if (state_ == State::kEscOverlong) {
        state_ = State::kIdle;
        frame_.clear();
        return;
    }
    Reject(headerFramed_
               ? "truncated frame: the line went quiet after " + std::to_string(frame_.size()) + " of its bytes"
               : "truncated frame: the line went quiet before its carriage return",
           events);
}

void SignDecoder::Step(uint8_t byte, std::vector<SignEvent>& events) {
    switch (state_) {
        case State::kIdle: Idle(byte, events); return;
        case State::kHeader: HeaderByte(byte, events); return;
        case State::kHeaderText:
            frame_ += static_cast<char>(byte);
            if (frame_.size() == kHeaderSize + textLength_) EmitRow(row_, events);
            return;
        case State::kClear: ClearByte(byte, events); return;
        case State::kEscFixed:
        case State::kEscCode: EscHeadByte(byte, events); return;
        case State::kEscText: EscTextByte(byte, events); return;
        case State::kEscOverlong:
            // The rest of an overlong row is skipped up to its end or the next frame.
            if (byte == kCarriageReturn || byte == kEsc) state_ = State::kIdle;
            if (byte == kEsc) Idle(byte, events);
            return;
    }
}

void SignDecoder::HeaderByte(uint8_t byte, std::vector<SignEvent>& events) {
    const size_t index = frame_.size();
    const bool isLead = byte == kRowHeaderLead[0] || byte == kHeaderFramedClear[0];
    uint8_t expected = 0;
    std::string problem;
    switch (index) {
        case 1: expected = kRowHeaderLead[1]; break;
        case 2: expected = kRowHeaderLead[2]; break;
        case 3:
            if (byte < 1 || byte > headerRows_) {
                problem = "row number " + HexByte(byte) + " in the header: " + model_.name +
                          (headerRows_ == 1 ? " has row 1 only" : " has rows 1 and 2");
            }
            break;
        case 4: expected = 0x00; break;
        case 5: expected = model_.headerFormat.modelByte; break;
        case 6: expected = model_.headerFormat.dotsByte; break;
        default: break;
    }
    if (index != 3 && index != 7 && byte != expected) {
        problem = "header byte " + std::to_string(index) + " is " + HexByte(byte) + " where " + HexByte(expected) +
                  " belongs";
    }
    if (!problem.empty()) {
        if (isLead) {
            Reject("truncated header: the next frame began after " + std::to_string(index) + " bytes", events);
            Idle(byte, events);
        } else {
            frame_ += static_cast<char>(byte);
            Reject("malformed header: " + problem, events);
        }
        return;
    }
    frame_ += static_cast<char>(byte);
    if (index == 3) row_ = byte;
    if (frame_.size() == kHeaderSize) {
        textLength_ = byte;
        if (textLength_ == 0) {
            EmitRow(row_, events);
        } else {
            state_ = State::kHeaderText;
        }
    }
}

void SignDecoder::ClearByte(uint8_t byte, std::vector<SignEvent>& events) {
    const size_t index = frame_.size();
    if (byte != kHeaderFramedClear[index]) {
        if (byte == kRowHeaderLead[0] || byte == kHeaderFramedClear[0]) {
            Reject("truncated clear command: the next frame began after " + std::to_string(index) + " bytes", events);
            Idle(byte, events);
        } else {
            frame_ += static_cast<char>(byte);
            Reject("malformed clear command: byte " + std::to_string(index) + " is " + HexByte(byte) + " where " +
                       HexByte(kHeaderFramedClear[index]) + " belongs",
                   events);
        }
        return;
    }
    frame_ += static_cast<char>(byte);
    if (frame_.size() == sizeof kHeaderFramedClear) {
        events.push_back({SignEvent::kClear, 0, {}, frame_, {}, frameOffset_});
        frame_.clear();
        state_ = State::kIdle;
    }
}

void SignDecoder::EscHeadByte(uint8_t byte, std::vector<SignEvent>& events) {
    const size_t index = frame_.size();
    std::string problem;
    if (state_ == State::kEscFixed && byte != kEscFixed) {
        problem = "byte 1 is " + HexByte(byte) + " where 01 belongs";
    } else if (state_ == State::kEscCode) {
        if (byte == model_.escFormat.rowCodes[0]) {
            row_ = 1;
        } else if (byte == model_.escFormat.rowCodes[1]) {
            row_ = 2;
        } else {
            problem = "unknown row code " + HexByte(byte) + " for " + model_.name;
        }
    }
    if (problem.empty()) {
        frame_ += static_cast<char>(byte);
        state_ = state_ == State::kEscFixed ? State::kEscCode : State::kEscText;
    } else if (byte == kEsc) {
        Reject("truncated frame: the next frame began after " + std::to_string(index) + " bytes", events);
        Idle(byte, events);
    } else {
        frame_ += static_cast<char>(byte);
        Reject("malformed frame: " + problem, events);
    }
}

void SignDecoder::EscTextByte(uint8_t byte, std::vector<SignEvent>& events) {
    if (byte == kCarriageReturn) {
        EmitRow(row_, events);
    } else if (byte == kEsc) {
        Reject("truncated frame: the next frame began before its carriage return", events);
        Idle(byte, events);
    } else if (frame_.size() - 3 >= kMaxEscRowBytes) {
        frame_ += static_cast<char>(byte);
        Reject("row longer than " + std::to_string(kMaxEscRowBytes) + " bytes; the rest of the frame is skipped",
               events);
        state_ = State::kEscOverlong;
    } else {
        frame_ += static_cast<char>(byte);
    }
}

void SignDecoder::Idle(uint8_t byte, std::vector<SignEvent>& events) {
    if (headerFramed_ && byte == kRowHeaderLead[0]) {
        StartFrame(State::kHeader, byte);
    } else if (headerFramed_ && byte == kHeaderFramedClear[0]) {
        StartFrame(State::kClear, byte);
    } else if (!headerFramed_ && byte == kEsc) {
        StartFrame(State::kEscFixed, byte);
    } else {
        if (garbage_.empty()) garbageOffset_ = offset_;
        garbage_ += static_cast<char>(byte);
        if (garbage_.size() >= kGarbageReportSize) ReportGarbage(events);
        return;
    }
    ReportGarbage(events);
}

void SignDecoder::StartFrame(State state, uint8_t byte) {
    state_ = state;
    frame_.assign(1, static_cast<char>(byte));
    frameOffset_ = offset_;
}

void SignDecoder::Reject(const std::string& reason, std::vector<SignEvent>& events) {
    events.push_back({SignEvent::kMalformed, 0, {}, frame_, reason, frameOffset_});
    frame_.clear();
    state_ = State::kIdle;
}

void SignDecoder::ReportGarbage(std::vector<SignEvent>& events) {
    if (garbage_.empty()) return;
    events.push_back({SignEvent::kMalformed, 0, {}, garbage_, "bytes outside any frame", garbageOffset_});
    garbage_.clear();
}

void SignDecoder::EmitRow(int row, std::vector<SignEvent>& events) {
    const size_t textStart = headerFramed_ ? kHeaderSize : 3;
    events.push_back({SignEvent::kRow, row, frame_.substr(textStart), frame_, {}, frameOffset_});
    frame_.clear();
    state_ = State::kIdle;
}

}  // namespace ledsign::tools
