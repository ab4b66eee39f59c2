// What a running process costs its host, read from /proc: its memory, its
// threads and the shared objects it maps, and over a window its wake-ups
// (voluntary context switches of every thread) and CPU time, thread by
// thread. Each thread is told apart by what it waits in (its system call
// and time-out, sampled through the window) and by the code it runs: the
// function it was started at when its stack holds it (the start routine a
// thread keeps in its control block at the top of its stack), else the
// outermost code on its stack outside the C and C++ runtimes. Reading
// another process's stack and system calls needs the right to trace it:
// the benchmark is its parent.
#ifndef QG_BENCH_PROCESS_FIGURES_H
#define QG_BENCH_PROCESS_FIGURES_H

#include <cxxabi.h>
#include <dirent.h>
#include <elf.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace qgbench {

inline std::string ReadText(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A "Name:   value kB" line of a status file, as a number; -1 when absent.
inline long StatusField(const std::string& status, const std::string& name)
{
    const size_t at = status.find("\n" + name + ":");
    if (at == std::string::npos)
        return status.compare(0, name.size() + 1, name + ":") == 0 ? std::atol(status.c_str() + name.size() + 1) : -1;
    return std::atol(status.c_str() + at + name.size() + 2);
}

// utime + stime of a stat file, in clock ticks (fields 14 and 15; the
// name in parentheses may hold blanks).
inline long long StatCpuTicks(const std::string& stat)
{
    const size_t close = stat.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream in(stat.substr(close + 2));
    std::string field;
    long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && in >> field; ++i) {
        if (i == 14)
            utime = std::atoll(field.c_str());
        if (i == 15)
            stime = std::atoll(field.c_str());
    }
    return utime + stime;
}

inline std::vector<int> ThreadIds(int pid)
{
    std::vector<int> tids;
    if (DIR* dir = opendir(("/proc/" + std::to_string(pid) + "/task").c_str())) {
        while (dirent* e = readdir(dir))
            if (e->d_name[0] != '.')
                tids.push_back(std::atoi(e->d_name));
        closedir(dir);
    }
    std::sort(tids.begin(), tids.end());
    return tids;
}

struct Mapping {
    uint64_t start = 0, end = 0, offset = 0;
    bool executable = false;
    std::string path;
};

inline std::vector<Mapping> Mappings(int pid)
{
    std::vector<Mapping> maps;
    std::ifstream in("/proc/" + std::to_string(pid) + "/maps");
    std::string line;
    while (std::getline(in, line)) {
        Mapping m;
        char perms[8] = {0};
        unsigned long long start = 0, end = 0, offset = 0;
        int pathAt = 0;
        if (sscanf(line.c_str(), "%llx-%llx %7s %llx %*s %*s %n", &start, &end, perms, &offset, &pathAt) < 4)
            continue;
        m.start = start;
        m.end = end;
        m.offset = offset;
        m.executable = perms[2] == 'x';
        if (pathAt > 0 && static_cast<size_t>(pathAt) <= line.size())
            m.path = line.substr(static_cast<size_t>(pathAt));
        maps.push_back(m);
    }
    return maps;
}

inline std::string BaseName(const std::string& path)
{
    return path.substr(path.rfind('/') + 1);
}

// The shared objects a process maps: file paths whose name holds ".so".
inline std::set<std::string> SharedObjects(int pid)
{
    std::set<std::string> objects;
    for (const Mapping& m : Mappings(pid)) {
        const std::string name = BaseName(m.path);
        const size_t so = name.find(".so");
        if (!m.path.empty() && m.path[0] == '/' && so != std::string::npos &&
            (so + 3 == name.size() || name[so + 3] == '.'))
            objects.insert(m.path);
    }
    return objects;
}

struct MemoryFigures {
    long vmRssKb = -1, rssAnonKb = -1, rssFileKb = -1;
    long threads = -1;
    size_t sharedObjects = 0;
};

