// Identity of the dorun plug-in. Its source and its Windows version resource both read this
// file, so every per-deliverable constant lives here and nowhere else.
#pragma once

#define DORUN_MODULE_NAME "Dorun.DLL"
#define DORUN_FILE_VERSION 3,0,0,2
#define DORUN_FILE_VERSION_TEXT "3.0.0.2"
#define DORUN_DESCRIPTION "16点单行LED条屏驱动，固定串口设置2400,8,NONE,1"
#define DORUN_DEFAULT_BAUD_RATE 2400

#ifndef RC_INVOKED
#include "driver/SignIdentity.h"
#include "signs/HeaderFramed.h"

namespace ledsign::dorun {

inline constexpr SignIdentity kIdentity{DORUN_MODULE_NAME, 16, 12, 6, 0, "2400,8,NONE,1", "\xB3\xC9\xB6\xBC\xD6\xD0\xBF\xC6" /* 成都中科 */,
                                        DORUN_DEFAULT_BAUD_RATE, true};
inline constexpr HeaderFrameFormat kFrameFormat{0x40, 0x10};

}  // namespace ledsign::dorun
#endif
