#include "util/server_tools.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include <getopt.h>
#include <unistd.h>

#include "util/win32_shims.h"

namespace {

enum OptionKind { kFlag, kNumber, kText };

struct OptionEntry {
    char letter;
    const char* key;
    OptionKind kind;
    bool needsText;  // skipped when the argument is missing or empty
};

const OptionEntry kOptions[] = {
    {'r', "startserver", kFlag, false},    {'d', "daemon", kFlag, false},      {'i', "install", kFlag, false},
    {'u', "uninstall", kFlag, false},      {'h', "hostaddr", kText, false},    {'p', "hostport", kNumber, false},
    {'g', "serviceGuid", kText, false},    {'m', "machineGuid", kText, false}, {'t', "tcpport", kNumber, false},
    {'o', "udpport", kNumber, false},      {'a', "appGuid", kText, false},     {'e', "secretpwd", kText, false},
    {'s', "runstatus", kNumber, false},    {'v', "versionGuid", kText, false}, {'f', "fatherudp", kNumber, false},
    {'c', "rootServerGuid", kText, false}, {'l', "logpath", kText, false},     {'n', "username", kText, false},
    {'b', "turnaddr", kText, false},       {'z', "h5vcodec", kNumber, false},  {'j', "areaid", kNumber, true},
    {'k', "queueid", kNumber, true},       {'w', "streamurl", kText, true},    {'y', "userdata", kText, true},
    {'q', "coreserver", kText, true},      {'x', "accesstype", kText, true},
};

const char kOptionString[] = "rdiuh:p:g:m:t:o:a:e:s:v:f:c:l:n:b:z:j:k:w:y:q:x:";

const OptionEntry* findOption(int letter)
{
    for (const OptionEntry& entry : kOptions)
        if (entry.letter == letter)
            return &entry;
    return nullptr;
}

// strtol, base 10, keeping the low 32 bits.
int toInt32(const char* text)
{
    const long value = std::strtol(text, nullptr, 10);
    return static_cast<int>(static_cast<uint32_t>(static_cast<unsigned long>(value)));
}

// Copies at most room - 1 bytes of text into a buffer of room bytes.
void copyCut(char* buffer, size_t room, const char* text)
{
    std::snprintf(buffer, room, "%s", text);
}

// One further token of a command text: name=value or a bare flag name.
void addCommandToken(Json::Value& result, const std::string& token)
{
    char buffer[100];
    copyCut(buffer, sizeof buffer - 1, token.c_str());  // holds at most 98 bytes
    char* equals = std::strchr(buffer, '=');
    if (equals == nullptr) {
        result[buffer] = 1;
        return;
    }
    *equals = '\0';
    result[buffer] = equals + 1;
}

}  // namespace

Json::Value CServerTools::ParseCommandLine(int argc, char* argv[])
{
    Json::Value options;
    int letter;
    while ((letter = getopt(argc, argv, kOptionString)) != -1) {
        if (letter < 'a' || letter > 'z')
            continue;  // getopt has reported it on stderr
        const OptionEntry* entry = findOption(letter);
        if (entry == nullptr)
            continue;
        if (entry->kind == kFlag) {
            options[entry->key] = 1;
            continue;
        }
        if (optarg == nullptr || (entry->needsText && optarg[0] == '\0'))
            continue;
        if (entry->kind == kNumber)
            options[entry->key] = toInt32(optarg);
        else
            options[entry->key] = optarg;
    }
    optind = 1;
    return options;
}

int CServerTools::GetLogDirectory(uint32_t time, char* out, uint32_t size)
{
    char path[256];
    std::memset(path, 0, sizeof path);
    GetModuleFileName(nullptr, path, sizeof path);
    path[sizeof path - 1] = '\0';
    if (path[0] == '\0')
        return -1;
    char* slash = std::strrchr(path, '/');
    if (slash != nullptr)
        slash[1] = '\0';
    else
        path[0] = '\0';

    int year = 0;
    int month = 0;
    if (time != 0) {
        const time_t seconds = static_cast<time_t>(time);
        struct tm local;
        std::memset(&local, 0, sizeof local);
        localtime_r(&seconds, &local);
        year = local.tm_year + 1900;
        month = local.tm_mon + 1;
    } else {
        _SYSTEMTIME now;
        GetLocalTime(&now);
        year = now.wYear;
        month = now.wMonth;
    }
    if (size > 0)
        std::snprintf(out, size, "%s%s%c%04d-%02d%c", path, "log", '/', year, month, '/');
    return 0;
}

Json::Value CServerTools::ParseCommandString(const char* command)
{
    Json::Value result;
    if (command == nullptr)
        return result;
    char text[200];
    copyCut(text, sizeof text, command);

    int index = 0;
    const char* start = text;
    for (;;) {
        const char* blank = std::strchr(start, ' ');
        std::string token;
        if (blank != nullptr) {
            token.assign(start, blank - start);
        } else {
            token.assign(start);
            if (token.empty())
                break;
        }
        if (index == 0)
            result["cmd"] = token;
        else if (index == 1)
            result["content"] = token;
        else
            addCommandToken(result, token);
        ++index;
        if (blank == nullptr)
            break;
        start = blank + 1;
    }
    return result;
}

long CServerTools::IntOption(const Json::Value& options, const char* name)
{
    if (!options.isObject())
        return 0;
    const Json::Value& v = options[name];
    if (v.isInt())
        return v.asInt();
    if (v.isString())
        return strtol(v.asCString(), nullptr, 10);
    return 0;
}