inline MemoryFigures MemoryOf(int pid)
{
    const std::string status = ReadText("/proc/" + std::to_string(pid) + "/status");
    MemoryFigures f;
    f.vmRssKb = StatusField(status, "VmRSS");
    f.rssAnonKb = StatusField(status, "RssAnon");
    f.rssFileKb = StatusField(status, "RssFile");
    f.threads = StatusField(status, "Threads");
    f.sharedObjects = SharedObjects(pid).size();
    return f;
}

// ---- the code a thread runs ----

// Of items in ascending order of start, the last that starts at or below address.
template <typename T>
const T* LastFrom(const std::vector<T>& items, uint64_t address)
{
    auto it =
        std::upper_bound(items.begin(), items.end(), address, [](uint64_t a, const T& item) { return a < item.start; });
    return it == items.begin() ? nullptr : &*(it - 1);
}

// Function symbols of one ELF file (its full table, else its dynamic one),
// by address in the file.
class ElfSymbols
{
public:
    struct Symbol {
        uint64_t start = 0, size = 0;
        std::string name;
    };

    explicit ElfSymbols(const std::string& path)
    {
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return;
        Load(fd);
        close(fd);
        std::sort(symbols_.begin(), symbols_.end(), [](const Symbol& a, const Symbol& b) { return a.start < b.start; });
    }

    // The lowest address a loadable segment asks for: a mapping at file
    // offset 0 is placed there plus the load bias.
    uint64_t lowestLoad() const { return lowestLoad_; }

    const Symbol* Containing(uint64_t address) const
    {
        const Symbol* s = LastFrom(symbols_, address);
        return s && address < s->start + std::max<uint64_t>(s->size, 1) ? s : nullptr;
    }

private:
    template <typename T>
    static bool ReadAt(int fd, uint64_t offset, T* out, size_t count = 1)
    {
        const size_t n = sizeof(T) * count;
        return pread(fd, out, n, static_cast<off_t>(offset)) == static_cast<ssize_t>(n);
    }

    void Load(int fd)
    {
        Elf64_Ehdr eh;
        if (!ReadAt(fd, 0, &eh) || std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_ident[EI_CLASS] != ELFCLASS64)
            return;
        std::vector<Elf64_Phdr> ph(eh.e_phnum);
        if (eh.e_phnum && ReadAt(fd, eh.e_phoff, ph.data(), ph.size())) {
            bool first = true;
            for (const Elf64_Phdr& p : ph)
                if (p.p_type == PT_LOAD && (first || p.p_vaddr < lowestLoad_)) {
                    lowestLoad_ = p.p_vaddr & ~static_cast<uint64_t>(0xfff);
                    first = false;
                }
        }
        std::vector<Elf64_Shdr> sh(eh.e_shnum);
        if (!eh.e_shnum || !ReadAt(fd, eh.e_shoff, sh.data(), sh.size()))
            return;
        for (const uint32_t type : {SHT_SYMTAB, SHT_DYNSYM}) {
            for (const Elf64_Shdr& s : sh) {
                if (s.sh_type != type || s.sh_link >= sh.size() || s.sh_entsize != sizeof(Elf64_Sym))
                    continue;
                const Elf64_Shdr& strings = sh[s.sh_link];
                std::vector<Elf64_Sym> syms(s.sh_size / sizeof(Elf64_Sym));
                std::vector<char> names(strings.sh_size + 1, '\0');
                if (syms.empty() || !ReadAt(fd, s.sh_offset, syms.data(), syms.size()) ||
                    !ReadAt(fd, strings.sh_offset, names.data(), strings.sh_size))
                    continue;
                for (const Elf64_Sym& sym : syms) {
                    if (ELF64_ST_TYPE(sym.st_info) != STT_FUNC || sym.st_value == 0 || sym.st_name >= strings.sh_size)
                        continue;
                    Symbol out;
                    out.start = sym.st_value;
                    out.size = sym.st_size;
                    out.name = Demangle(&names[sym.st_name]);
                    symbols_.push_back(out);
                }
            }
            if (!symbols_.empty())
                return;
        }
    }

    static std::string Demangle(const char* name)
    {
        int status = 0;
        char* plain = abi::__cxa_demangle(name, nullptr, nullptr, &status);
        std::string out = status == 0 && plain ? plain : name;
        std::free(plain);
        return out;
    }

