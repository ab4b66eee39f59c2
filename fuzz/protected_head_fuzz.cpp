// The protected-file head on any bytes: a file of arbitrary bytes, or a
// file protected here with some password and then damaged at a few places.
// The head text stays inside its buffer and terminated, every result is
// one of its codes, the password check says 0 exactly when unprotecting
// accepts the password, and an undamaged file unprotects to its plain bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz/fuzz_check.h"
#include "util/file_utils.h"

namespace {

std::string g_dir;

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<long>(bytes.size()));
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Password(FuzzedDataProvider& in)
{
    std::string pw = in.ConsumeRandomLengthString(300);
    return pw.substr(0, pw.find('\0'));
}

void RemoveAll()
{
    for (const char* name : {"/src", "/dst"})
        unlink((g_dir + name).c_str());
    rmdir(g_dir.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    char tmpl[] = "/tmp/qg-fuzz-head-XXXXXX";
    if (mkdtemp(tmpl) == nullptr)
        std::abort();
    g_dir = tmpl;
    std::atexit(RemoveAll);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const std::string src = g_dir + "/src";
    const std::string dst = g_dir + "/dst";
    unlink(dst.c_str());

    const bool protectFirst = in.ConsumeBool();
    const std::string pw1 = Password(in);
    const std::string pw2 = in.ConsumeBool() ? pw1 : Password(in);
    const int damages = in.ConsumeIntegralInRange<int>(0, 3);
    std::vector<std::pair<size_t, uint8_t>> damage;
    for (int i = 0; i < damages; ++i) {
        const size_t at = in.ConsumeIntegralInRange<size_t>(0, 4095);
        damage.emplace_back(at, in.ConsumeIntegral<uint8_t>());
    }
    const std::string plain = in.ConsumeRemainingBytesAsString();

    WriteFile(src, plain);
    bool intact = false;
    if (protectFirst && !pw1.empty()) {
        if (CFileGlobalFunc::FileAesEncDec(pw1.c_str(), 1, src.c_str(), nullptr, 1) != 0)
            return 0;
        std::string sealed = ReadFile(src);
        intact = true;
        for (const auto& d : damage) {
            if (d.first < sealed.size() && d.second != 0) {
                sealed[d.first] = static_cast<char>(sealed[d.first] ^ d.second);
                intact = false;
            }
        }
        WriteFile(src, sealed);
    }
    const size_t fileSize = ReadFile(src).size();

    // The head text: inside its buffer and terminated.
    const char kFill = '\x5a';
    std::vector<char> text(2049 + 16, kFill);
    const int pret = CFileGlobalFunc::ParseEncFileHead(src.c_str(), text.data(), 2049);
    FUZZ_CHECK(pret == (fileSize >= 2048 ? 0 : -1));
    FUZZ_CHECK(qgfuzz::Untouched(text.data(), 2049, text.size(), kFill));
    if (pret == 0)
        FUZZ_CHECK(std::memchr(text.data(), '\0', 2048) != nullptr);

    const int isEnc = CFileGlobalFunc::IsEncFile(src.c_str(), 1);
    FUZZ_CHECK(isEnc == 0 || isEnc == 1);
    const int verify = CFileGlobalFunc::VerifyFileEncPass(src.c_str(), pw2.c_str(), 1);
    FUZZ_CHECK(verify == 0 || verify == -1 || verify == 60 || verify == 61);
    if (!pw2.empty() && fileSize >= 2048)
        FUZZ_CHECK((verify == 60) == (isEnc == 0));

    const int restore = CFileGlobalFunc::FileAesEncDec(pw2.c_str(), 0, src.c_str(), dst.c_str(), 1);
    if (verify == 0)
        FUZZ_CHECK(restore != 60 && restore != 61);
    else
        FUZZ_CHECK(restore == verify);
    if (intact && pw2 == pw1) {
        FUZZ_CHECK(verify == 0 && restore == 0);
        FUZZ_CHECK(ReadFile(dst) == plain);
    }
    return 0;
}
