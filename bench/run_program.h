// One program run as the benchmarks time the tools they are held to: found
// on PATH (or by its path), started directly (no shell), standard input at
// its end, its output to a file or nowhere, waited for; the CPU time it
// used comes from its resource usage.
#ifndef QG_BENCH_RUN_PROGRAM_H
#define QG_BENCH_RUN_PROGRAM_H

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace qgbench {

// The folder of this program, where the build puts the programs it runs.
inline std::string OwnDir()
{
    char path[4096] = {0};
    const ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
    std::string p(path, n > 0 ? static_cast<size_t>(n) : 0);
    return p.substr(0, p.rfind('/') + 1);
}

// True when the program exited 0. stdoutPath "" sends its output to
// /dev/null, like its standard error; cpuNs gets its user and system time.
inline bool RunProgram(std::vector<std::string> args, const std::string& stdoutPath = "", double* cpuNs = nullptr)
{
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, stdoutPath.empty() ? "/dev/null" : stdoutPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&files, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    const int spawned = posix_spawnp(&pid, argv[0], &files, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    if (spawned != 0)
        return false;
    int status = 0;
    rusage usage = {};
    if (wait4(pid, &status, 0, &usage) != pid)
        return false;
    if (cpuNs)
        *cpuNs = (static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e6 +
                  static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec)) *
                 1e3;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace qgbench

#endif
