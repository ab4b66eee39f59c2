// Request ids of the gateway waiting for a later outcome, filed under the
// command key of their operation.
#ifndef QG_SESSION_REQUEST_TABLE_H
#define QG_SESSION_REQUEST_TABLE_H

#include <map>
#include <mutex>
#include <stddef.h>
#include <string>
#include <vector>

class CRequestTable
{
public:
    // Appends the id under the key; ids keep their filing order and the
    // same id may be filed twice.
    void File(const std::string& key, int reqid);
    // Takes and erases every id under the key, or, only when the key has
    // none, under the fallback key. Empty when neither holds an id.
    std::vector<int> Take(const std::string& key, const char* fallback = nullptr);
    // Removes the last filing of reqid under the key (a request that will
    // never be answered); false when it is not filed there.
    bool Drop(const std::string& key, int reqid);
    size_t Count(const std::string& key) const;
    // Every key with its ids, for diagnostics.
    std::map<std::string, std::vector<int>> Snapshot() const;

private:
    mutable std::mutex m_mutex;  // guards the table only; never held across a call out
    std::map<std::string, std::vector<int>> m_table;
};

#endif
