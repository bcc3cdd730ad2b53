// The elvane sign model: 24-dot, two rows, ESC-line protocol.
// The plug-in, its Windows version resource and the virtual sign all read this file, so every
// constant of the model lives here and nowhere else.
#pragma once

#define ELVANE_MODULE_NAME "ELVANE.DLL"
#define ELVANE_FILE_VERSION 3, 0, 0, 3
#define ELVANE_FILE_VERSION_TEXT "3.0.0.3"
#define ELVANE_DESCRIPTION "24点双行LED条屏驱动，默认串口设置4800,8,NONE,2"

#ifndef RC_INVOKED
#include "signs/SignModel.h"

namespace ledsign::elvane {

inline constexpr SignModel kModel{
    /* name */ "elvane",
    /* identity */
    {
        /* moduleName */ ELVANE_MODULE_NAME,
        /* dots */ 24,
        /* rowChars */ 24,
        /* rowWideChars */ 12,
        /* twoRows */ 1,
        /* commText */ "4800,8,NONE,2",
        /* vendor */ "\xC9\xCF\xBA\xA3" /* 上海 */,
        /* defaultBaudRate */ 9600,  // meant: InitLed(NULL) opens at 9600, not at what the sign reports
        /* fixedLineSettings */ false,
    },
    /* protocol */ SignProtocol::kEscLine,
    /* headerFormat (model byte, dots byte) */ {},
    /* escFormat (row codes) */ {{0x04, 0x05}},
    /* geometry (width, height, rows) */ {144, 24, 2},
};

}  // namespace ledsign::elvane
#endif
