// The settings record ledctl gives the plug-in, and the warnings about what the sign will not
// show as the user meant it: settings the plug-ins read otherwise, rows longer than the sign.
#pragma once

#include <string>

#include "include/ledsign.h"
#include "signs/SignModel.h"
#include "tools/common/PluginLibrary.h"
#include "tools/ledctl/Options.h"

namespace ledsign::tools {

void Warn(const std::string& message);

// Settings not given on the command line come from the plug-in's reported settings; a value given
// is passed on as it is, for the plug-in to judge.
PortSettings BuildSettings(const Options& options, const LEDAtt& attributes);

// Calls InitLed with the record (or none, without line options), says what the line will run at
// and warns when that is not what the sign reports.
void InitWithSettings(const PluginExports& plugin, const Options& options, const PortSettings& settings,
                      const LEDAtt& attributes, const SignModel* model);

// The sign model of a plug-in file, known by its file name, or null for a renamed one.
const SignModel* ModelOfPlugin(const std::string& path);

// Rows longer than the sign shows, and a one-row sign that keeps only the part after '#'.
void WarnAboutText(const std::string& text, const LEDAtt& attributes, const SignModel* model);

}  // namespace ledsign::tools
