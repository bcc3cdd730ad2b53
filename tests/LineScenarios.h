// The stalled-line and lost-line scenarios, written once in the hosts' step words (HostSteps.h)
// with the result every host must give at each step: the native tests run them on ptys, the Wine
// tests on COM ports, the guest on the kernel's UART and USB-serial drivers. Where a step asks,
// each host's far side acts in its own way (ScenarioChecks.h, GuestTest.cpp).
#pragma once

#include <string>
#include <vector>

#include "HostSteps.h"

namespace ledsign::test {

// What a step's measurement must show.
enum class StepTime {
    kAny,
    kStalledCall,  // the writes of the call waited out their deadlines: 1,900 ms up to the model's bound
    kPrompt,       // under a second: nothing was left to wait for
};

struct ScenarioStep {
    const char* step;    // "{port}" is the line's name on the host
    const char* result;  // the result line without its measurements
    StepTime time = StepTime::kAny;
};

struct LineScenario {
    const char* name;
    std::vector<ScenarioStep> steps;
};

inline const LineScenario kLineScenarios[] = {
    // The sign side stops taking bytes (it stops reading, or the driver holds the drain as ftdi_sio
    // does for an adapter pulled during it): the call gives -1 once its writes have waited out their
    // deadlines, the port stays open, and once the line moves again the next call puts the whole text
    // on it.
    {"stalled-line",
     {{"init {port} 9600 8 1 NONE", "init"},
      {"open", "open 1"},
      {"write AB#D", "write 1"},
      {"ask stall", "ask stall"},
      {"write AB#D", "write -1", StepTime::kStalledCall},
      {"isopen", "isopen 1"},
      {"ask resume", "ask resume"},
      {"write AB#D", "write 1"},
      {"ask frames", "ask frames"},
      {"close", "close", StepTime::kPrompt}}},
    // The device goes away under an open plug-in (a USB adapter pulled) and comes back behind the same
    // name. The loss releases the device at once; with nothing behind the name a call fails at once
    // and the next within the second tries nothing; once the device is back the plug-in opens it
    // again by itself, without CloseLed/OpenLed, and the new line gets the whole frames.
    {"lost-line",
     {{"init {port} 9600 8 1 NONE", "init"},
      {"open", "open 1"},
      {"write AB#D", "write 1"},
      {"ask unplug", "ask unplug"},
      {"write AB#D", "write -1", StepTime::kPrompt},
      {"isopen", "isopen 1"},
      {"write AB#D", "write -1", StepTime::kPrompt},
      {"clear", "clear -1", StepTime::kPrompt},
      {"ask replug", "ask replug"},
      {"write-until AB#D", "write-until 1"},
      {"isopen", "isopen 1"},
      {"ask frames", "ask frames"},
      {"close", "close", StepTime::kPrompt}}},
    // A host that closes the plug-in while its line is lost ends all of it: nothing is reopened,
    // and a host's own open works as ever.
    {"lost-line-closed",
     {{"init {port} 9600 8 1 NONE", "init"},
      {"open", "open 1"},
      {"write AB#D", "write 1"},
      {"ask unplug", "ask unplug"},
      {"write AB#D", "write -1", StepTime::kPrompt},
      {"close", "close", StepTime::kPrompt},
      {"ask replug", "ask replug"},
      {"write AB#D", "write -1", StepTime::kPrompt},
      {"isopen", "isopen 0"},
      {"open", "open 1"},
      {"close", "close"},
      {"ask quiet", "ask quiet"}}},
};

// Whether the scenario asks its far side for `what`.
inline bool Asks(const LineScenario& scenario, const std::string& what) {
    for (const ScenarioStep& step : scenario.steps) {
        if (step.step == "ask " + what) return true;
    }
    return false;
}

// The scenario's steps as a host's words, on the line named `port`.
inline std::vector<std::string> ScenarioWords(const LineScenario& scenario, const std::string& port) {
    std::vector<std::string> words;
    for (const ScenarioStep& step : scenario.steps) {
        std::string text = step.step;
        const size_t at = text.find("{port}");
        if (at != std::string::npos) text.replace(at, 6, port);
        const std::vector<std::string> stepWords = StepWords(text);
        words.insert(words.end(), stepWords.begin(), stepWords.end());
    }
    return words;
}

}  // namespace ledsign::test
