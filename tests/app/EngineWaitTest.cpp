// What the window and the command-line front end say while the engine keeps
// a started download waiting, event by event.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EngineWait.h"

namespace {

// Steps of a run: "start", "end", "notice:<code>" or an event code; each
// answers what is said ("" for nothing).
std::vector<std::string> Play(const std::vector<std::string>& steps, bool* sayingAtEnd = nullptr)
{
    EngineWait wait;
    std::vector<std::string> said;
    for (const std::string& step : steps) {
        std::optional<EngineWait::Say> say;
        if (step == "start")
            say = wait.OnJobStarted();
        else if (step == "end")
            wait.OnJobEnded();
        else if (step.rfind("notice:", 0) == 0)
            say = wait.OnNotice(static_cast<uint32_t>(std::stoul(step.substr(7))));
        else
            say = wait.OnEvent(static_cast<UINT>(std::stoul(step)));
        said.push_back(!say                                ? ""
                       : *say == EngineWait::Say::Updating ? "updating"
                       : *say == EngineWait::Say::Starting ? "starting"
                                                           : "direct");
    }
    if (sayingAtEnd != nullptr)
        *sayingAtEnd = wait.Saying();
    return said;
}

struct Case {
    const char* name;
    std::vector<std::string> steps;
    std::vector<std::string> said;
    bool sayingAtEnd;
};

} // namespace

TEST(EngineWait, SaysWhatKeepsAStartedJobWaitingAndWhenItGoesTheDirectWay)
{
    const std::vector<Case> cases = {
        {"started during the update: updating, then starting, until progress",
         {"start", "518", "519", "520", "513", "514"},
         {"updating", "", "", "starting", "", ""},
         false},
        {"the engine was ready before the start: nothing", {"520", "start", "513", "514"}, {"", "", "", ""}, false},
        {"the update fails while the job waits",
         {"start", "519", "521", "531", "520"},
         {"updating", "", "direct", "", ""},
         true},
        {"no engine from the start: nothing", {"521", "start", "513"}, {"", "", ""}, false},
        {"launches that end in closed connections give the engine up",
         {"start", "520", "520", "531", "514"},
         {"updating", "starting", "", "direct", ""},
         false},
        {"the engine folder cannot be written while the job waits", {"start", "527"}, {"updating", "direct"}, true},
        {"the engine gives a running job up",
         {"520", "start", "513", "514", "notice:518", "514"},
         {"", "", "", "", "direct", ""},
         false},
        {"a closed engine's relaunch holds a running job, twice",
         {"520", "start", "514", "518", "519", "520", "514", "520", "514"},
         {"", "", "", "updating", "", "starting", "", "starting", ""},
         false},
        {"after the direct way, the engine's relaunch is not the job's",
         {"520", "start", "514", "notice:518", "520", "518"},
         {"", "", "", "direct", "", ""},
         true},
        {"a stopped job hears nothing more",
         {"start", "end", "520", "521", "notice:518"},
         {"updating", "", "", "", ""},
         false},
        {"other notices say nothing", {"start", "notice:515", "notice:517"}, {"updating", "", ""}, true},
    };
    for (const Case& c : cases) {
        bool saying = false;
        EXPECT_EQ(Play(c.steps, &saying), c.said) << c.name;
        EXPECT_EQ(saying, c.sayingAtEnd) << c.name;
    }
}
