#include "rtc_text.h"

#include <cstdlib>

namespace rtcstub {

std::string PtrForm(const void* p)
{
    return p ? "set" : "null";
}

std::string I32(uint32_t v)
{
    return std::to_string(static_cast<int32_t>(v));
}

bool JournalOn()
{
    const char* path = std::getenv("QG_RTC_JOURNAL");
    return path && *path;
}

void Journal(const std::string& line)
{
    standin::AppendLine("QG_RTC_JOURNAL", line);
}

}  // namespace rtcstub
