// Identity of the brava plug-in. Its source and its Windows version resource both read this
// file, so every per-deliverable constant lives here and nowhere else.
#pragma once

#define BRAVA_MODULE_NAME "BRAVAX.DLL"
#define BRAVA_FILE_VERSION 3,0,0,2
#define BRAVA_FILE_VERSION_TEXT "3.0.0.2"
#define BRAVA_DESCRIPTION "32点双行LED条屏驱动，默认串口设置2400,8,NONE,1"
#define BRAVA_DEFAULT_BAUD_RATE 2400

#ifndef RC_INVOKED
#include "driver/SignIdentity.h"
#include "signs/HeaderFramed.h"

namespace ledsign::brava {

inline constexpr SignIdentity kIdentity{BRAVA_MODULE_NAME, 32, 16, 8, 1, "2400,8,NONE,1", "\xB3\xC9\xB6\xBC\xD6\xD0\xBF\xC6" /* 成都中科 */,
                                        BRAVA_DEFAULT_BAUD_RATE, false};
inline constexpr HeaderFrameFormat kFrameFormat{0x58, 0x20};

}  // namespace ledsign::brava
#endif
