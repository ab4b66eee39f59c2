#include "util/module_loader.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>

#include "util/win32_shims.h"

namespace {

void Fail(ModuleLoadResult why, ModuleLoadResult* result, char* error, size_t errorSize, const char* format, ...)
    __attribute__((format(printf, 5, 6)));

void Fail(ModuleLoadResult why, ModuleLoadResult* result, char* error, size_t errorSize, const char* format, ...)
{
    if (result)
        *result = why;
    if (!error || errorSize == 0)
        return;
    va_list args;
    va_start(args, format);
    vsnprintf(error, errorSize, format, args);
    va_end(args);
}

void ClearSlots(const ModuleEntry* entries, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        *entries[i].slot = nullptr;
}

}  // namespace

int GetProgramFolder(char* out, size_t size)
{
    if (!out || size == 0)
        return -1;
    memset(out, 0, size);
    if (GetModuleFileName(nullptr, out, static_cast<int>(size)) != 0) {
        out[0] = '\0';
        return -1;
    }
    char* slash = strrchr(out, '/');
    if (!slash) {
        out[0] = '\0';
        return -1;
    }
    slash[1] = '\0';
    return 0;
}

void* OpenModuleFile(const char* path, const ModuleEntry* entries, size_t count, ModuleLoadResult* result, char* error,
                     size_t errorSize)
{
    ClearSlots(entries, count);
    void* handle = dlopen(path, RTLD_NOW);
    if (!handle) {
        const char* text = dlerror();
        Fail(kModuleNotOpened, result, error, errorSize, "%s", text ? text : "dlopen failed");
        return nullptr;
    }
    for (size_t i = 0; i < count; ++i) {
        *entries[i].slot = dlsym(handle, entries[i].name);
        if (!*entries[i].slot) {
            // Bound entirely or not at all.
            ClearSlots(entries, count);
            dlclose(handle);
            Fail(kModuleEntryMissing, result, error, errorSize, "%s: no entry point %s", path, entries[i].name);
            return nullptr;
        }
    }
    if (result)
        *result = kModuleLoaded;
    if (error && errorSize > 0)
        error[0] = '\0';
    return handle;
}

void* LoadModule(const char* directory, const char* fileName, const ModuleEntry* entries, size_t count,
                 ModuleLoadResult* result, char* error, size_t errorSize)
{
    ClearSlots(entries, count);
    char path[256] = {0};
    const int length = snprintf(path, sizeof(path), "%s%s", directory ? directory : "", fileName ? fileName : "");
    if (!fileName || !directory || directory[0] == '\0' || length < 0 || static_cast<size_t>(length) >= sizeof(path)) {
        Fail(kModuleNoPath, result, error, errorSize, "%s: no usable path beside the program",
             fileName ? fileName : "(no file)");
        return nullptr;
    }
    return OpenModuleFile(path, entries, count, result, error, errorSize);
}

void UnloadModule(void* handle)
{
    if (handle)
        dlclose(handle);
}
