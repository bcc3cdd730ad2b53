#include "library/Sign.h"

#include <cstring>

#include "driver/PortLine.h"
#include "driver/TraceMessage.h"

using ledsign::TraceMessage;

namespace {

// "U+1F600"
TraceMessage& CodePoint(TraceMessage& line, uint32_t codePoint) {
    static const char kDigits[] = "0123456789ABCDEF";
    char text[12] = "U+";
    size_t used = 2;
    const int digits = codePoint > 0xFFFF ? (codePoint > 0xFFFFF ? 6 : 5) : 4;
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) text[used++] = kDigits[(codePoint >> shift) & 15];
    text[used] = '\0';
    return line.Text(text);
}

}  // namespace

ledsign_sign::ledsign_sign(const ledsign::LibraryModel& model, char* nameStorage, uint32_t nameCapacity)
    : model_(model),
      port_(nameStorage, nameCapacity),
      trace_{model.model->name, ledsign::PlatformNowMs(), ledsign::TraceSink{&ToCallback, this}} {
    port_.SetLineEventHook(&OnLineEvent, this);
}

int32_t ledsign_sign::Open(const char* portName, const ledsign::SettingsText& settings) {
#if !defined(_WIN32)
    if (ledsign::IsNetworkPortName(portName)) port_.UseTransport(&ledsign::kNetworkTransport, &network_);
#endif
    port_.UseOwnDrainThread();
    port_.Configure(portName, settings.baudRate, settings.dataBits, settings.stopBits, settings.parityWord);
    encoderOpen_ = encoder_.Open();
    lastError_[0] = '\0';
    return port_.Open();
}

template <class Encoder>
int32_t ledsign_sign::Send(Encoder encode) {
    lastError_[0] = '\0';
    const int32_t result = ledsign::SendToSign(port_, traceCallback_ != nullptr ? &trace_ : nullptr, encode);
    if (result == 1 || lastError_[0] != '\0') return result;
    // A failure the line reported no event for: a deadline, a failed write, or a lost line
    // whose next reopen is not due yet.
    TraceMessage line;
    line.Text(port_.PortName()).Text(" ");
    const ledsign::LineFault& fault = port_.Platform().fault;
    if (port_.LineLost()) {
        line.Text("lost: waiting to reopen (one attempt a second)");
    } else if (fault.timedOut) {
        ledsign::DescribeFault(line.Text("write past its deadline: "), fault);
    } else {
        ledsign::DescribeFault(line.Text("write failed: "), fault);
    }
    SetReason(line.Finished());
    return result;
}

int32_t ledsign_sign::WriteGbk(const char* text) {
    const ledsign::LibraryModel& model = model_;
    return Send([&model, text](ledsign::PortLine& line) { return model.writeText(line, text); });
}

int32_t ledsign_sign::WriteUtf8(const char* text) {
    lastError_[0] = '\0';
    if (!encoderOpen_) {
        SetReason("this system has no GBK conversion");
        return LEDSIGN_BAD_ARGUMENT;
    }
    char gbk[kGbkTextSize];
    const ledsign::Utf8Conversion conversion = encoder_.Convert(text, gbk, sizeof gbk);
    TraceMessage reason;
    switch (conversion.outcome) {
        case ledsign::Utf8Outcome::kConverted: return WriteGbk(gbk);
        case ledsign::Utf8Outcome::kInvalidUtf8:
            reason.Text("text is not valid UTF-8 at byte ").Number(static_cast<int64_t>(conversion.offset));
            break;
        case ledsign::Utf8Outcome::kNotInGbk:
            CodePoint(reason.Text("character "), conversion.codePoint)
                .Text(" at byte ")
                .Number(static_cast<int64_t>(conversion.offset))
                .Text(" has no GBK code");
            break;
        case ledsign::Utf8Outcome::kTooLong:
            reason.Text("text comes to more than ").Number(kGbkTextSize - 1).Text(" bytes of GBK");
            break;
    }
    SetReason(reason.Finished());
    return LEDSIGN_BAD_ARGUMENT;
}

int32_t ledsign_sign::Clear() {
    const ledsign::LibraryModel& model = model_;
    return Send([&model](ledsign::PortLine& line) { return model.clear(line); });
}

void ledsign_sign::SetTrace(ledsign_trace_callback callback, void* context) {
    traceCallback_ = callback;
    traceContext_ = context;
}

void ledsign_sign::SetReason(const char* reason) { ledsign::KeepReason(lastError_, reason); }

void ledsign_sign::OnLineEvent(void* sign, const ledsign::LineEvent& event) {
    ledsign_sign& self = *static_cast<ledsign_sign*>(sign);
    // The first failure of a call is its reason; a comeback is no failure.
    if (event.kind != ledsign::LineEventKind::kBack && self.lastError_[0] == '\0') {
        TraceMessage line;
        ledsign::DescribeLineEvent(line, event);
        self.SetReason(line.Finished());
    }
    if (self.traceCallback_ != nullptr) ledsign::TraceLineEvent(&self.trace_, event);
}

void ledsign_sign::ToCallback(void* sign, const char* text, size_t length) {
    const ledsign_sign& self = *static_cast<const ledsign_sign*>(sign);
    // The host's logger adds its own line break.
    char line[1100];
    const size_t kept = length > 0 && text[length - 1] == '\n' ? length - 1 : length;
    if (kept >= sizeof line) return;
    std::memcpy(line, text, kept);
    line[kept] = '\0';
    self.traceCallback_(self.traceContext_, line);
}
