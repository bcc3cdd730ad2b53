// Every sign model the build knows (signs/models.txt), each with its encoders bound to the line
// the library's signs write through: a model added to the list appears in the library by itself.
#pragma once

#include <array>
#include <cstddef>
#include <cstring>
#include <utility>

#include "driver/PortLine.h"
#include "signs/AllModels.h"

namespace ledsign {

struct LibraryModel {
    const SignModel* model;
    int32_t (*writeText)(PortLine& line, const char* text);
    int32_t (*clear)(PortLine& line);
};

template <size_t... Index>
constexpr std::array<LibraryModel, sizeof...(Index)> BindModels(std::index_sequence<Index...>) {
    return {{LibraryModel{kBuiltModels[Index].model, &WriteModelText<*kBuiltModels[Index].model, PortLine>,
                          &ClearModel<*kBuiltModels[Index].model, PortLine>}...}};
}

inline constexpr size_t kLibraryModelCount = sizeof kBuiltModels / sizeof kBuiltModels[0];
inline constexpr std::array<LibraryModel, kLibraryModelCount> kLibraryModels =
    BindModels(std::make_index_sequence<kLibraryModelCount>());

// The model of that name (exact, case-sensitive), or null.
inline const LibraryModel* FindLibraryModel(const char* name) {
    for (const LibraryModel& entry : kLibraryModels) {
        if (std::strcmp(entry.model->name, name) == 0) return &entry;
    }
    return nullptr;
}

}  // namespace ledsign
