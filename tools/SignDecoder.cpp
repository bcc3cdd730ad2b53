#include "tools/SignDecoder.h"

#include <cstdio>

namespace ledsign::tools {

namespace {

constexpr uint8_t kHeaderLead = 0x05;
constexpr uint8_t kClearCommand[5] = {0x2A, 0x30, 0x31, 0x44, 0x0D};  // "*01D" CR
constexpr uint8_t kEsc = 0x1B;
constexpr uint8_t kEscFixed = 0x01;
constexpr uint8_t kCarriageReturn = 0x0D;
constexpr size_t kHeaderSize = 8;
constexpr size_t kGarbageReportSize = 64;

struct ModelInfo {
    const char* name;
    SignGeometry geometry;
    bool headerFramed;
    uint8_t modelByte, dotsByte;  // header-framed: header bytes 5 and 6
    int headerRows;               // header-framed: highest row number
    uint8_t rowCodes[2];          // ESC-line: codes of row 1 and row 2
};

const ModelInfo kModels[] = {
    {"brava", {128, 32, 2}, true, 0x58, 0x20, 2, {0, 0}},
    {"dorun", {96, 16, 1}, true, 0x40, 0x10, 1, {0, 0}},
    {"cresto", {144, 24, 1}, false, 0, 0, 0, {0x01, 0x01}},
    {"elvane", {144, 24, 2}, false, 0, 0, 0, {0x04, 0x05}},
};

const ModelInfo& Info(SignModel model) { return kModels[static_cast<int>(model)]; }

std::string HexByte(uint8_t byte) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", byte);
    return text;
}

}  // namespace

bool ParseSignModel(const std::string& name, SignModel& model) {
    for (int index = 0; index < 4; ++index) {
        if (name == kModels[index].name) {
            model = static_cast<SignModel>(index);
            return true;
        }
    }
    return false;
}

const char* SignModelName(SignModel model) { return Info(model).name; }

SignGeometry GeometryOf(SignModel model) { return Info(model).geometry; }

SignDecoder::SignDecoder(SignModel model) : model_(model), headerFramed_(Info(model).headerFramed) {}

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
    Reject(headerFramed_ ? "truncated frame: the line went quiet after " + std::to_string(frame_.size()) +
                               " of its bytes"
                         : "truncated frame: the line went quiet before its carriage return",
           events);
}

void SignDecoder::Step(uint8_t byte, std::vector<SignEvent>& events) {
    const ModelInfo& info = Info(model_);
    const size_t index = frame_.size();
    switch (state_) {
        case State::kIdle:
            Idle(byte, events);
            return;

        case State::kHeader: {
            const bool isLead = byte == kHeaderLead || byte == kClearCommand[0];
            uint8_t expected = 0;
            std::string problem;
            switch (index) {
                case 1: expected = 0x01; break;
                case 2: expected = 0x03; break;
                case 3:
                    if (byte < 1 || byte > info.headerRows) {
                        problem = "row number " + HexByte(byte) + " in the header: " + info.name +
                                  (info.headerRows == 1 ? " has row 1 only" : " has rows 1 and 2");
                    }
                    break;
                case 4: expected = 0x00; break;
                case 5: expected = info.modelByte; break;
                case 6: expected = info.dotsByte; break;
                default: break;
            }
            if (index != 3 && index != 7 && byte != expected) {
                problem = "header byte " + std::to_string(index) + " is " + HexByte(byte) + " where " +
                          HexByte(expected) + " belongs";
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
            return;
        }

        case State::kHeaderText:
            frame_ += static_cast<char>(byte);
            if (frame_.size() == kHeaderSize + textLength_) EmitRow(row_, events);
            return;

        case State::kClear:
            if (byte != kClearCommand[index]) {
                if (byte == kHeaderLead || byte == kClearCommand[0]) {
                    Reject("truncated clear command: the next frame began after " + std::to_string(index) + " bytes",
                           events);
                    Idle(byte, events);
                } else {
                    frame_ += static_cast<char>(byte);
                    Reject("malformed clear command: byte " + std::to_string(index) + " is " + HexByte(byte) +
                               " where " + HexByte(kClearCommand[index]) + " belongs",
                           events);
                }
                return;
            }
            frame_ += static_cast<char>(byte);
            if (frame_.size() == sizeof kClearCommand) {
                events.push_back({SignEvent::kClear, 0, {}, {}, {}, frameOffset_});
                frame_.clear();
                state_ = State::kIdle;
            }
            return;

        case State::kEscFixed:
        case State::kEscCode: {
            std::string problem;
            if (state_ == State::kEscFixed && byte != kEscFixed) {
                problem = "byte 1 is " + HexByte(byte) + " where 01 belongs";
            } else if (state_ == State::kEscCode) {
                if (byte == info.rowCodes[0]) {
                    row_ = 1;
                } else if (byte == info.rowCodes[1]) {
                    row_ = 2;
                } else {
                    problem = "unknown row code " + HexByte(byte) + " for " + info.name;
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
            return;
        }

        case State::kEscText:
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
            return;

        case State::kEscOverlong:
            if (byte == kCarriageReturn) {
                state_ = State::kIdle;
            } else if (byte == kEsc) {
                state_ = State::kIdle;
                Idle(byte, events);
            }
            return;
    }
}

void SignDecoder::Idle(uint8_t byte, std::vector<SignEvent>& events) {
    if (headerFramed_ && byte == kHeaderLead) {
        StartFrame(State::kHeader, byte);
    } else if (headerFramed_ && byte == kClearCommand[0]) {
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
    events.push_back({SignEvent::kRow, row, frame_.substr(textStart), {}, {}, frameOffset_});
    frame_.clear();
    state_ = State::kIdle;
}

}  // namespace ledsign::tools
