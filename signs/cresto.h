// The cresto sign model: 24-dot, one row, ESC-line protocol with one row code for both rows.
// The plug-in, its Windows version resource and the virtual sign all read this file, so every
// constant of the model lives here and nowhere else.
#pragma once

#define CRESTO_MODULE_NAME "CRESTO.DLL"
#define CRESTO_FILE_VERSION 3, 0, 0, 1
#define CRESTO_FILE_VERSION_TEXT "3.0.0.1"
#define CRESTO_DESCRIPTION "24点单行LED条屏驱动，默认串口设置4800,8,NONE,2"

#ifndef RC_INVOKED
#include "signs/SignModel.h"

namespace ledsign::cresto {

inline constexpr SignModel kModel{
    "cresto",
    {CRESTO_MODULE_NAME, 24, 9, 6, 0, "4800,8,NONE,2", "\xC9\xCF\xBA\xA3" /* 上海 */, 9600, false},
    SignProtocol::kEscLine,
    {},
    {{0x01, 0x01}},
    {144, 24, 1},
};

}  // namespace ledsign::cresto
#endif
