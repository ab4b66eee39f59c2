// Shared objects opened at run time: the one home of dlopen. A module is
// opened with every symbol resolved at once (RTLD_NOW), and its entry points
// are bound all together or not at all.
#ifndef QG_UTIL_MODULE_LOADER_H
#define QG_UTIL_MODULE_LOADER_H

#include <stddef.h>

// One entry point to look up, and where its address goes.
struct ModuleEntry {
    const char* name;
    void** slot;
};

// The entry for a function pointer of any type (the dlsym idiom POSIX gives).
template <typename Fn>
ModuleEntry ModuleEntryFor(const char* name, Fn& slot)
{
    return ModuleEntry{name, reinterpret_cast<void**>(&slot)};
}

enum ModuleLoadResult {
    kModuleLoaded = 0,
    kModuleNoPath = 1,        // no folder given, or the path does not fit
    kModuleNotOpened = 2,     // dlopen refused it; the error is dlerror's text
    kModuleEntryMissing = 3,  // an entry point is not there; the error names it
};

// The running program's folder with its trailing '/': 0, or -1 with out
// empty when it cannot be told.
int GetProgramFolder(char* out, size_t size);

// Opens path as dlopen takes it and binds the entries: the handle, or null
// with every slot cleared, nothing left open, *result (may be null) saying
// why and error (may be null) holding the text.
void* OpenModuleFile(const char* path, const ModuleEntry* entries, size_t count, ModuleLoadResult* result, char* error,
                     size_t errorSize);

// The same for fileName in directory and nowhere else: an empty directory
// fails, so neither a search path nor the current directory is ever tried.
void* LoadModule(const char* directory, const char* fileName, const ModuleEntry* entries, size_t count,
                 ModuleLoadResult* result, char* error, size_t errorSize);

void UnloadModule(void* handle);

#endif
