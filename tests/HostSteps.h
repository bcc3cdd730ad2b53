// The steps every test host reads, so that one scenario runs the same on each line: the native
// tests run them in-process on ptys, winhost runs them from its command line under Wine, the
// guest's host runs them on the kernel's drivers. A step is a word and its arguments; each gives
// one result line, its measurement (if any) last:
//
//   init PORT BAUD DATA STOP PARITY   InitLed with a record          -> "init"
//   open | isopen                     OpenLed / IsLedOpened          -> "open 1", "isopen 0"
//   close                             CloseLed                       -> "close ms=0"
//   write TEXT                        Write2Led of ASCII text        -> "write 1 ms=203"
//   write-hex HEX                     Write2Led of the bytes (HEX may be empty)
//   write-until TEXT                  Write2Led a quarter second apart until it gives 1 (6 s at most)
//                                                                    -> "write-until 1 ms=1250 tries=-1,-1,1"
//   clear                             ClearLed                       -> "clear 1 ms=0"
//   mode N                            SetShowMode(N)                 -> "mode"
//   ask WHAT                          "ask WHAT", then the host's far side does WHAT (stall the line,
//                                     unplug it, ...) before the next step
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "SettingsRecord.h"
#include "tools/common/PluginLibrary.h"
#include "tools/common/TextFormat.h"

namespace ledsign::test {

// What a host lends the steps: the loaded plug-in, where result lines go, and its far side.
struct StepHost {
    tools::PluginExports exports{};
    std::function<void(const std::string& line)> say;
    std::function<void(const std::string& what)> ask;

    bool Said(const std::string& line) const { return say(line), true; }
};

inline bool ParseNumber(const std::string& text, long& value) {
    char* end = nullptr;
    value = std::strtol(text.c_str(), &end, 10);
    return !text.empty() && *end == '\0';
}

// The words of a step text ("init pts/3 9600 8 1 NONE"), split at single spaces.
inline std::vector<std::string> StepWords(const std::string& text) {
    std::vector<std::string> words;
    for (size_t start = 0, end = 0; start <= text.size(); start = end + 1) {
        end = std::min(text.find(' ', start), text.size());
        words.push_back(text.substr(start, end - start));
    }
    return words;
}

namespace steps {

using Clock = std::chrono::steady_clock;
using Host = const StepHost&;
using Args = const std::string*;

inline std::string Timed(const std::string& line, Clock::time_point start) {
    return line + " ms=" + std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// A record is filled only from what fits it: a host that cut a port name would open another port.
inline bool Init(Host host, Args args) {
    long baud = 0, dataBits = 0, stopBits = 0;
    const PortSettings fits{};
    if (args[0].size() >= sizeof fits.portName || args[4].size() >= sizeof fits.parityWord ||
        !ParseNumber(args[1], baud) || !ParseNumber(args[2], dataBits) || !ParseNumber(args[3], stopBits)) {
        return false;
    }
    const PortSettings settings = MakePortSettings(args[0], static_cast<int32_t>(baud), static_cast<int32_t>(dataBits),
                                                   static_cast<int32_t>(stopBits), args[4].c_str());
    host.exports.InitLed(&settings);
    return host.Said("init");
}

inline bool Write(Host host, const std::string& text) {
    const Clock::time_point start = Clock::now();
    return host.Said(Timed("write " + std::to_string(host.exports.Write2Led(text.c_str())), start));
}

inline bool WriteUntilItWorks(Host host, Args args) {
    const Clock::time_point start = Clock::now();
    std::string tries;
    for (int32_t result = 0; result != 1 && Clock::now() - start < std::chrono::seconds(6);) {
        if (!tries.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(250));
        result = host.exports.Write2Led(args[0].c_str());
        tries += (tries.empty() ? "" : ",") + std::to_string(result);
    }
    return host.Said(Timed("write-until " + tries.substr(tries.rfind(',') + 1), start) + " tries=" + tries);
}

struct Kind {
    const char* word;
    size_t arguments;
    bool (*run)(Host host, Args args);
};

inline const Kind kKinds[] = {
    {"init", 5, Init},
    {"open", 0, [](Host host, Args) { return host.Said("open " + std::to_string(host.exports.OpenLed())); }},
    {"isopen", 0, [](Host host, Args) { return host.Said("isopen " + std::to_string(host.exports.IsLedOpened())); }},
    {"close", 0, [](Host host, Args) {
         const Clock::time_point start = Clock::now();
         host.exports.CloseLed();
         return host.Said(Timed("close", start));
     }},
    {"write", 1, [](Host host, Args args) { return Write(host, args[0]); }},
    {"write-hex", 1, [](Host host, Args args) { std::string bytes; return tools::ParseHexBytes(args[0], bytes) && Write(host, bytes); }},
    {"write-until", 1, WriteUntilItWorks},
    {"clear", 0, [](Host host, Args) {
         const Clock::time_point start = Clock::now();
         return host.Said(Timed("clear " + std::to_string(host.exports.ClearLed()), start));
     }},
    {"mode", 1, [](Host host, Args args) {
         long mode = 0;
         return ParseNumber(args[0], mode) && (host.exports.SetShowMode(static_cast<unsigned char>(mode)), host.Said("mode"));
     }},
    {"ask", 1, [](Host host, Args args) { return host.Said("ask " + args[0]) && (host.ask(args[0]), true); }},
};

}  // namespace steps

// Runs the step that starts at words[at]; returns how many words it took, 0 when it is none of
// these steps or its arguments are missing or wrong.
inline size_t RunStep(const StepHost& host, const std::vector<std::string>& words, size_t at) {
    for (const steps::Kind& kind : steps::kKinds) {
        if (words[at] != kind.word) continue;
        return words.size() - at - 1 >= kind.arguments && kind.run(host, &words[at + 1]) ? kind.arguments + 1 : 0;
    }
    return 0;
}

// Runs every step of `words`; false at the first it cannot run.
inline bool RunSteps(const StepHost& host, const std::vector<std::string>& words) {
    size_t used = 1;
    for (size_t at = 0; at < words.size() && used > 0; at += used) used = RunStep(host, words, at);
    return used > 0;
}

}  // namespace ledsign::test
