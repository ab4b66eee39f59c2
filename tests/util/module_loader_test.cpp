// The module loader on the stand-in media library beside the test program:
// only the file in the folder given is ever opened, and entry points are
// bound all together or not at all.
#include "util/module_loader.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "tests/support/case_names.h"

namespace {

typedef int (*InitializeFn)();
typedef int (*GetStateFn)(unsigned);

// Stand in a slot until the loader clears it.
int NotBoundYet()
{
    return 0;
}
int NotBoundYetEither(unsigned)
{
    return 0;
}

std::string BinFolder()
{
    char real[PATH_MAX] = {0};
    return realpath(QG_BIN_DIR, real) ? std::string(real) + "/" : std::string(QG_BIN_DIR) + "/";
}

TEST(ModuleLoader, ProgramFolderIsTheFolderOfTheRunningProgramWithItsSlash)
{
    char folder[256];
    ASSERT_EQ(0, GetProgramFolder(folder, sizeof(folder)));
    EXPECT_EQ(BinFolder(), folder);

    char tooSmall[4];
    EXPECT_EQ(-1, GetProgramFolder(tooSmall, sizeof(tooSmall)));
    EXPECT_STREQ("", tooSmall);
}

TEST(ModuleLoader, BindsEveryEntryPointOfTheFileInTheFolder)
{
    InitializeFn initialize = nullptr;
    GetStateFn getState = nullptr;
    const ModuleEntry entries[] = {ModuleEntryFor("CVRTC_Initialize", initialize),
                                   ModuleEntryFor("CVRTC_GetState", getState)};
    ModuleLoadResult result = kModuleNoPath;
    char error[256] = "unchanged";
    void* handle = LoadModule(BinFolder().c_str(), "libcorvanewebrtcsdk.so", entries, 2, &result, error, sizeof(error));
    ASSERT_NE(nullptr, handle) << error;
    EXPECT_EQ(kModuleLoaded, result);
    EXPECT_STREQ("", error);
    EXPECT_NE(nullptr, initialize);
    EXPECT_NE(nullptr, getState);
    UnloadModule(handle);
}

struct RefusalCase {
    const char* name;
    std::string directory;
    std::string file;
    const char* second;  // the second entry point's name
    ModuleLoadResult result;
    const char* error;  // a part of the error text
};
QG_PRINT_CASE_BY_NAME(RefusalCase)

class Refusal : public ::testing::TestWithParam<RefusalCase>
{};

TEST_P(Refusal, OpensNothingAndLeavesEveryEntryPointUnbound)
{
    const RefusalCase& c = GetParam();
    InitializeFn initialize = &NotBoundYet;
    GetStateFn getState = &NotBoundYetEither;
    const ModuleEntry entries[] = {ModuleEntryFor("CVRTC_Initialize", initialize), ModuleEntryFor(c.second, getState)};
    ModuleLoadResult result = kModuleLoaded;
    char error[512] = {0};
    EXPECT_EQ(nullptr, LoadModule(c.directory.c_str(), c.file.c_str(), entries, 2, &result, error, sizeof(error)));
    EXPECT_EQ(c.result, result);
    EXPECT_NE(std::string::npos, std::string(error).find(c.error)) << error;
    EXPECT_EQ(nullptr, initialize);
    EXPECT_EQ(nullptr, getState);
}

const RefusalCase kRefusals[] = {
    // dlopen alone would find the C library through the search path.
    {"NoFolderIsNotTheSearchPath", "", "libc.so.6", "CVRTC_GetState", kModuleNoPath,
     "libc.so.6: no usable path beside the program"},
    {"PathTooLong", "/" + std::string(300, 'x') + "/", "libcorvanewebrtcsdk.so", "CVRTC_GetState", kModuleNoPath,
     "no usable path beside the program"},
    {"NoSuchFile", BinFolder(), "libnosuchmodule.so", "CVRTC_GetState", kModuleNotOpened,
     "libnosuchmodule.so: cannot open shared object file"},
    {"OneEntryPointMissing", BinFolder(), "libcorvanewebrtcsdk.so", "CVRTC_NoSuchEntry", kModuleEntryMissing,
     "libcorvanewebrtcsdk.so: no entry point CVRTC_NoSuchEntry"},
};

INSTANTIATE_TEST_SUITE_P(Modules, Refusal, ::testing::ValuesIn(kRefusals), qgtest::ByName());

}  // namespace
