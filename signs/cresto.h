// Identity of the cresto plug-in. Its source and its Windows version resource both read this
// file, so every per-deliverable constant lives here and nowhere else.
#pragma once

#define CRESTO_MODULE_NAME "CRESTO.DLL"
#define CRESTO_FILE_VERSION 3,0,0,1
#define CRESTO_FILE_VERSION_TEXT "3.0.0.1"
#define CRESTO_DESCRIPTION "24点单行LED条屏驱动，默认串口设置4800,8,NONE,2"
#define CRESTO_DEFAULT_BAUD_RATE 9600

#ifndef RC_INVOKED
#include "driver/SignIdentity.h"
#include "signs/EscLine.h"

namespace ledsign::cresto {

inline constexpr SignIdentity kIdentity{CRESTO_MODULE_NAME, 24, 9, 6, 0, "4800,8,NONE,2", "\xC9\xCF\xBA\xA3" /* 上海 */,
                                        CRESTO_DEFAULT_BAUD_RATE, false};
inline constexpr EscLineFormat kFrameFormat{{0x01, 0x01}};

}  // namespace ledsign::cresto
#endif
