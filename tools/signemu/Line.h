// signemu's line: a new pseudo-terminal (with its --link) or a serial device, set up as a sign
// listens, and what it tells the user about it.
#pragma once

#include <string>

#include "tools/signemu/Options.h"

namespace ledsign::tools {

struct SignLine {
    int fd = -1;             // what the sign reads
    int keepOpen = -1;       // a pty's slave, held so the line stays up between the plug-in's opens
    std::string port;        // the name to give the plug-in
    std::string link;        // the symlink made, removed at the end
    std::string linkTarget;  // where it leads
};

// Sets the line up and says where it is. False, with the reason in `error`, when it cannot be.
bool SetUpLine(const Options& options, SignLine& line, std::string& error);
void CloseLine(SignLine& line);

}  // namespace ledsign::tools
