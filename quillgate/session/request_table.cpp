#include "quillgate/session/request_table.h"

void CRequestTable::File(const std::string& key, int reqid)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_table[key].push_back(Filed{reqid, 0});
}

uint64_t CRequestTable::Open(const std::string& key, int reqid)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const uint64_t ticket = m_nextTicket++;
    m_table[key].push_back(Filed{reqid, ticket});
    m_forwards[ticket] = Forward{key, reqid, std::this_thread::get_id(), nullptr};
    return ticket;
}

void CRequestTable::Close(uint64_t ticket, bool accepted, bool keep)
{
    std::shared_ptr<Outcome> give;
    std::shared_ptr<Outcome> handOn;
    int reqid = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_forwards.find(ticket);
        if (it == m_forwards.end())
            return;
        const Forward forward = it->second;
        m_forwards.erase(it);
        reqid = forward.reqid;
        if (forward.held) {
            Outcome& outcome = *forward.held;
            --outcome.waiting;
            if (accepted) {
                outcome.given = true;
                give = forward.held;
            } else if (outcome.waiting == 0 && !outcome.given) {
                // Nobody else got it: it answers the next waiting id.
                handOn = forward.held;
            }
        } else {
            // Still filed, unless its own outcome came in the forward.
            auto filed = m_table.find(forward.key);
            if (filed != m_table.end()) {
                std::vector<Filed>& ids = filed->second;
                for (auto f = ids.begin(); f != ids.end(); ++f) {
                    if (f->ticket != ticket)
                        continue;
                    if (keep)
                        f->ticket = 0;
                    else
                        ids.erase(f);
                    break;
                }
                // A key lives only while it holds an id.
                if (ids.empty())
                    m_table.erase(filed);
            }
        }
    }
    if (give)
        give->answer(reqid);
    if (handOn)
        Deliver(handOn);
}

bool CRequestTable::Reply(const std::string& key, const char* fallback, Answer answer)
{
    auto outcome = std::make_shared<Outcome>();
    outcome->key = key;
    outcome->fallback = fallback ? fallback : "";
    outcome->answer = std::move(answer);
    return Deliver(outcome);
}

const std::string* CRequestTable::ChooseKey(const Outcome& outcome) const
{
    // A key holds ids while some are filed, or while a forward of this
    // thread, whose id an outcome of another thread took, waits for its own.
    const std::thread::id self = std::this_thread::get_id();
    auto holds = [&](const std::string& key) {
        if (m_table.count(key))
            return true;
        for (const auto& f : m_forwards) {
            if (f.second.thread == self && f.second.held && f.second.key == key)
                return true;
        }
        return false;
    };
    if (holds(outcome.key))
        return &outcome.key;
    if (!outcome.fallback.empty() && holds(outcome.fallback))
        return &outcome.fallback;
    return nullptr;
}

bool CRequestTable::Deliver(const std::shared_ptr<Outcome>& outcome)
{
    std::vector<int> now;
    std::vector<std::shared_ptr<Outcome>> handOn;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const std::string* chosen = ChooseKey(*outcome);
        if (!chosen)
            return false;
        const std::string key = *chosen;
        const std::thread::id self = std::this_thread::get_id();

        for (auto& f : m_forwards) {
            Forward& forward = f.second;
            if (forward.thread != self || !forward.held || forward.held == outcome || forward.key != key)
                continue;
            Outcome& other = *forward.held;
            --other.waiting;
            if (other.waiting == 0 && !other.given)
                handOn.push_back(forward.held);
            forward.held.reset();
            now.push_back(forward.reqid);
        }

        auto it = m_table.find(key);
        if (it != m_table.end()) {
            for (const Filed& filed : it->second) {
                auto forward = filed.ticket ? m_forwards.find(filed.ticket) : m_forwards.end();
                if (forward == m_forwards.end() || forward->second.thread == self) {
                    now.push_back(filed.reqid);
                } else {
                    // Its forward still runs on another thread: held until it returns.
                    forward->second.held = outcome;
                    ++outcome->waiting;
                }
            }
            m_table.erase(it);
        }
        if (!now.empty())
            outcome->given = true;
    }
    for (int id : now)
        outcome->answer(id);
    for (const std::shared_ptr<Outcome>& other : handOn)
        Deliver(other);
    return true;
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
    std::map<std::string, std::vector<int>> ids;
    for (const auto& entry : m_table) {
        std::vector<int>& out = ids[entry.first];
        for (const Filed& filed : entry.second)
            out.push_back(filed.reqid);
    }
    return ids;
}
