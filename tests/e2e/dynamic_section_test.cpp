// What the built program and the libraries beside it ask of the dynamic
// loader, as readelf -d prints it: the folders searched for libraries, and
// the libraries needed.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/case_names.h"
#include "tests/support/gateway_run.h"

namespace {

struct DynamicSection {
    bool read = false;
    std::vector<std::string> needed;
    std::vector<std::string> searchPath;  // RPATH and RUNPATH entries, in order
};

// The bracketed value of a readelf -d line: "... Shared library: [x]" -> x.
std::string Bracketed(const std::string& line)
{
    const size_t open = line.find('[');
    const size_t close = line.rfind(']');
    return open == std::string::npos || close == std::string::npos || close < open
               ? std::string()
               : line.substr(open + 1, close - open - 1);
}

DynamicSection ReadDynamicSection(const std::string& path)
{
    DynamicSection section;
    FILE* pipe = popen(("readelf -d '" + path + "' 2>&1").c_str(), "r");
    if (!pipe)
        return section;
    char buf[4096];
    while (fgets(buf, sizeof(buf), pipe)) {
        const std::string line(buf);
        if (line.find("Dynamic section at offset") != std::string::npos)
            section.read = true;
        if (line.find("(NEEDED)") != std::string::npos)
            section.needed.push_back(Bracketed(line));
        if (line.find("(RUNPATH)") != std::string::npos || line.find("(RPATH)") != std::string::npos) {
            // Split on ':' keeping empty entries: "a::b:" is a, "", b, "".
            const std::string value = Bracketed(line);
            size_t from = 0;
            while (true) {
                const size_t colon = value.find(':', from);
                section.searchPath.push_back(value.substr(from, colon - from));
                if (colon == std::string::npos)
                    break;
                from = colon + 1;
            }
        }
    }
    pclose(pipe);
    return section;
}

// An entry the loader takes relative to the current directory: empty, ".",
// or any path that is neither absolute nor the file's own folder.
bool FromCurrentDirectory(const std::string& entry)
{
    return entry.empty() ||
           (entry[0] != '/' && entry.compare(0, 7, "$ORIGIN") != 0 && entry.compare(0, 9, "${ORIGIN}") != 0);
}

struct FileCase {
    const char* name;
    const char* file;  // in the program's folder
};
QG_PRINT_CASE_BY_NAME(FileCase)

const FileCase kFiles[] = {
    {"Program", "quillgate"},
    {"DemuxerModule", "libquillgatedemux.so"},
    {"MediaLibrary", "libcorvanewebrtcsdk.so"},
    {"MediaLibraryPv", "libcorvanewebrtcsdkpv.so"},
    {"Sdk", "dizoveverivuve.so"},
};

class BuiltFile : public ::testing::TestWithParam<FileCase>
{};

// A library dropped in the folder a program is started from is never
// loaded in place of the real one.
TEST_P(BuiltFile, SearchesNoFolderRelativeToTheCurrentDirectory)
{
    const std::string path = qgtest::BinDir() + "/" + GetParam().file;
    const DynamicSection section = ReadDynamicSection(path);
    ASSERT_TRUE(section.read) << "readelf -d " << path;
    for (const std::string& entry : section.searchPath)
        EXPECT_FALSE(FromCurrentDirectory(entry)) << path << ": search path entry \"" << entry << "\"";
}

INSTANTIATE_TEST_SUITE_P(Folder, BuiltFile, ::testing::ValuesIn(kFiles), qgtest::ByName());

bool NeedsFfmpeg(const DynamicSection& section)
{
    for (const std::string& library : section.needed) {
        if (library.compare(0, 5, "libav") == 0 || library.compare(0, 5, "libsw") == 0)
            return true;
    }
    return false;
}

// A session whose browser never sends a stream on a data channel loads no
// FFmpeg: only the demuxer module, opened when a stream needs it, links it.
TEST(BuiltProgram, LinksNoFfmpegLibraryWhichTheDemuxerModuleAloneNeeds)
{
    const DynamicSection program = ReadDynamicSection(qgtest::BinDir() + "/quillgate");
    ASSERT_TRUE(program.read);
    EXPECT_FALSE(NeedsFfmpeg(program));
    const DynamicSection module = ReadDynamicSection(qgtest::BinDir() + "/libquillgatedemux.so");
    ASSERT_TRUE(module.read);
    EXPECT_TRUE(NeedsFfmpeg(module));
}

}  // namespace