    uint64_t lowestLoad_ = 0;
    std::vector<Symbol> symbols_;
};

// A process's code by address: its mappings and the symbols of each file.
class CodeMap
{
public:
    explicit CodeMap(int pid) : maps_(Mappings(pid))
    {
        for (const Mapping& m : maps_)
            if (m.offset == 0 && !m.path.empty() && m.path[0] == '/' && !first_.count(m.path))
                first_[m.path] = m.start;
    }

    // Mappings come in address order.
    const Mapping* At(uint64_t address) const
    {
        const Mapping* m = LastFrom(maps_, address);
        return m && address < m->end ? m : nullptr;
    }

    // The C and C++ runtimes, which every thread passes through.
    static bool Runtime(const std::string& path)
    {
        const std::string name = BaseName(path);
        for (const char* lib : {"libc.so", "libc-", "ld-linux", "libstdc++", "libgcc_s", "libpthread", "libm.so"})
            if (name.compare(0, std::strlen(lib), lib) == 0)
                return true;
        return path.empty() || path[0] != '/';
    }

    // "object: function" of a code address; the function when known.
    std::string Describe(uint64_t address, bool* startOfFunction = nullptr)
    {
        const Mapping* m = At(address);
        if (!m)
            return "";
        std::string text = BaseName(m->path);
        if (const ElfSymbols::Symbol* s = SymbolAt(*m, address)) {
            text += ": " + s->name;
            if (startOfFunction)
                *startOfFunction = s->start == FileAddress(*m, address);
        } else if (startOfFunction) {
            *startOfFunction = false;
        }
        return text;
    }

    const std::vector<Mapping>& maps() const { return maps_; }

private:
    ElfSymbols& Symbols(const std::string& path)
    {
        std::unique_ptr<ElfSymbols>& s = symbols_[path];
        if (!s)
            s.reset(new ElfSymbols(path));
        return *s;
    }

    uint64_t FileAddress(const Mapping& m, uint64_t address)
    {
        const auto base = first_.find(m.path);
        if (base == first_.end())
            return 0;
        return address - base->second + Symbols(m.path).lowestLoad();
    }

    const ElfSymbols::Symbol* SymbolAt(const Mapping& m, uint64_t address)
    {
        if (m.path.empty() || m.path[0] != '/')
            return nullptr;
        return Symbols(m.path).Containing(FileAddress(m, address));
    }

    std::vector<Mapping> maps_;
    std::map<std::string, uint64_t> first_;
    std::map<std::string, std::unique_ptr<ElfSymbols>> symbols_;
};

// A thread's system call now: its number, arguments, stack pointer, or
// running (number -2) or not in one (-1).
struct SyscallNow {
    long number = -2;
    uint64_t args[6] = {0, 0, 0, 0, 0, 0};
    uint64_t sp = 0;
};

inline SyscallNow ReadSyscall(int pid, int tid)
{
    SyscallNow now;
    const std::string text = ReadText("/proc/" + std::to_string(pid) + "/task/" + std::to_string(tid) + "/syscall");
    if (text.empty() || text.compare(0, 7, "running") == 0)
        return now;
    std::istringstream in(text);
    std::vector<std::string> fields;
    std::string f;
    while (in >> f)
        fields.push_back(f);
    if (fields.empty())
        return now;
    now.number = std::atol(fields[0].c_str());
    if (fields.size() >= 3)
        now.sp = std::strtoull(fields[fields.size() - 2].c_str(), nullptr, 16);
    for (size_t i = 0; i < 6 && i + 1 < fields.size() - 2; ++i)
        now.args[i] = std::strtoull(fields[i + 1].c_str(), nullptr, 16);
    return now;
}

// Another process's memory, read through /proc/<pid>/mem.
class ProcessMemory
{
public:
    explicit ProcessMemory(int pid) : fd_(open(("/proc/" + std::to_string(pid) + "/mem").c_str(), O_RDONLY | O_CLOEXEC))
    {}
    ~ProcessMemory()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    ProcessMemory(const ProcessMemory&) = delete;
    ProcessMemory& operator=(const ProcessMemory&) = delete;

