// Conversion between the server records and JSON, dispatch by record type
// number, GUID text and the server-type names. All members are static and
// keep no state; readers return 0, -1 (the text is not JSON, the record is
// untouched) or 5 (the JSON library threw; the fields read before stay).
#ifndef QG_COMM_SERVERUTILS_SERVER_UTILS_H
#define QG_COMM_SERVERUTILS_SERVER_UTILS_H

#include "comm/serverutils/server_records.h"

#include <json/json.h>

class CDebugInfo;

// Per record Xxx: Xxx2Json(rec) is its JSON object, Xxx2Json(rec, buf, size)
// its compact JSON text in buf (cut to fit; buf is returned), Json2Xxx(json,
// rec) reads a text into it.
#define QG_SU_DECLARE_Full(Name, Struct)                                   \
    static Json::Value Name##2Json(const Struct& rec);                     \
    static char* Name##2Json(const Struct& rec, char* buf, unsigned size); \
    static int Json2##Name(const char* json, Struct& rec);
#define QG_SU_DECLARE_TextOnly(Name, Struct)                               \
    static char* Name##2Json(const Struct& rec, char* buf, unsigned size); \
    static int Json2##Name(const char* json, Struct& rec);
#define QG_SU_DECLARE(Name, Struct, size, type, test, guidKey, forms) QG_SU_DECLARE_##forms(Name, Struct)

class CServerUtils
{
public:
    CServerUtils() {}
    virtual ~CServerUtils() {}

    QG_SERVER_RECORDS(QG_SU_DECLARE)

    // By type number: 0, or -1 for a type without a record, a null rec, a len
    // below the record's size or, for the types with a size test, a first u32
    // that is not the size. On -1 buf is untouched.
    static int CorvaneStruct2Json(unsigned type, const char* rec, unsigned len, Json::Value& out);
    static int CorvaneStruct2Json(unsigned type, const char* rec, unsigned len, char* buf, unsigned size);
    // size: room in out on entry; the record's size on return once the type
    // and the room are found good (also when the reader then fails).
    static int Json2CorvaneStruct(unsigned type, const char* json, char* out, unsigned& size);
    // "unknow datatype" for a type without a record.
    static const char* GetConfigGuidJsonKey(unsigned type);
    // 0, -1 not JSON, 5 the JSON library threw, 11 the key's member is not a string.
    static int GetConfigGuidFromJson(unsigned type, const char* json, _GUID& guid);
    // 0 also when the member is not a string (guid unchanged); -1 for a null
    // text or key and for a text that is not JSON; 5 when the library threw.
    static int Json2Guid(const char* json, const char* key, _GUID& guid);
    // {"key":"GUID text"} into buf, cut to fit; a null key or buf is left as it is.
    static char* Guid2Json(_GUID guid, const char* key, char* buf, unsigned size);

    // Name of the first server type flag set; for none a text of the calling
    // thread, valid until its next such call.
    static const char* GetServerType(unsigned flags);
    // Flag of a server name (any case), or 0xFFFFFFFF.
    static unsigned GetServerType(const char* name);
    static const char* GetServerDetailName(int flags);

    // This process: size, flags, build time, pid, start time, local addresses.
    // Version, GUIDs, ids, ports and the Internet fields are the caller's.
    static void InitServiceProcessInfo(LPCS_SERVICEPROCESSINFO rec, DWORD svrFlags);
    // One line describing the process record into log.
    static void OutputServerDetail(CS_SERVICEPROCESSINFO_STRUCT* rec, CDebugInfo* log);
};

#undef QG_SU_DECLARE
#undef QG_SU_DECLARE_Full
#undef QG_SU_DECLARE_TextOnly

#endif
