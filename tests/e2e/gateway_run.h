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
    int status = -1;  // exit status of the stand-in gateway; -1 when it had to be killed
    std::vector<std::string> out;     // the gateway's lines
    std::vector<std::string> sdkLog;  // lines quillgate wrote through SDK option 135

    static int Find(const std::vector<std::string>& lines, const std::string& prefix, int from = 0)
    {
        return qgtest::Find(lines, prefix, from);
    }
    int Out(const std::string& prefix, int from = 0) const { return Find(out, prefix, from); }
    int Log(const std::string& prefix, int from = 0) const { return Find(sdkLog, "[proxy] " + prefix, from); }
    std::string Dump() const
    {
        std::string text = "gateway:\n";
        for (const std::string& l : out)
            text += "  " + l + "\n";
        text += "sdk log:\n";
        for (const std::string& l : sdkLog)
            text += "  " + l + "\n";
        return text;
    }
};

// What the stand-in SDK is given for one run.
struct SdkSetup {
    std::string scenario;  // QG_SDK_SCENARIO text; empty: the SDK's built-in default
    // Control lines for the SDK's FIFO, each written once the gateway has
    // printed a line starting with `after` (steps run in order, each
    // trigger looked for below the previous one; empty: at once).
    struct Step {
        std::string after;
        std::string line;
    };
    std::vector<Step> control;
};

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
    if (!sdk.scenario.empty())
        std::ofstream(scenarioPath) << sdk.scenario;
    // Made here and held open read-write, so writes never block on the SDK.
    int control = -1;
    if (!sdk.control.empty() && mkfifo(controlPath.c_str(), 0600) == 0)
        control = open(controlPath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
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
        while (control >= 0 && step < sdk.control.size()) {
            // Each trigger is looked for after the line that fired the step before.
            const std::string& after = sdk.control[step].after;
            const int at = after.empty() ? from - 1 : GatewayRun::Find(ReadLines(outPath), after, from);
            if (at < 0)
                break;
            const std::string line = sdk.control[step].line + "\n";
            if (write(control, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
                break;
            from = at + 1;
            ++step;
        }
        usleep(20 * 1000);
    }
    if (control >= 0)
        close(control);
    if (done == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    } else if (done == pid && WIFEXITED(status)) {
        run.status = WEXITSTATUS(status);
    }
    run.out = ReadLines(outPath);
    run.sdkLog = ReadLines(logPath);
    return run;
}

}  // namespace qgtest

#endif
