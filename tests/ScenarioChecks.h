// The far side of a line scenario and what every run of it must show, whichever host ran it (a pty
// natively, a COM port under Wine, the kernel's drivers in the guest).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "LineScenarios.h"
#include "Pty.h"
#include "RecordingLine.h"
#include "SignCases.h"

namespace ledsign::test {

// A call on a line that takes no bytes gives -1 once its writes have waited out their deadlines
// (2 s, less the slack of a coarse clock), and no later than the model's bound.
inline void ExpectStalledCallTime(double ms, const SignCase& c) {
    EXPECT_GE(ms, 1900);
    EXPECT_LE(ms, c.stalledCallMaxMs);
}

// Once the line moves again, or has come back, the next Write2Led("AB#D") puts the whole of its
// frames on it: what the far side received ends with them.
inline void ExpectEndsWithTwoRowFrames(const std::string& received, const SignCase& c) {
    const std::string frames = Bytes(c.twoRowBytes);
    ASSERT_GE(received.size(), frames.size());
    EXPECT_EQ(Hex(received.substr(received.size() - frames.size())), Hex(frames));
}

// The settings a line that came back is reopened at, when the host asked for `baud`,8,NONE,1.
inline std::string ReopenedAt(const SignCase& c, int baud) {
    return std::string(" back: reopened at ") + (c.fixedLine ? "2400" : std::to_string(baud)) + ",8,NONE,1";
}

// What a line's far side does when a scenario asks; each host's line does it its own way.
class FarSide {
public:
    virtual ~FarSide() = default;
    virtual void Stall() = 0;   // stops taking bytes until Resume
    virtual void Resume() = 0;
    virtual void Unplug() = 0;  // the device goes away
    virtual void Replug() = 0;  // a device is back behind the same name
    // Everything the line the far side last acted on has received, once it is quiet.
    virtual std::string Received() = 0;
};

// A pty behind a name the plug-in opens (`Name`: a link natively, a COM port under Wine). It stops
// reading, or goes away (the name removed, the pty closed, as a USB adapter pulled) and comes back
// as a new pty behind the same name.
template <class Name>
class PtyBehindName : public FarSide {
public:
    const Name& Port() const { return name_; }
    void Stall() override { line_->Stall(); }
    void Resume() override { line_->Resume(); }
    void Unplug() override {
        name_.Remove();
        line_->CloseMaster();
    }
    void Replug() override {
        line_ = std::make_unique<Pty>();
        name_.PointAt(*line_);
    }
    std::string Received() override { return line_->Settle(100); }

protected:
    std::unique_ptr<Pty> line_ = std::make_unique<Pty>();
    Name name_{*line_};
};

// Answers a scenario's asks through a far side, and keeps what arrived since the line last moved
// again (resume, replug) at each "frames" and "quiet".
class ScenarioPlayer {
public:
    explicit ScenarioPlayer(FarSide& farSide) : farSide_(farSide) {}

    // False for an ask that is none of the scenarios'.
    bool OnAsk(const std::string& what) {
        if (what == "stall") {
            farSide_.Stall();
        } else if (what == "resume") {
            movedAt_ = farSide_.Received().size();  // before the line's backlog flows again
            farSide_.Resume();
        } else if (what == "replug") {
            farSide_.Replug();
            movedAt_ = farSide_.Received().size();
        } else if (what == "unplug") {
            farSide_.Unplug();
        } else if (what == "frames" || what == "quiet") {
            arrived_.push_back(ArrivedSinceMoved());
        } else {
            return false;
        }
        return true;
    }

    std::string ArrivedSinceMoved() {
        const std::string received = farSide_.Received();
        return received.size() < movedAt_ ? received : received.substr(movedAt_);
    }

    // What arrived at the earliest "frames" or "quiet" not yet taken.
    std::string TakeArrived() {
        if (arrived_.empty()) return "(nothing was recorded)";
        std::string first = arrived_.front();
        arrived_.pop_front();
        return first;
    }

private:
    FarSide& farSide_;
    size_t movedAt_ = 0;
    std::deque<std::string> arrived_;
};

// One run of a scenario: the host's result line for each step, checked against the table, and what
// the far side saw at its "frames" and "quiet".
inline void ExpectScenarioRun(const LineScenario& scenario, const SignCase& c, const std::vector<std::string>& results,
                              ScenarioPlayer& player) {
    SCOPED_TRACE(std::string(c.sign) + " " + scenario.name);
    ASSERT_EQ(results.size(), scenario.steps.size()) << ::testing::PrintToString(results);
    for (size_t index = 0; index < results.size(); ++index) {
        const ScenarioStep& step = scenario.steps[index];
        const size_t measured = results[index].find(" ms=");
        EXPECT_EQ(results[index].substr(0, measured), step.result) << "at \"" << step.step << "\"";
        const double ms = measured == std::string::npos ? -1 : std::atof(results[index].c_str() + measured + 4);
        if (step.time == StepTime::kStalledCall) ExpectStalledCallTime(ms, c);
        if (step.time == StepTime::kPrompt) EXPECT_LT(ms, 1000) << results[index];
        if (step.step == std::string("ask frames")) ExpectEndsWithTwoRowFrames(player.TakeArrived(), c);
        if (step.step == std::string("ask quiet")) EXPECT_EQ(Hex(player.TakeArrived()), "") << "sent after CloseLed";
    }
}

// One model in one scenario: the parameter of the per-host scenario tests.
struct ScenarioCase {
    const SignCase* sign;
    const LineScenario* scenario;
};

inline std::vector<ScenarioCase> EveryScenarioCase() {
    std::vector<ScenarioCase> cases;
    for (const LineScenario& scenario : kLineScenarios) {
        for (const SignCase& c : kSignCases) cases.push_back({&c, &scenario});
    }
    return cases;
}

inline void PrintTo(const ScenarioCase& c, std::ostream* out) { *out << c.sign->sign << " " << c.scenario->name; }

// "brava_stalled_line"
inline std::string ScenarioCaseName(const ::testing::TestParamInfo<ScenarioCase>& info) {
    std::string name = std::string(info.param.sign->sign) + "_" + info.param.scenario->name;
    for (char& letter : name) letter = letter == '-' ? '_' : letter;
    return name;
}

}  // namespace ledsign::test
