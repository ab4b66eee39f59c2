// The engine under every record converter: one field table per record
// (made from its description in server_records.h) drives both the writer
// and the reader. Fields are reached by byte offset, never through the struct.
#ifndef QG_COMM_SERVERUTILS_RECORD_CODEC_H
#define QG_COMM_SERVERUTILS_RECORD_CODEC_H

#include "comm/serverutils/server_records.h"

#include <string>

#include <json/json.h>

namespace qg_record {

enum Kind : uint8_t {
    kSize,
    kSizeConst,
    kSizeHidden,
    kU32,
    kU32Wide,
    kU16,
    kCount,
    kI64,
    kDouble,
    kText,
    kGuid,
    kIPv4,
    kIPv4Array,
    kMacArray,
    kByteArray,
    kVersion,
    kParts,
    kTextSlots,
    kGuidList,
    kIntList,
    kIntListOrZero,
    kReserved,
    kLength,
};

struct Field {
    const char* key;
    unsigned keyLength;
    Kind kind;
    unsigned offset;
    unsigned width;  // bytes of the whole field
    unsigned count;  // elements of an array field, 0 for a scalar
};

struct Record {
    const char* name;
    const Field* fields;
    unsigned fieldCount;
    unsigned size;
    unsigned type;        // 0: no type number
    bool sizeTest;        // the type dispatch checks the first u32
    const char* guidKey;  // identifying GUID key of a typed record
};

#define QG_SU_DECLARE_RECORD(Name, ...) extern const Record k##Name;
QG_SERVER_RECORDS(QG_SU_DECLARE_RECORD)
#undef QG_SU_DECLARE_RECORD
extern const Record kDiskPartInfo;

// Every record converter, in the order of QG_SERVER_RECORDS.
extern const Record* const kAllRecords[];
extern const unsigned kAllRecordCount;

// The record with this type number, or null.
const Record* FindByType(unsigned type);

// The record as a JSON object.
Json::Value Write(const Record& record, const void* bytes);
// Its compact JSON text into buf, cut to size-1 bytes; buf is returned.
char* WriteText(const Record& record, const void* bytes, char* buf, unsigned size);
// 0 read, -1 the text is not JSON (record untouched), 5 the JSON library
// threw (null text included); fields read before a throw keep their values.
int Read(const Record& record, const char* json, void* bytes);

// 36 characters of upper-case GUID text and a NUL.
void FormatGuid(const _GUID& guid, char out[37]);
// GUID text of either case; the parts that do not match are 0.
_GUID ParseGuid(const char* text);
// Parses json as the readers do: 0, -1 when it is not JSON, 5 when the JSON
// library threw (a null text included).
int ParseText(const char* json, Json::Value& root);
// text into buf as snprintf(buf, size, "%s", text) would; buf is returned.
char* CopyOut(const std::string& text, char* buf, unsigned size);

}  // namespace qg_record

#endif