    bool Read(uint64_t address, void* out, size_t n) const
    {
        return fd_ >= 0 && address != 0 && pread(fd_, out, n, static_cast<off_t>(address)) == static_cast<ssize_t>(n);
    }

private:
    int fd_;
};

inline std::string Milliseconds(double ms)
{
    char text[32];
    std::snprintf(text, sizeof text, ms < 10 ? "%.1f ms" : "%.0f ms", ms);
    return text;
}

// What a thread blocked in a system call waits for, in words: the call and
// its time-out ("clock_nanosleep 10 ms", "epoll_wait", "poll 50 ms").
inline std::string DescribeWait(int pid, const SyscallNow& call, const ProcessMemory& memory)
{
    if (call.number == -2)
        return "running";
    if (call.number == -1)
        return "blocked";
#if defined(__x86_64__)
    auto timespecMs = [&](uint64_t address, double* ms) {
        timespec ts = {0, 0};
        if (!memory.Read(address, &ts, sizeof ts))
            return false;
        *ms = static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
        return true;
    };
    auto fdName = [&](uint64_t fd) {
        char target[256] = {0};
        const std::string link = "/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd);
        const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
        return n > 0 ? BaseName(std::string(target, static_cast<size_t>(n))) : std::string("fd ") + std::to_string(fd);
    };
    double ms = 0;
    switch (call.number) {
    case 0:
        return "read " + fdName(call.args[0]);
    case 7: {
        const int timeout = static_cast<int>(call.args[2]);
        std::string text = "poll";
        struct {
            int fd;
            short events, revents;
        } pfd;
        if (call.args[1] == 1 && memory.Read(call.args[0], &pfd, sizeof pfd))
            text += " " + fdName(static_cast<uint64_t>(pfd.fd));
        return timeout >= 0 ? text + " " + Milliseconds(timeout) : text;
    }
    case 35:
        return timespecMs(call.args[0], &ms) ? "nanosleep " + Milliseconds(ms) : "nanosleep";
    case 230:
        // An absolute sleep (TIMER_ABSTIME) has no period to show.
        if (!(call.args[1] & 1) && timespecMs(call.args[2], &ms))
            return "clock_nanosleep " + Milliseconds(ms);
        return "clock_nanosleep";
    case 202: {
        const uint64_t op = call.args[1] & 127;
        if (op == 0 && call.args[3] && timespecMs(call.args[3], &ms))
            return "futex wait " + Milliseconds(ms);
        return call.args[3] ? "futex wait, timed" : "futex wait";
    }
    case 232:
    case 281: {
        const int timeout = static_cast<int>(call.args[3]);
        return timeout >= 0 ? "epoll_wait " + Milliseconds(timeout) : "epoll_wait";
    }
    case 271:
        return call.args[2] && timespecMs(call.args[2], &ms) ? "ppoll " + Milliseconds(ms) : "ppoll";
    case 23:
    case 270:
        return "select";
    case 45:
    case 47:
        return "recv " + fdName(call.args[0]);
    case 61:
        return "wait4";
    default:
        break;
    }
#else
    (void)pid;
    (void)memory;
#endif
    return "syscall " + std::to_string(call.number);
}

// The code a thread runs, from its stack: a word above its stack pointer
// that is the first instruction of a function outside the runtimes (the
// start routine in the thread's control block, at the top), else the
// outermost return address outside them.
inline std::string ThreadCode(int pid, int tid, CodeMap& code, const ProcessMemory& memory)
{
    if (tid == pid)
        return "main (the entry thread)";
    const SyscallNow call = ReadSyscall(pid, tid);
    if (call.sp == 0)
        return "";
    const Mapping* stack = code.At(call.sp);
    if (!stack)
        return "";
    const uint64_t end = std::min(stack->end, call.sp + (4u << 20));
    std::vector<uint64_t> words((end - call.sp) / sizeof(uint64_t));
    if (words.empty() || !memory.Read(call.sp, words.data(), words.size() * sizeof(uint64_t)))
        return "";
    std::string start, outermost;
    for (const uint64_t w : words) {
        const Mapping* m = code.At(w);
        if (!m || !m->executable || CodeMap::Runtime(m->path))
            continue;
        bool isStart = false;
        const std::string text = code.Describe(w, &isStart);
        if (isStart)
            start = text;
        outermost = text;
    }
    return start.empty() ? outermost : start;
}

