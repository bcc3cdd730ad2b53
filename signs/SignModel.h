// Everything about one sign model in one record: what the plug-in reports and defaults to, the
// protocol its sign speaks with that protocol's parameters, and the face the virtual sign draws.
// Each model's header in signs/ holds one such record; the plug-in's encoder and the virtual
// sign's decoder both read it, so they cannot disagree about a model.
#pragma once

#include <cstdint>

#include "signs/EscLine.h"
#include "signs/HeaderFramed.h"
#include "signs/SignIdentity.h"

namespace ledsign {

enum class SignProtocol : uint8_t {
    kHeaderFramedTwoRows,  // rows split at the first '#', 100 ms after each row
    kHeaderFramedOneRow,   // the whole text one row ('#' is text), 200 ms after it
    kEscLine,              // ESC 01 code text CR per row, 1 ms after each frame
};

// The sign's face in dots, and how many text rows share its height.
struct SignGeometry {
    int32_t width;
    int32_t height;
    int32_t rows;
};

struct SignModel {
    const char* name;  // the model's name in the build, the tools and the library's file name
    SignIdentity identity;
    SignProtocol protocol;
    HeaderFrameFormat headerFormat;  // header-framed protocols: model and dots bytes
    EscLineFormat escFormat;         // ESC-line: the codes of row 1 and row 2
    SignGeometry geometry;
};

constexpr bool IsHeaderFramed(SignProtocol protocol) { return protocol != SignProtocol::kEscLine; }

// The model's encoder for Write2Led. Only the model's own protocol is instantiated, so a plug-in
// carries its own encoder and no other.
template <const SignModel& Model, class Line>
int32_t WriteModelText(Line& line, const char* text) {
    if constexpr (Model.protocol == SignProtocol::kHeaderFramedTwoRows) {
        return WriteTwoRowText(line, Model.headerFormat, text);
    } else if constexpr (Model.protocol == SignProtocol::kHeaderFramedOneRow) {
        return WriteOneRowText(line, Model.headerFormat, text);
    } else {
        return WriteEscLineText(line, Model.escFormat, text);
    }
}

// The model's encoder for ClearLed.
template <const SignModel& Model, class Line>
int32_t ClearModel(Line& line) {
    if constexpr (IsHeaderFramed(Model.protocol)) {
        return WriteHeaderFramedClear(line);
    } else {
        return WriteEscLineClear(line, Model.escFormat);
    }
}

}  // namespace ledsign
