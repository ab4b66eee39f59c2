// Every record converter of CServerUtils by record name, on raw bytes.
#ifndef QG_TESTS_COMM_SERVERUTILS_RECORD_REGISTRY_H
#define QG_TESTS_COMM_SERVERUTILS_RECORD_REGISTRY_H

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "comm/serverutils/server_utils.h"

namespace record_test {

struct RecordEntry {
    const char* name;
    unsigned size;
    unsigned type;
    // The text writer's output, through a buffer that always has room.
    std::string (*write)(const uint8_t* bytes);
    int (*read)(const char* json, uint8_t* bytes);
};

inline std::string WriteThrough(char* (*writer)(const uint8_t*, char*, unsigned), const uint8_t* bytes)
{
    static std::vector<char> buf(1 << 20);
    writer(bytes, buf.data(), static_cast<unsigned>(buf.size()));
    return std::string(buf.data());
}

#define QG_TEST_RECORD(Name, Struct, size, type, test, guidKey, forms)                             \
    {#Name, size, type,                                                                            \
     [](const uint8_t* bytes) {                                                                    \
         return WriteThrough(                                                                      \
             [](const uint8_t* b, char* buf, unsigned room) {                                      \
                 return CServerUtils::Name##2Json(*reinterpret_cast<const Struct*>(b), buf, room); \
             },                                                                                    \
             bytes);                                                                               \
     },                                                                                            \
     [](const char* json, uint8_t* bytes) {                                                        \
         return CServerUtils::Json2##Name(json, *reinterpret_cast<Struct*>(bytes));                \
     }},

inline const std::vector<RecordEntry>& Records()
{
    static const std::vector<RecordEntry> records = {QG_SERVER_RECORDS(QG_TEST_RECORD)};
    return records;
}

#undef QG_TEST_RECORD

inline const RecordEntry* FindRecord(const std::string& name)
{
    for (const RecordEntry& r : Records()) {
        if (name == r.name)
            return &r;
    }
    return nullptr;
}

// Bytes from hex pairs, spaces allowed: Hex("01 02 ff").
inline std::string Hex(const char* text)
{
    std::string out;
    for (const char* p = text; p[0] != '\0';) {
        if (p[0] == ' ') {
            ++p;
            continue;
        }
        char pair[3] = {p[0], p[1], '\0'};
        out.push_back(static_cast<char>(strtol(pair, nullptr, 16)));
        p += 2;
    }
    return out;
}

}  // namespace record_test

#endif
