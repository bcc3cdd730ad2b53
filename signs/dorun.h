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
    /* name */ "dorun",
    /* identity */
    {
        /* moduleName */ DORUN_MODULE_NAME,
        /* dots */ 16,
        /* rowChars */ 12,
        /* rowWideChars */ 6,
        /* twoRows */ 0,
        /* commText */ "2400,8,NONE,1",
        /* vendor */ "\xB3\xC9\xB6\xBC\xD6\xD0\xBF\xC6" /* 成都中科 */,
        /* defaultBaudRate */ 2400,
        /* fixedLineSettings */ true,  // dorun runs 2400,8,NONE,1 whatever the record says
    },
    /* protocol */ SignProtocol::kHeaderFramedOneRow,
    /* headerFormat (model byte, dots byte) */ {0x40, 0x10},
    /* escFormat (row codes) */ {},
    /* geometry (width, height, rows) */ {96, 16, 1},
};

}  // namespace ledsign::dorun
#endif
