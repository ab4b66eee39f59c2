// The log-file name functions on any names: the order of log file names is
// a strict weak order (std::sort relies on it), a new name stays inside the
// path buffer and terminated, and the file list of a path never fails
// harder than -1.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz/fuzz_check.h"
#include "util/debug_info.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    // Names as ListLogFiles sorts them: each holds a '_'.
    std::string names[3];
    for (std::string& n : names) {
        n = in.ConsumeRandomLengthString(40);
        if (n.find('_') == std::string::npos)
            n.insert(n.size() / 2, "_");
    }
    const std::string& a = names[0];
    const std::string& b = names[1];
    const std::string& c = names[2];
    auto less = CDebugInfo::SortByLogFileName;
    FUZZ_CHECK(!less(a, a));
    FUZZ_CHECK(!(less(a, b) && less(b, a)));
    if (less(a, b) && less(b, c))
        FUZZ_CHECK(less(a, c));
    // Equivalence is transitive too.
    if (!less(a, b) && !less(b, a) && !less(b, c) && !less(c, b))
        FUZZ_CHECK(!less(a, c) && !less(c, a));

    // A new name in place of the file name of a path.
    CDebugInfo log;
    const std::string dir = in.ConsumeRandomLengthString(300);
    const std::string name = in.ConsumeRandomLengthString(600);
    log.ChangeLogFileName(dir.c_str());
    const char* path = log.ChangeLogFileName(name.c_str());
    FUZZ_CHECK(path != nullptr);
    FUZZ_CHECK(std::strlen(path) < 256);  // the object's path buffer

    std::vector<std::string> files;
    const int count = log.GetLogFileList(in.ConsumeIntegral<uint32_t>(), in.ConsumeIntegral<uint32_t>(),
                                         in.ConsumeIntegral<uint32_t>(), files);
    FUZZ_CHECK(count >= -1);
    FUZZ_CHECK(count == -1 || static_cast<size_t>(count) == files.size());
    return 0;
}
