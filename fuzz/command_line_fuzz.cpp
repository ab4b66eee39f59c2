// The command line and ParseCommandString on any words: the options come
// out as an object of known names with values of their kind, getopt is left
// ready for the next parse, and the compact text of either result reads
// again as the same document.
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz/fuzz_check.h"
#include "util/json_writer.h"
#include "util/server_tools.h"

namespace {

const std::set<std::string> kFlags = {"startserver", "daemon", "install", "uninstall"};
const std::set<std::string> kNumbers = {"hostport",  "tcpport",  "udpport", "runstatus",
                                        "fatherudp", "h5vcodec", "areaid",  "queueid"};
const std::set<std::string> kTexts = {"hostaddr",    "serviceGuid",    "machineGuid", "appGuid",   "secretpwd",
                                      "versionGuid", "rootServerGuid", "logpath",     "username",  "turnaddr",
                                      "streamurl",   "userdata",       "coreserver",  "accesstype"};

void CheckReadsAgain(const Json::Value& v)
{
    const std::string text = cv::toStyledString(v);
    Json::Value back;
    FUZZ_CHECK(qgfuzz::Parses(text, &back));
    FUZZ_CHECK(cv::toStyledString(back) == text);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    opterr = 0;  // getopt's complaints are not what is tested
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const std::string command = in.ConsumeRandomLengthString(400);

    // The rest: words of a command line, one per NUL-free piece.
    std::vector<std::string> words = {"quillgate"};
    while (in.remaining_bytes() > 0 && words.size() < 40)
        words.push_back(in.ConsumeRandomLengthString(64));
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(&w[0]);
    argv.push_back(nullptr);

    const Json::Value options = CServerTools::ParseCommandLine(static_cast<int>(words.size()), argv.data());
    FUZZ_CHECK(optind == 1);
    FUZZ_CHECK(options.isNull() || options.isObject());
    for (const std::string& name : options.getMemberNames()) {
        const Json::Value& v = options[name];
        if (kFlags.count(name))
            FUZZ_CHECK(v.isInt() && v.asInt() == 1);
        else if (kNumbers.count(name))
            FUZZ_CHECK(v.isInt());
        else
            FUZZ_CHECK(kTexts.count(name) && v.isString());
        (void)CServerTools::IntOption(options, name.c_str());
    }
    CheckReadsAgain(options);

    const Json::Value parsed = CServerTools::ParseCommandString(command.c_str());
    FUZZ_CHECK(parsed.isNull() || parsed.isObject());
    for (const std::string& name : parsed.getMemberNames()) {
        FUZZ_CHECK(name.size() <= 98);
        FUZZ_CHECK(name.find(' ') == std::string::npos);
    }
    CheckReadsAgain(parsed);
    return 0;
}
