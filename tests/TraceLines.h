// The frame trace a plug-in writes with LEDSIGN_TRACE=1, read back. Each of its lines is
// "<module> +<ms> ms <event>": a write ("write 41 42 = 1"), a pause ("pause 100") or what
// happened to the line ("ttyUSB0 lost: write: Input/output error (5)").
#pragma once

#include <cctype>
#include <string>
#include <vector>

namespace ledsign::test {

// The lines of a text, each without its line break; an unfinished last line is left out.
inline std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

// The event of a trace line of `module`, without the line break at its end; false for any other line.
inline bool TraceEvent(std::string line, const std::string& module, std::string& event) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (line.compare(0, module.size() + 2, module + " +") != 0) return false;
    size_t at = module.size() + 2;
    const size_t digits = at;
    while (at < line.size() && std::isdigit(static_cast<unsigned char>(line[at])) != 0) ++at;
    if (at == digits || line.compare(at, 4, " ms ") != 0) return false;
    event = line.substr(at + 4);
    return true;
}

// What a module's trace lines say, in order.
struct FrameTrace {
    std::string written;              // every write's bytes in hex, one space apart
    int failedWrites = 0;             // writes traced with a result other than 1
    std::string paused;               // every pause's milliseconds, one space apart
    std::vector<std::string> events;  // every other event: the line lost, stalled, back
    std::vector<std::string> others;  // the lines that are not the module's trace lines, as they came
};

inline FrameTrace ReadFrameTrace(const std::vector<std::string>& lines, const std::string& module) {
    FrameTrace trace;
    const auto join = [](std::string& list, const std::string& item) { list += (list.empty() ? "" : " ") + item; };
    for (const std::string& line : lines) {
        std::string event;
        if (!TraceEvent(line, module, event)) {
            trace.others.push_back(line);
        } else if (event.rfind("write ", 0) == 0) {
            const size_t result = event.rfind(" = ");
            join(trace.written, event.substr(6, result == std::string::npos ? std::string::npos : result - 6));
            trace.failedWrites += result == std::string::npos || event.substr(result + 3) != "1";
        } else if (event.rfind("pause ", 0) == 0) {
            join(trace.paused, event.substr(6));
        } else {
            trace.events.push_back(event);
        }
    }
    return trace;
}

}  // namespace ledsign::test
