#include "sdk_world.h"

#include <algorithm>
#include <cstring>
#include <sstream>

#include "sdk_text.h"

namespace sdkstub {

const char kDefaultScenario[] = "selfid 1001\n"
                                "room *\n"
                                "user 2001 name=d5c5c8fd camera=2 speak=1 device=1\n"
                                "user 2002 name=6775657374 camera=0 speak=0 device=0\n"
                                "userstate 2001 16 text 3139322e3136382e312e3230\n"
                                "userstate 2001 17 int 3\n"
                                "room -\n"
                                "user 2011 name=c0eecbc4 device=4\n"
                                "user 2012 name=c6bdb0e5 device=8\n"
                                "user 2013 name=70686f6e65 device=2\n"
                                // A service area with its two queues and one agent.
                                "object 4 10\n"
                                "objvalue 4 10 7 int 1\n"
                                "objvalue 4 10 8 text bfcdb7fed6d0d0c4\n"
                                "objvalue 4 10 9 int 5\n"
                                "objvalue 4 10 10 int 2\n"
                                "objvalue 4 10 11 text bbb6d3adc0b4b5e7\n"
                                "objvalue 4 10 12 int 100\n"
                                "objvalue 4 10 13 text 564950\n"
                                "objvalue 4 10 401 int 1\n"
                                "objvalue 4 10 402 int 3\n"
                                "objvalue 4 10 403 int 2\n"
                                "objvalue 4 10 404 int 2\n"
                                "object 5 501\n"
                                "objvalue 5 501 8 text cadbc7b0d7c9d1af\n"
                                "objvalue 5 501 9 int 1\n"
                                "objvalue 5 501 501 int 2\n"
                                "objvalue 5 501 502 int 1\n"
                                "objvalue 5 501 503 int 1700000000\n"
                                "objvalue 5 501 504 int 3\n"
                                "objvalue 5 501 508 int 45\n"
                                "object 5 502\n"
                                "objvalue 5 502 8 text cadbbaf3b7fecef1\n"
                                "objvalue 5 502 9 int 2\n"
                                "object 6 601\n"
                                "objvalue 6 601 8 text d7f8cfaf3031\n"
                                "objvalue 6 601 601 int 1\n"
                                "objvalue 6 601 602 int 2002\n"
                                "objvalue 6 601 603 int 1700000100\n"
                                "objvalue 6 601 604 int 3600\n"
                                "objvalue 6 601 605 int 12\n";

std::vector<uint32_t>& World::RoomUsers(uint32_t roomId)
{
    auto it = rooms.find(roomId);
    if (it == rooms.end())
        it = rooms.emplace(roomId, anyRoom).first;
    return it->second;
}

bool World::TakeFault(std::map<std::string, Fault>& faults, const std::string& key, uint32_t& code)
{
    auto it = faults.find(key);
    if (it == faults.end())
        return false;
    code = it->second.code;
    if (it->second.times > 0 && --it->second.times == 0)
        faults.erase(it);
    return true;
}

void World::RunAfterCall(const std::string& call)
{
    auto it = afterCalls.find(call);
    if (it == afterCalls.end())
        return;
    const std::vector<std::string> directive = it->second.front();
    it->second.pop_front();
    if (it->second.empty())
        afterCalls.erase(it);
    // Checked when it was given.
    std::string error;
    ApplyDirective(*this, directive, nullptr, error);
}

bool ParseUserAttributes(const std::vector<std::string>& tokens, size_t first, UserRecord& user, std::string& error)
{
    UserRecord out = user;
    for (size_t i = first; i < tokens.size(); ++i) {
        const std::string& t = tokens[i];
        size_t eq = t.find('=');
        if (eq == std::string::npos) {
            error = "attribute without '=': " + t;
            return false;
        }
        const std::string key = t.substr(0, eq), value = t.substr(eq + 1);
        bool ok;
        if (key == "name")
            ok = ParseHex(value, out.name);
        else if (key == "info")
            ok = ParseHex(value, out.info);
        else if (key == "camera")
            ok = ParseU32(value, out.camera);
        else if (key == "speak")
            ok = ParseU32(value, out.speak);
        else if (key == "device")
            ok = ParseU32(value, out.device);
        else if (key == "width")
            ok = ParseU32(value, out.width);
        else if (key == "height")
            ok = ParseU32(value, out.height);
        else if (key == "rotation")
            ok = ParseU32(value, out.rotation);
        else {
            error = "unknown attribute: " + key;
            return false;
        }
        if (!ok) {
            error = "bad value: " + t;
            return false;
        }
    }
    user = out;
    return true;
}

namespace {

bool Fail(std::string& error, const std::string& reason)
{
    error = reason;
    return false;
}

// A typed value "int <n>" or "text <hex>" at tokens[i], tokens[i+1].
bool ParseTypedValue(const std::vector<std::string>& tokens, size_t i, std::string& out)
{
    if (tokens.size() != i + 2)
        return false;
    if (tokens[i] == "text")
        return ParseHex(tokens[i + 1], out);
    uint32_t v;
    if (tokens[i] != "int" || !ParseU32(tokens[i + 1], v))
        return false;
    out.assign(reinterpret_cast<const char*>(&v), 4);
    return true;
}

bool ParseFault(const std::vector<std::string>& tokens, Fault& fault)
{
    if (tokens.size() != 3 && tokens.size() != 4)
        return false;
    if (!ParseU32(tokens[2], fault.code))
        return false;
    fault.times = -1;
    if (tokens.size() == 4) {
        uint32_t times;
        if (!ParseU32(tokens[3], times) || times == 0 || times > 1000000)
            return false;
        fault.times = static_cast<int>(times);
    }
    return true;
}

}  // namespace

bool ApplyDirective(World& world, const std::vector<std::string>& tokens, Section* section, std::string& error)
{
    if (tokens.empty())
        return true;
    const std::string& what = tokens[0];
    uint32_t a = 0, b = 0, c = 0;
    if (what == "selfid") {
        if (tokens.size() != 2 || !ParseU32(tokens[1], a))
            return Fail(error, "usage: selfid <id>");
        world.selfId = a;
        return true;
    }
    if (what == "room") {
        if (!section)
            return Fail(error, "room is a scenario directive");
        if (tokens.size() == 2 && tokens[1] == "*") {
            section->kind = Section::kAnyRoom;
            return true;
        }
        if (tokens.size() == 2 && tokens[1] == "-") {
            section->kind = Section::kNoRoom;
            return true;
        }
        std::string name;
        if (tokens.size() < 2 || tokens.size() > 3 || !ParseU32(tokens[1], a) ||
            (tokens.size() == 3 && !ParseHex(tokens[2], name)))
            return Fail(error, "usage: room <id> [<name-hex>] | room * | room -");
        world.rooms[a];
        if (!name.empty())
            world.roomNames[name] = a;
        section->kind = Section::kRoom;
        section->room = a;
        return true;
    }
    if (what == "user") {
        if (tokens.size() < 2 || !ParseU32(tokens[1], a))
            return Fail(error, "usage: user <id> [name=<hex>] [camera=<n>] [speak=<n>] [device=<n>] [info=<hex>]");
        if (section && section->kind == Section::kNone)
            return Fail(error, "user before any room line");
        const bool inRoom = section && section->kind != Section::kNoRoom;
        auto found = world.users.find(a);
        UserRecord user;
        if (found != world.users.end())
            user = found->second;
        else
            user.name = "user" + std::to_string(a);
        if (!ParseUserAttributes(tokens, 2, user, error))
            return false;
        world.users[a] = user;
        if (inRoom) {
            std::vector<uint32_t>& list =
                section->kind == Section::kAnyRoom ? world.anyRoom : world.rooms[section->room];
            if (std::find(list.begin(), list.end(), a) == list.end())
                list.push_back(a);
        }
        return true;
    }
    if (what == "object") {
        if (tokens.size() != 3 || !ParseU32(tokens[1], a) || !ParseU32(tokens[2], b))
            return Fail(error, "usage: object <type> <id>");
        std::vector<uint32_t>& ids = world.objects[a];
        if (std::find(ids.begin(), ids.end(), b) == ids.end())
            ids.push_back(b);
        return true;
    }
    if (what == "objvalue") {
        std::string value;
        if (tokens.size() < 4 || !ParseU32(tokens[1], a) || !ParseU32(tokens[2], b) || !ParseU32(tokens[3], c) ||
            !ParseTypedValue(tokens, 4, value))
            return Fail(error, "usage: objvalue <type> <id> <info> int <n> | text <hex>");
        world.objectValues[std::make_tuple(a, b, c)] = value;
        return true;
    }
    if (what == "userstate") {
        std::string value;
        if (tokens.size() < 3 || !ParseU32(tokens[1], a) || !ParseU32(tokens[2], b) ||
            !ParseTypedValue(tokens, 3, value))
            return Fail(error, "usage: userstate <id> <info> int <n> | text <hex>");
        auto found = world.users.find(a);
        if (found == world.users.end()) {
            UserRecord user;
            user.name = "user" + std::to_string(a);
            found = world.users.emplace(a, user).first;
        }
        found->second.states[b] = value;
        return true;
    }
    if (what == "sdkanswer") {
        std::string value;
        if (tokens.size() != 3 || !ParseU32(tokens[1], a) || !ParseHex(tokens[2], value))
            return Fail(error, "usage: sdkanswer <code> <hex>");
        world.sdkAnswers[a] = value;
        return true;
    }
    if (what == "option") {
        std::string value;
        if (tokens.size() < 2 || !ParseU32(tokens[1], a) || !ParseTypedValue(tokens, 2, value))
            return Fail(error, "usage: option <n> int <v> | text <hex>");
        world.options[static_cast<int>(a)] = value;
        return true;
    }
    if (what == "fail") {
        Fault fault;
        const bool known =
            tokens.size() > 1 && (tokens[1] == "connect" || tokens[1] == "login" || tokens[1] == "enterroom");
        if (!known || !ParseFault(tokens, fault))
            return Fail(error, "usage: fail connect|login|enterroom <code> [<times>]");
        world.outcomeFaults[tokens[1]] = fault;
        return true;
    }
    if (what == "return") {
        Fault fault;
        if (tokens.size() < 2 || tokens[1].compare(0, 6, "CVAPI_") != 0 || !ParseFault(tokens, fault))
            return Fail(error, "usage: return <CVAPI_name> <code> [<times>]");
        world.returnFaults[tokens[1]] = fault;
        return true;
    }
    if (what == "after") {
        if (tokens.size() < 3 || tokens[1].compare(0, 6, "CVAPI_") != 0 || tokens[2] == "after")
            return Fail(error, "usage: after <CVAPI_name> <directive>");
        const std::vector<std::string> directive(tokens.begin() + 2, tokens.end());
        // Tried now on a copy, so a bad one is reported with its own line.
        World scratch = world;
        if (!ApplyDirective(scratch, directive, nullptr, error))
            return false;
        world.afterCalls[tokens[1]].push_back(directive);
        return true;
    }
    return Fail(error, "unknown directive: " + what);
}

void LoadScenario(World& world, const std::string& text, std::vector<std::string>& errors)
{
    Section section;
    std::istringstream in(text);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        std::string error;
        if (!ApplyDirective(world, SplitTokens(line), &section, error))
            errors.push_back("line " + std::to_string(number) + ": " + error);
    }
}

}  // namespace sdkstub
