// Request ids of the gateway waiting for a later outcome, filed under the
// command key of their operation.
//
// A request is filed before its forward runs, since the outcome may come
// while it runs, on that thread or another. Until the forward returns, the
// request is not known to be accepted, so an outcome from another thread
// that reaches it waits with it: delivered when the forward is accepted,
// else handed on to the next waiting id. An outcome given on the
// forward's own thread is that request's own and is delivered at once.
#ifndef QG_SESSION_REQUEST_TABLE_H
#define QG_SESSION_REQUEST_TABLE_H

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stddef.h>
#include <stdint.h>
#include <string>
#include <thread>
#include <vector>

class CRequestTable
{
public:
    // Sends one outcome for one request id.
    typedef std::function<void(int reqid)> Answer;

    // Files an accepted id (its forward done, or none); ids keep their
    // filing order and the same id may be filed twice.
    void File(const std::string& key, int reqid);
    // Files the id of a request whose forward is about to run on this
    // thread; the ticket closes it.
    uint64_t Open(const std::string& key, int reqid);
    // The forward returned. accepted: it may take an outcome; keep: it
    // stays filed for a later one (otherwise it is taken back).
    void Close(uint64_t ticket, bool accepted, bool keep);
    // An outcome: every id under key, or, only when key holds none, under
    // fallback, takes it and is erased. False when no id took it.
    bool Reply(const std::string& key, const char* fallback, Answer answer);

    size_t Count(const std::string& key) const;
    // Every key with its ids, for diagnostics.
    std::map<std::string, std::vector<int>> Snapshot() const;

private:
    // One outcome while ids whose forwards still run hold it.
    struct Outcome {
        std::string key;
        std::string fallback;
        Answer answer;
        int waiting = 0;     // held by that many running forwards
        bool given = false;  // some id got it
    };
    struct Filed {
        int reqid;
        uint64_t ticket;  // 0: accepted
    };
    struct Forward {
        std::string key;
        int reqid;
        std::thread::id thread;
        std::shared_ptr<Outcome> held;  // taken while the forward ran
    };

    bool Deliver(const std::shared_ptr<Outcome>& outcome);
    // Under the lock: the key an outcome takes, or null.
    const std::string* ChooseKey(const Outcome& outcome) const;

    mutable std::mutex m_mutex;  // guards the table only; never held across a call out
    std::map<std::string, std::vector<Filed>> m_table;
    std::map<uint64_t, Forward> m_forwards;
    uint64_t m_nextTicket = 1;
};

#endif
