// The dorun sign model: 16-dot, one row, header-framed protocol; its line settings are fixed.
// The plug-in, its Windows version resource and the virtual sign all read this file, so every
// constant of the model lives here and nowhere else.
#pragma once

#define DORUN_MODULE_NAME "Dorun.DLL"
#define DORUN_FILE_VERSION 3, 0, 0, 2
#define DORUN_FILE_VERSION_TEXT "3.0.0.2"
#define DORUN_DESCRIPTION "16点单行LED条屏驱动，固定串口设置2400,8,NONE,1"

#ifndef RC_INVOKED
#include "signs/SignModel.h"

namespace ledsign::dorun {

inline constexpr SignModel kModel{
    "dorun",
    {DORUN_MODULE_NAME, 16, 12, 6, 0, "2400,8,NONE,1", "\xB3\xC9\xB6\xBC\xD6\xD0\xBF\xC6" /* 成都中科 */, 2400, true},
    SignProtocol::kHeaderFramedOneRow,
    {0x40, 0x10},
    {},
    {96, 16, 1},
};

}  // namespace ledsign::dorun
#endif
