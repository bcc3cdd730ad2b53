// Fuzzes the virtual sign's line decoder with arbitrary line bytes. Beyond "no crash": the
// events must not depend on how the bytes were split into chunks, must come in line order,
// and no row may carry more bytes than its frame can.
#include <algorithm>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "fuzz/Require.h"
#include "signs/AllModels.h"
#include "tools/signview/SignDecoder.h"

namespace {

using ledsign::SignModel;
using ledsign::tools::SignDecoder;
using ledsign::tools::SignEvent;

std::vector<SignEvent> Decode(const SignModel& model, const uint8_t* bytes, size_t size, size_t chunk) {
    SignDecoder decoder(model);
    std::vector<SignEvent> events;
    for (size_t at = 0; at < size; at += chunk) decoder.Feed(bytes + at, std::min(chunk, size - at), events);
    decoder.Flush(events);
    return events;
}

// The same events, but for the reasons of malformed bytes.
bool SameEvents(const std::vector<SignEvent>& a, const std::vector<SignEvent>& b) {
    const auto fields = [](const SignEvent& e) { return std::tie(e.kind, e.row, e.text, e.bytes, e.offset); };
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [&](const SignEvent& x, const SignEvent& y) { return fields(x) == fields(y); });
}

}  // namespace

// The first byte picks the model and a chunk size; the rest is what arrived on the line.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    constexpr size_t kModelCount = sizeof ledsign::kBuiltModels / sizeof ledsign::kBuiltModels[0];
    const SignModel& model = *ledsign::kBuiltModels[data[0] % kModelCount].model;
    const size_t chunk = 1 + (data[0] >> 2);
    const std::vector<SignEvent> whole = Decode(model, data + 1, size - 1, size);
    const std::vector<SignEvent> pieces = Decode(model, data + 1, size - 1, chunk);
    Require(SameEvents(whole, pieces), "events depend on how the bytes arrived");
    uint64_t previous = 0;
    for (const SignEvent& event : whole) {
        Require(event.offset >= previous && event.offset < size, "events out of line order");
        previous = event.offset;
        if (event.kind == SignEvent::kRow) {
            Require(event.row >= 1 && event.row <= 2, "row number");
            Require(event.text.size() <= 255, "row longer than a frame can carry");
        }
    }
    return 0;
}
