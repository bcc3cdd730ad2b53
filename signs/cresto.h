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
    /* name */ "cresto",
    /* identity */
    {
        /* moduleName */ CRESTO_MODULE_NAME,
        /* dots */ 24,
        /* rowChars */ 9,
        /* rowWideChars */ 6,
        /* twoRows */ 0,
        /* commText */ "4800,8,NONE,2",
        /* vendor */ "\xC9\xCF\xBA\xA3" /* 上海 */,
        /* defaultBaudRate */ 9600,  // meant: InitLed(NULL) opens at 9600, not at what the sign reports
        /* fixedLineSettings */ false,
    },
    /* protocol */ SignProtocol::kEscLine,
    /* headerFormat (model byte, dots byte) */ {},
    /* escFormat (row codes) */ {{0x01, 0x01}},
    /* geometry (width, height, rows) */ {144, 24, 1},
};

}  // namespace ledsign::cresto
#endif
