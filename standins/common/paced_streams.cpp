#include "paced_streams.h"

#include "standin_text.h"

namespace standin {

std::thread StartThread(void (*run)(void*), void* arg)
{
    return std::thread([run, arg] { run(arg); });
}

bool ParsePace(const std::string& token, Pace& out)
{
    if (token == "real") {
        out = Pace{Pace::kReal, 0};
        return true;
    }
    if (token == "fast") {
        out = Pace{Pace::kFast, 0};
        return true;
    }
    uint32_t ms = 0;
    if (!ParseU32(token, ms) || ms == 0 || ms > 60000)
        return false;
    out = Pace{Pace::kFixed, ms};
    return true;
}

}  // namespace standin
