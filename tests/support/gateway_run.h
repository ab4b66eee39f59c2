// Runs the stand-in gateway (which starts and drives quillgate) in a
// temporary folder of its own and collects what it printed and what
// quillgate wrote into the SDK log. Every run is bounded in time.
#ifndef QG_TESTS_E2E_GATEWAY_RUN_H
#define QG_TESTS_E2E_GATEWAY_RUN_H

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <signal.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "tests/support/test_support.h"

namespace qgtest {

inline std::string BinDir()
{
    const char* env = getenv("QG_BIN_DIR");
    return env && *env ? env : QG_BIN_DIR;
}

struct GatewayRun {
    int status = -1;                      // exit status of the stand-in gateway; -1 when it had to be killed
    std::vector<std::string> out;         // the gateway's lines
    std::vector<std::string> sdkLog;      // lines quillgate wrote through SDK option 135
    std::vector<std::string> journal;     // the stand-in SDK's journal: every CVAPI_ call
    std::vector<std::string> rtcJournal;  // the stand-in media library's: every CVRTC_ call and callback

    static int Find(const std::vector<std::string>& lines, const std::string& prefix, int from = 0)
    {
        return qgtest::Find(lines, prefix, from);
    }
    int Out(const std::string& prefix, int from = 0) const { return Find(out, prefix, from); }
    // Every gateway line that starts with prefix, in order.
    std::vector<std::string> All(const std::string& prefix) const
    {
        std::vector<std::string> found;
        for (const std::string& l : out)
            if (l.compare(0, prefix.size(), prefix) == 0)
                found.push_back(l);
        return found;
    }
    int Log(const std::string& prefix, int from = 0) const { return Find(sdkLog, "[proxy] " + prefix, from); }
    int Journal(const std::string& prefix, int from = 0) const { return Find(journal, prefix, from); }
    int RtcJournal(const std::string& prefix, int from = 0) const { return Find(rtcJournal, prefix, from); }
    std::string Dump() const
    {
        std::string text = "gateway:\n";
        for (const std::string& l : out)
            text += "  " + l + "\n";
        text += "sdk log:\n";
        for (const std::string& l : sdkLog)
            text += "  " + l + "\n";
        if (!rtcJournal.empty()) {
            text += "media library journal:\n";
            for (const std::string& l : rtcJournal)
                text += "  " + l.substr(0, 300) + "\n";
        }
        return text;
    }
};

// A text as a script argument: quoted, with the escapes the stand-in
// gateway reads (\\ \" \n \r \t \xHH); other bytes as they are.
inline std::string ScriptText(const std::string& bytes)
{
    static const char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    for (unsigned char c : bytes) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7f) {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// The arguments of a printed call "recv op(1, \"text\", true) -> 0": ints
// and flags as printed, texts unquoted to their bytes.
inline std::vector<std::string> CallArgs(const std::string& line)
{
    std::vector<std::string> args;
    size_t i = line.find('(');
    if (i == std::string::npos)
        return args;
    ++i;
    while (i < line.size() && line[i] != ')') {
        while (i < line.size() && line[i] == ' ')
            ++i;
        std::string arg;
        if (i < line.size() && line[i] == '"') {
            for (++i; i < line.size() && line[i] != '"'; ++i) {
                char c = line[i];
                if (c == '\\' && i + 1 < line.size()) {
                    const char e = line[++i];
                    if (e == 'n')
                        c = '\n';
                    else if (e == 'r')
                        c = '\r';
                    else if (e == 't')
                        c = '\t';
                    else if (e == 'x' && i + 2 < line.size()) {
                        c = static_cast<char>(std::stoi(line.substr(i + 1, 2), nullptr, 16));
                        i += 2;
                    } else
                        c = e;
                }
                arg += c;
            }
            ++i;
        } else {
            while (i < line.size() && line[i] != ',' && line[i] != ')')
                arg += line[i++];
        }
        args.push_back(arg);
        if (i < line.size() && line[i] == ',')
            ++i;
    }
    return args;
}

// text as a string of the stand-in gateway's script: quoted, with its
// backslashes and quotes escaped.
inline std::string ScriptString(const std::string& text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

// A script line that waits until the SDK's journal holds n lines with the
// text (no blanks): frames come at the pace of the machine, not of the script.
inline std::string JournalWait(size_t n, const std::string& text, int ms = 30000)
{
    return "journal " + std::to_string(n) + " " + text + " " + std::to_string(ms) + "\n";
}

// What the stand-in SDK is given for one run.
struct SdkSetup {
    std::string scenario;  // QG_SDK_SCENARIO text; empty: the SDK's built-in default
    // Control lines for the SDK's FIFO (rtc: the media library's), each
    // written once the gateway has printed a line starting with `after`
    // (steps run in order, each trigger looked for below the previous one;
    // empty: at once).
    struct Step {
        std::string after;
        std::string line;
        bool rtc = false;
    };
    std::vector<Step> control;
};

// A control step for the media library's FIFO.
inline SdkSetup::Step RtcStep(const std::string& after, const std::string& line)
{
    SdkSetup::Step step;
    step.after = after;
    step.line = line;
    step.rtc = true;
    return step;
}

// Starts standin-gateway with `args` and `script`, waits at most limitSec.
inline GatewayRun RunGateway(const TempDir& dir, const std::vector<std::string>& args, const std::string& script,
                             int limitSec, const SdkSetup& sdk = SdkSetup())
{
    const std::string scriptPath = dir.File("script");
    {
        std::ofstream(scriptPath) << script;
    }
    const std::string outPath = dir.File("gateway.out");
    const std::string logPath = dir.File("sdk.log");
    const std::string scenarioPath = dir.File("sdk.scenario");
    const std::string controlPath = dir.File("sdk.control");
    const std::string rtcControlPath = dir.File("rtc.control");
    if (!sdk.scenario.empty())
        std::ofstream(scenarioPath) << sdk.scenario;
    // Made here and held open read-write, so writes never block on the
    // SDK or the library.
    bool sdkSteps = false, rtcSteps = false;
    for (const SdkSetup::Step& step : sdk.control)
        (step.rtc ? rtcSteps : sdkSteps) = true;
    int control = -1, rtcControl = -1;
    if (sdkSteps && mkfifo(controlPath.c_str(), 0600) == 0)
        control = open(controlPath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (rtcSteps && mkfifo(rtcControlPath.c_str(), 0600) == 0)
        rtcControl = open(rtcControlPath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    std::vector<std::string> argv = {BinDir() + "/standin-gateway", "-Q", "-S", scriptPath};
    argv.insert(argv.end(), args.begin(), args.end());

    GatewayRun run;
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("QG_SDK_LOG", logPath.c_str(), 1);
        setenv("QG_SDK_JOURNAL", dir.File("sdk.journal").c_str(), 1);
        if (control >= 0)
            setenv("QG_SDK_CONTROL", controlPath.c_str(), 1);
        else
            unsetenv("QG_SDK_CONTROL");
        setenv("QG_RTC_JOURNAL", dir.File("rtc.journal").c_str(), 1);
        if (rtcControl >= 0)
            setenv("QG_RTC_CONTROL", rtcControlPath.c_str(), 1);
        else
            unsetenv("QG_RTC_CONTROL");
        if (!sdk.scenario.empty())
            setenv("QG_SDK_SCENARIO", scenarioPath.c_str(), 1);
        else
            unsetenv("QG_SDK_SCENARIO");
        const int fd = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int null = open("/dev/null", O_RDONLY);
        if (fd < 0 || null < 0)
            _exit(127);
        dup2(fd, STDOUT_FILENO);
        dup2(fd, STDERR_FILENO);
        dup2(null, STDIN_FILENO);
        std::vector<char*> cargv;
        for (std::string& a : argv)
            cargv.push_back(&a[0]);
        cargv.push_back(nullptr);
        execv(cargv[0], cargv.data());
        _exit(127);
    }
    if (pid < 0)
        return run;

    int status = 0;
    pid_t done = 0;
    size_t step = 0;
    int from = 0;
    for (int waited = 0; waited < limitSec * 1000; waited += 20) {
        done = waitpid(pid, &status, WNOHANG);
        if (done != 0)
            break;
        while (step < sdk.control.size()) {
            // Each trigger is looked for after the line that fired the step before.
            const std::string& after = sdk.control[step].after;
            const int at = after.empty() ? from - 1 : GatewayRun::Find(ReadLines(outPath), after, from);
            if (!after.empty() && at < 0)
                break;
            const int fd = sdk.control[step].rtc ? rtcControl : control;
            const std::string line = sdk.control[step].line + "\n";
            if (fd < 0 || write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
                break;
            from = at + 1;
            ++step;
        }
        usleep(20 * 1000);
    }
    if (control >= 0)
        close(control);
    if (rtcControl >= 0)
        close(rtcControl);
    if (done == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    } else if (done == pid && WIFEXITED(status)) {
        run.status = WEXITSTATUS(status);
    }
    run.out = ReadLines(outPath);
    run.sdkLog = ReadLines(logPath);
    run.journal = ReadLines(dir.File("sdk.journal"));
    run.rtcJournal = ReadLines(dir.File("rtc.journal"));
    return run;
}

}  // namespace qgtest

#endif
