#include "quillgate/session/request_table.h"

void CRequestTable::File(const std::string& key, int reqid)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_table[key].push_back(reqid);
}

std::vector<int> CRequestTable::Take(const std::string& key, const char* fallback)
{
    std::vector<int> ids;
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_table.find(key);
    if (it == m_table.end() && fallback)
        it = m_table.find(fallback);
    if (it != m_table.end()) {
        ids.swap(it->second);
        m_table.erase(it);
    }
    return ids;
}

bool CRequestTable::Drop(const std::string& key, int reqid)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_table.find(key);
    if (it == m_table.end())
        return false;
    std::vector<int>& ids = it->second;
    for (auto id = ids.rbegin(); id != ids.rend(); ++id) {
        if (*id != reqid)
            continue;
        ids.erase(std::next(id).base());
        // A key lives only while it holds an id.
        if (ids.empty())
            m_table.erase(it);
        return true;
    }
    return false;
}

size_t CRequestTable::Count(const std::string& key) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_table.find(key);
    return it == m_table.end() ? 0 : it->second.size();
}

std::map<std::string, std::vector<int>> CRequestTable::Snapshot() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_table;
}
