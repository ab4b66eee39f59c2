// Start-up helpers of a server process: the command line as named options.
#ifndef QG_UTIL_SERVER_TOOLS_H
#define QG_UTIL_SERVER_TOOLS_H

#include <stdint.h>

#include <json/json.h>

class CServerTools
{
public:
    virtual ~CServerTools() {}

    // The command line as an object of named options (null when none was
    // recognised). Uses getopt; resets optind to 1 at the end.
    static Json::Value ParseCommandLine(int argc, char* argv[]);
    // One option of such an object as a number: an integer as it is, a
    // text as decimal (strtol); 0 for anything else or when absent.
    static long IntOption(const Json::Value& options, const char* name);

    // "<program dir>/log/YYYY-MM/" of the given time (0 = now) into out,
    // cut to size bytes with terminator. 0, or -1 when the program's path
    // is unknown (out untouched).
    static int GetLogDirectory(uint32_t time, char* out, uint32_t size);

    // "cmd content name=value flag ..." as an object; null for a null or
    // empty text.
    static Json::Value ParseCommandString(const char* command);
};

#endif
