// quillgate: one process per browser session of the WebRTC gateway.
#include <cerrno>
#include <cstdlib>
#include <poll.h>
#include <pthread.h>
#include <syslog.h>
#include <unistd.h>

#include "quillgate/session/connect_mgr.h"
#include "quillgate/session/corvane_quillgate.h"
#include "util/cv_ioutils.h"
#include "util/server_tools.h"
#include "util/win32_shims.h"

namespace {

enum StdinResult { kStdinNothing, kStdinChar, kStdinClosed };

// Waits at most timeoutMs for standard input and reads one character only
// when one is ready, so the wait loop never blocks on a silent terminal.
StdinResult PollStdin(int timeoutMs, char* ch)
{
    pollfd pfd = {STDIN_FILENO, POLLIN, 0};
    const int ready = poll(&pfd, 1, timeoutMs);
    if (ready < 0)
        return errno == EINTR ? kStdinNothing : kStdinClosed;
    if (ready == 0)
        return kStdinNothing;
    if (pfd.revents & POLLIN) {
        const ssize_t n = read(STDIN_FILENO, ch, 1);
        if (n == 1)
            return kStdinChar;
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            return kStdinNothing;
        return kStdinClosed;
    }
    return kStdinClosed;  // hang-up, error or no such descriptor
}

}  // namespace

void* mainloopthread(void*)
{
    srand(GetTickCount());
    g_bMainLoopRunning = 1;
    while (!g_bNeedExitMainLoop) {
        CCorvaneQuillgate* service = g_lpCorvaneService;
        if (!service || !service->MainLoopStep())
            break;
        usleep(10000);
    }
    g_bMainLoopRunning = 0;
    return nullptr;
}

int main(int argc, char* argv[])
{
    // A launcher may leave its own descriptors open in us; a leaked copy of
    // the gateway's listening socket would keep accepting our reconnection
    // attempts after the gateway itself is gone.
    close_range(3, ~0U, 0);

    Json::Value options = CServerTools::ParseCommandLine(argc, argv);
    const bool daemon = CServerTools::IntOption(options, "daemon") != 0;
    if (daemon) {
        const int ret = CV_IOUtils::initDaemon(nullptr);
        if (ret != 0)
            return ret;
    }

    CCorvaneQuillgate* service = new CCorvaneQuillgate();
    g_lpCorvaneService = service;

    int result = -1;
    bool threadStarted = false;
    pthread_t mainLoop;
    if (service->Init(options) && service->Start()) {
        g_bMainLoopRunning = 1;
        if (pthread_create(&mainLoop, nullptr, mainloopthread, nullptr) == 0) {
            threadStarted = true;
            result = 0;
        } else {
            g_bMainLoopRunning = 0;
            CConnectMgr::Log(16, "start main loop thread fail!");
        }
    }
    options = Json::Value();

    if (threadStarted) {
        syslog(LOG_INFO, "%s Running...", service->GetDisplayName());
        bool stdinOpen = !daemon;
        while (g_bMainLoopRunning) {
            if (stdinOpen && !g_bNeedExitMainLoop) {
                char ch = 0;
                const StdinResult r = PollStdin(100, &ch);
                if (r == kStdinChar && ch == 'q')
                    g_bNeedExitMainLoop = 1;
                else if (r == kStdinClosed)
                    stdinOpen = false;  // end of input is ignored
            } else {
                usleep(100000);
            }
        }
    }

    // Stop order: main loop, Ice and the keep-alive thread, then the SDK's
    // callbacks and the WebRTC side, and only then the objects they use.
    if (threadStarted) {
        g_bNeedExitMainLoop = 1;
        pthread_join(mainLoop, nullptr);
    }
    service->OnServiceStop();
    CConnectMgr::GetInstance().Release();
    g_lpCorvaneService = nullptr;
    delete service;
    return result;
}
