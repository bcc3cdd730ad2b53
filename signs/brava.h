// The brava sign model: 32-dot, two rows, header-framed protocol.
// The plug-in, its Windows version resource and the virtual sign all read this file, so every
// constant of the model lives here and nowhere else.
#pragma once

#define BRAVA_MODULE_NAME "BRAVAX.DLL"
#define BRAVA_FILE_VERSION 3, 0, 0, 2
#define BRAVA_FILE_VERSION_TEXT "3.0.0.2"
#define BRAVA_DESCRIPTION "32点双行LED条屏驱动，默认串口设置2400,8,NONE,1"

#ifndef RC_INVOKED
#include "signs/SignModel.h"

namespace ledsign::brava {

inline constexpr SignModel kModel{
    /* name */ "brava",
    /* identity */
    {
        /* moduleName */ BRAVA_MODULE_NAME,
        /* dots */ 32,
        /* rowChars */ 16,
        /* rowWideChars */ 8,
        /* twoRows */ 1,
        /* commText */ "2400,8,NONE,1",
        /* vendor */ "\xB3\xC9\xB6\xBC\xD6\xD0\xBF\xC6" /* 成都中科 */,
        /* defaultBaudRate */ 2400,
        /* fixedLineSettings */ false,
    },
    /* protocol */ SignProtocol::kHeaderFramedTwoRows,
    /* headerFormat (model byte, dots byte) */ {0x58, 0x20},
    /* escFormat (row codes) */ {},
    /* geometry (width, height, rows) */ {128, 32, 2},
};

}  // namespace ledsign::brava
#endif