// ---- a window of wake-ups and CPU time ----

struct ThreadFigures {
    int tid = 0;
    std::string name;   // comm
    std::string waits;  // what it waited in most often
    std::string code;
    double wakeupsPerSecond = 0;
    double cpuPercent = 0;
};

struct WindowFigures {
    double seconds = 0;
    double wakeupsPerSecond = 0;
    double cpuPercent = 0;               // of one core
    std::vector<ThreadFigures> threads;  // busiest first
};

// Watches pid for the given time: wake-ups and CPU time of every thread,
// what each waits in sampled every 100 ms, and each thread's code at the end.
inline WindowFigures Watch(int pid, double seconds)
{
    const std::string dir = "/proc/" + std::to_string(pid);
    const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
    auto switches = [&](int tid) {
        return StatusField(ReadText(dir + "/task/" + std::to_string(tid) + "/status"), "voluntary_ctxt_switches");
    };
    auto cpu = [&](int tid) { return StatCpuTicks(ReadText(dir + "/task/" + std::to_string(tid) + "/stat")); };

    std::map<int, long> switchesBefore;
    std::map<int, long long> cpuBefore;
    for (const int tid : ThreadIds(pid)) {
        switchesBefore[tid] = switches(tid);
        cpuBefore[tid] = cpu(tid);
    }
    const long long processBefore = StatCpuTicks(ReadText(dir + "/stat"));
    const auto from = std::chrono::steady_clock::now();

    ProcessMemory memory(pid);
    std::map<int, std::map<std::string, int>> waits;
    const int samples = std::max(1, static_cast<int>(seconds * 10));
    for (int i = 0; i < samples; ++i) {
        std::this_thread::sleep_until(from + std::chrono::milliseconds(100 * (i + 1)));
        for (const int tid : ThreadIds(pid))
            ++waits[tid][DescribeWait(pid, ReadSyscall(pid, tid), memory)];
    }

    WindowFigures w;
    w.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
    const long long processAfter = StatCpuTicks(ReadText(dir + "/stat"));
    w.cpuPercent = static_cast<double>(processAfter - processBefore) / tick / w.seconds * 100;
    CodeMap code(pid);
    for (const int tid : ThreadIds(pid)) {
        ThreadFigures t;
        t.tid = tid;
        t.name = ReadText(dir + "/task/" + std::to_string(tid) + "/comm");
        while (!t.name.empty() && t.name.back() == '\n')
            t.name.pop_back();
        const long after = switches(tid);
        const long before = switchesBefore.count(tid) ? switchesBefore[tid] : 0;
        t.wakeupsPerSecond = after >= before ? static_cast<double>(after - before) / w.seconds : 0;
        const long long c = cpu(tid) - (cpuBefore.count(tid) ? cpuBefore[tid] : 0);
        t.cpuPercent = static_cast<double>(c) / tick / w.seconds * 100;
        int most = 0;
        for (const auto& kv : waits[tid])
            if (kv.second > most) {
                most = kv.second;
                t.waits = kv.first;
            }
        t.code = ThreadCode(pid, tid, code, memory);
        w.wakeupsPerSecond += t.wakeupsPerSecond;
        w.threads.push_back(t);
    }
    std::sort(w.threads.begin(), w.threads.end(), [](const ThreadFigures& a, const ThreadFigures& b) {
        return a.wakeupsPerSecond != b.wakeupsPerSecond ? a.wakeupsPerSecond > b.wakeupsPerSecond
                                                        : a.cpuPercent > b.cpuPercent;
    });
    return w;
}

}  // namespace qgbench

#endif
