// Identity of the elvane plug-in. Its source and its Windows version resource both read this
// file, so every per-deliverable constant lives here and nowhere else.
#pragma once

#define ELVANE_MODULE_NAME "ELVANE.DLL"
#define ELVANE_FILE_VERSION 3,0,0,3
#define ELVANE_FILE_VERSION_TEXT "3.0.0.3"
#define ELVANE_DESCRIPTION "24点双行LED条屏驱动，默认串口设置4800,8,NONE,2"
#define ELVANE_DEFAULT_BAUD_RATE 9600

#ifndef RC_INVOKED
#include "driver/SignIdentity.h"
#include "signs/EscLine.h"

namespace ledsign::elvane {

inline constexpr SignIdentity kIdentity{ELVANE_MODULE_NAME, 24, 24, 12, 1, "4800,8,NONE,2", "\xC9\xCF\xBA\xA3" /* 上海 */,
                                        ELVANE_DEFAULT_BAUD_RATE, false};
inline constexpr EscLineFormat kFrameFormat{{0x04, 0x05}};

}  // namespace ledsign::elvane
#endif
