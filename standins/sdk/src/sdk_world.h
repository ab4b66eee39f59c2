// What the stand-in SDK's simulated server knows: users, rooms, objects,
// options and scripted failures, filled from scenario directives.
#ifndef QG_SDK_WORLD_H
#define QG_SDK_WORLD_H

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace sdkstub {

struct UserRecord {
    std::string name;  // GB2312 bytes
    uint32_t camera = 0;
    uint32_t speak = 0;
    uint32_t device = 0;
    std::string info;
    std::map<uint32_t, std::string> states;  // CVAPI_QueryUserState values beside the device type
    // The user's camera as the video callback describes it.
    uint32_t width = 320;
    uint32_t height = 240;
    uint32_t rotation = 0;
};

// A scripted result: times < 0 means every time.
struct Fault {
    uint32_t code = 0;
    int times = -1;
};

struct World {
    uint32_t selfId = 1001;
    std::map<uint32_t, UserRecord> users;
    std::map<uint32_t, std::vector<uint32_t>> rooms;
    std::map<std::string, uint32_t> roomNames;
    std::vector<uint32_t> anyRoom;  // users of a room the scenario does not list
    std::map<uint32_t, std::vector<uint32_t>> objects;
    std::map<std::tuple<uint32_t, uint32_t, uint32_t>, std::string> objectValues;
    std::map<int, std::string> options;
    std::map<uint32_t, std::string> sdkAnswers;  // CVAPI_SDKControl output by control code
    std::map<std::string, Fault> outcomeFaults;  // "connect", "login", "enterroom"
    std::map<std::string, Fault> returnFaults;   // by CVAPI_ function name
    // Directives applied as a call of that CVAPI_ name returns, one a call.
    std::map<std::string, std::deque<std::vector<std::string>>> afterCalls;

    // The live list of a room, made from the "room *" section on first use.
    std::vector<uint32_t>& RoomUsers(uint32_t roomId);
    // Consumes one use of a fault; true with its code when one applies.
    static bool TakeFault(std::map<std::string, Fault>& faults, const std::string& key, uint32_t& code);
    // Applies the first directive due after a call of that name, if any.
    void RunAfterCall(const std::string& call);
};

// Where scenario "user" lines go; the control channel has no section.
struct Section {
    enum Kind { kNone, kRoom, kAnyRoom, kNoRoom } kind = kNone;
    uint32_t room = 0;
};

// Applies one directive (tokens of one line). section is null on the
// control channel, where "room" is refused and "user" only updates.
// Returns false with a reason for a line that does not parse; the world is
// then unchanged.
bool ApplyDirective(World& world, const std::vector<std::string>& tokens, Section* section, std::string& error);

// Reads "key=value" attributes of a user line from tokens[first] on.
bool ParseUserAttributes(const std::vector<std::string>& tokens, size_t first, UserRecord& user, std::string& error);

// Parses a whole scenario text; errors lists "line N: reason" per bad line.
void LoadScenario(World& world, const std::string& text, std::vector<std::string>& errors);

extern const char kDefaultScenario[];

}  // namespace sdkstub

#endif
