// Reading the stand-in gateway's call lines. A call's line is printed as the
// call is sent; its result joins that line when nothing came between, or
// follows later on a line "result <call> -> R" of its own.
#ifndef QG_TESTS_E2E_CALL_RESULT_H
#define QG_TESTS_E2E_CALL_RESULT_H

#include <string>

#include "tests/support/gateway_run.h"

namespace qgtest {

// The result printed for the first call whose text starts with `call`
// (e.g. "login(2, " or "heartBeat()"); "" when none was printed.
inline std::string CallResult(const GatewayRun& run, const std::string& call)
{
    const int at = run.Out("call " + call);
    if (at < 0)
        return "";
    const std::string sent = run.out[at].substr(5);
    const int own = run.Out("result " + sent + " -> ", at + 1);
    const std::string& line = own >= 0 ? run.out[own] : sent;
    const size_t arrow = line.rfind(") -> ");
    return arrow == std::string::npos ? "" : line.substr(arrow + 5);
}

}  // namespace qgtest

#endif
