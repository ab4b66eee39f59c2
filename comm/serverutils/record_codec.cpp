#include "comm/serverutils/record_codec.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <type_traits>

#include "util/cv_ioutils.h"
#include "util/json_writer.h"

namespace qg_record {

namespace {

template <typename T>
T Load(const uint8_t* p)
{
    T value;
    memcpy(&value, p, sizeof value);
    return value;
}

template <typename T>
void Store(uint8_t* p, T value)
{
    memcpy(p, &value, sizeof value);
}

// Bytes of an n-byte text field up to its first NUL and never more than
// n-1: what a reader would keep, whether the field holds a NUL or not.
size_t TextLength(const uint8_t* p, size_t n)
{
    const void* nul = memchr(p, 0, n - 1);
    return nul ? static_cast<const uint8_t*>(nul) - p : n - 1;
}

Json::Value TextValue(const uint8_t* p, size_t n)
{
    const char* text = reinterpret_cast<const char*>(p);
    return Json::Value(text, text + TextLength(p, n));
}

Json::Value GuidValue(const uint8_t* p)
{
    char text[37];
    FormatGuid(Load<_GUID>(p), text);
    return Json::Value(text, text + 36);
}

Json::Value IPv4Value(uint32_t ip)
{
    char text[20] = {0};
    CV_IOUtils::IPNum2String(ip, text, sizeof text);
    return Json::Value(text);
}

Json::Value MacValue(uint64_t mac)
{
    char text[20] = {0};
    CV_IOUtils::MacNum2String(static_cast<long>(mac), text, sizeof text);
    return Json::Value(text);
}

bool IsZeroGuid(const uint8_t* p)
{
    static const uint8_t kZero[sizeof(_GUID)] = {0};
    return memcmp(p, kZero, sizeof kZero) == 0;
}

void WriteFields(const Record& record, const uint8_t* base, Json::Value& out)
{
    int32_t count = 0;  // the last Count field, read by the Parts after it
    for (unsigned i = 0; i < record.fieldCount; ++i) {
        const Field& f = record.fields[i];
        const uint8_t* p = base + f.offset;
        const Json::StaticString key(f.key);
        switch (f.kind) {
        case kSize:
        case kU32:
            out[key] = Load<int32_t>(p);
            break;
        case kSizeConst:
            out[key] = static_cast<int>(record.size);
            break;
        case kCount:
            count = Load<int32_t>(p);
            out[key] = count;
            break;
        case kU32Wide:
            out[key] = static_cast<Json::Int64>(Load<uint32_t>(p));
            break;
        case kU16:
            out[key] = static_cast<int>(Load<uint16_t>(p));
            break;
        case kI64:
            out[key] = static_cast<Json::Int64>(Load<int64_t>(p));
            break;
        case kDouble:
            out[key] = Load<double>(p);
            break;
        case kText:
            out[key] = TextValue(p, f.width);
            break;
        case kGuid:
            out[key] = GuidValue(p);
            break;
        case kIPv4:
            out[key] = IPv4Value(Load<uint32_t>(p));
            break;
        case kIPv4Array: {
            Json::Value& list = out[key] = Json::Value(Json::arrayValue);
            for (unsigned j = 0; j < f.count; ++j)
                list[j] = IPv4Value(Load<uint32_t>(p + 4 * j));
            break;
        }
        case kMacArray: {
            Json::Value& list = out[key] = Json::Value(Json::arrayValue);
            for (unsigned j = 0; j < f.count; ++j)
                list[j] = MacValue(Load<uint64_t>(p + 8 * j));
            break;
        }
        case kByteArray: {
            Json::Value& list = out[key] = Json::Value(Json::arrayValue);
            for (unsigned j = 0; j < f.count; ++j)
                list[j] = static_cast<int>(p[j]);
            break;
        }
        case kVersion: {
            Json::Value& group = out[key];
            group[Json::StaticString("Main")] = static_cast<int>(p[0]);
            group[Json::StaticString("Sub")] = static_cast<int>(p[1]);
            group[Json::StaticString("Develop")] = static_cast<int>(Load<uint16_t>(p + 2));
            break;
        }
        case kParts: {
            // The count is written as held; never more entries than the field has.
            const unsigned entries = count < 1 ? 0 : std::min(static_cast<unsigned>(count), f.count);
            if (entries == 0)
                break;
            Json::Value& list = out[key] = Json::Value(Json::arrayValue);
            for (unsigned j = 0; j < entries; ++j)
                WriteFields(kDiskPartInfo, p + j * kDiskPartInfo.size, list[j]);
            break;
        }
        case kTextSlots: {
            const unsigned slot = f.width / f.count;
            Json::Value list(Json::arrayValue);
            for (unsigned j = 0; j < f.count; ++j) {
                if (p[j * slot] != 0)
                    list.append(TextValue(p + j * slot, slot));
            }
            if (!list.empty())
                out[key].swap(list);
            break;
        }
        case kGuidList: {
            Json::Value list(Json::arrayValue);
            for (unsigned j = 0; j < f.count && !IsZeroGuid(p + j * sizeof(_GUID)); ++j)
                list[j] = GuidValue(p + j * sizeof(_GUID));
            if (!list.empty())
                out[key].swap(list);
            break;
        }
        case kIntList:
        case kIntListOrZero: {
            Json::Value list(Json::arrayValue);
            if (f.kind == kIntListOrZero)
                list[0] = 0;
            for (unsigned j = 0; j < f.count && Load<int32_t>(p + 4 * j) != 0; ++j)
                list[j] = Load<int32_t>(p + 4 * j);
            if (!list.empty())
                out[key].swap(list);
            break;
        }
        case kSizeHidden:
        case kReserved:
        case kLength:
            break;
        }
    }
}

// The u32, u16 and element rule: a number that is a signed 32-bit int, else
// a decimal text through strtol; the caller keeps the low bits it needs.
bool ReadInt(const Json::Value& value, uint32_t& out)
{
    if (value.isInt()) {
        out = static_cast<uint32_t>(value.asInt());
        return true;
    }
    if (value.isString()) {
        out = static_cast<uint32_t>(strtol(value.asCString(), nullptr, 10));
        return true;
    }
    return false;
}

// The text rule: a string, or an object as its compact JSON text, copied
// as snprintf(field, n, "%s", text) would; the last byte is then set to 0.
void ReadText(const Json::Value& value, uint8_t* field, size_t n)
{
    std::string object;
    const char* text = nullptr;
    size_t length = 0;
    if (value.isString()) {
        const char* end = nullptr;
        value.getString(&text, &end);
        length = end - text;
    } else if (value.isObject()) {
        object = cv::toStyledString(value);
        text = object.data();
        length = object.size();
    } else {
        return;
    }
    size_t take = std::min(length, n - 1);
    if (const void* nul = memchr(text, 0, take))
        take = static_cast<const char*>(nul) - text;
    memcpy(field, text, take);
    field[take] = 0;
    field[n - 1] = 0;
}

void ReadFields(const Record& record, const Json::Value& in, uint8_t* base);

// Entries below the count (stored as at most the field's bound) each get
// their size, then their members from element j of the list. The size is
// stored before the element is looked up: a list that is neither an array
// nor null throws there, and what was stored before the throw stays.
void ReadParts(const Field& f, const Json::Value* list, uint8_t* countField, uint8_t* p)
{
    int32_t count = Load<int32_t>(countField);
    if (count > static_cast<int32_t>(f.count)) {
        count = static_cast<int32_t>(f.count);
        Store(countField, count);
    }
    for (int32_t j = 0; j < count; ++j) {
        uint8_t* part = p + j * kDiskPartInfo.size;
        Store<uint32_t>(part, kDiskPartInfo.size);
        const Json::Value& entry = list ? (*list)[j] : Json::Value::nullSingleton();
        ReadFields(kDiskPartInfo, entry, part);
    }
}

// Fields are stored as they are read: when the JSON library throws (a
// lookup in a value that is neither an object nor null, an index into one
// that is neither an array nor null) the ones before stay.
void ReadFields(const Record& record, const Json::Value& in, uint8_t* base)
{
    uint8_t* countField = nullptr;
    for (unsigned i = 0; i < record.fieldCount; ++i) {
        const Field& f = record.fields[i];
        uint8_t* p = base + f.offset;
        if (f.kind == kSize || f.kind == kSizeConst || f.kind == kSizeHidden) {
            Store<uint32_t>(p, record.size);
            continue;
        }
        if (f.kind == kReserved || f.kind == kLength)
            continue;
        const Json::Value* v = in.find(f.key, f.key + f.keyLength);
        if (f.kind == kParts) {
            ReadParts(f, v, countField, p);
            continue;
        }
        if (f.kind == kCount)
            countField = p;
        if (v == nullptr)
            continue;
        uint32_t n = 0;
        switch (f.kind) {
        case kU32:
        case kCount:
            if (ReadInt(*v, n))
                Store(p, n);
            break;
        case kU32Wide:
            // Whole numbers up to 4294967295 too, so that the writer's text reads back.
            if (v->isUInt())
                Store<uint32_t>(p, v->asUInt());
            else if (ReadInt(*v, n))
                Store(p, n);
            break;
        case kU16:
            if (ReadInt(*v, n))
                Store(p, static_cast<uint16_t>(n));
            break;
        case kI64:
            if (v->isInt64())
                Store<int64_t>(p, v->asInt64());
            else if (v->isString())
                Store<int64_t>(p, strtoll(v->asCString(), nullptr, 10));
            break;
        case kDouble:
            if (v->isDouble())
                Store(p, v->asDouble());
            else if (v->isString())
                Store(p, strtod(v->asCString(), nullptr));
            break;
        case kText:
            ReadText(*v, p, f.width);
            break;
        case kGuid:
            if (v->isString())
                Store(p, ParseGuid(v->asCString()));
            break;
        case kIPv4:
            if (v->isString())
                Store<uint32_t>(p, CV_IOUtils::IPString2Num(v->asCString()));
            break;
        case kIPv4Array:
        case kMacArray:
            // No array test: a string or an object here throws.
            for (unsigned j = 0; j < f.count; ++j) {
                const Json::Value& e = (*v)[j];
                if (!e.isString())
                    continue;
                if (f.kind == kIPv4Array)
                    Store<uint32_t>(p + 4 * j, CV_IOUtils::IPString2Num(e.asCString()));
                else
                    Store(p + 8 * j, static_cast<uint64_t>(CV_IOUtils::MacString2Num(e.asCString())));
            }
            break;
        case kByteArray:
            if (!v->isArray())
                break;
            memset(p, 0, f.count);
            for (unsigned j = 0; j < f.count && j < v->size(); ++j) {
                if (ReadInt((*v)[j], n))
                    p[j] = static_cast<uint8_t>(n);
            }
            break;
        case kVersion: {
            // Numbers only; a "ver" that is not an object throws.
            const Json::Value& main = (*v)["Main"];
            if (main.isInt())
                p[0] = static_cast<uint8_t>(main.asInt());
            const Json::Value& sub = (*v)["Sub"];
            if (sub.isInt())
                p[1] = static_cast<uint8_t>(sub.asInt());
            const Json::Value& develop = (*v)["Develop"];
            if (develop.isInt())
                Store(p + 2, static_cast<uint16_t>(develop.asInt()));
            break;
        }
        case kTextSlots:
            // Slots past the list keep their texts.
            if (v->isArray()) {
                const unsigned slot = f.width / f.count;
                for (unsigned j = 0; j < f.count; ++j)
                    ReadText((*v)[j], p + j * slot, slot);
            }
            break;
        case kGuidList:
            if (v->isArray()) {
                for (unsigned j = 0; j < f.count; ++j) {
                    const Json::Value& e = (*v)[j];
                    if (e.isString())
                        Store(p + j * sizeof(_GUID), ParseGuid(e.asCString()));
                }
            }
            break;
        case kIntList:
        case kIntListOrZero:
            if (!v->isArray())
                break;
            memset(p, 0, f.width);
            for (unsigned j = 0; j < f.count && j < v->size(); ++j) {
                if (ReadInt((*v)[j], n))
                    Store(p + 4 * j, n);
            }
            break;
        default:
            break;
        }
    }
}

// A Length field holds the length of the Text right after it.
void StoreLengths(const Record& record, uint8_t* base)
{
    for (unsigned i = 0; i + 1 < record.fieldCount; ++i) {
        const Field& f = record.fields[i];
        if (f.kind != kLength)
            continue;
        const Field& text = record.fields[i + 1];
        Store(base + f.offset, static_cast<uint32_t>(TextLength(base + text.offset, text.width)));
    }
}

unsigned HexValue(const char* text, int digits)
{
    unsigned value = 0;
    for (int i = 0; i < digits; ++i)
        value = value << 4 | static_cast<unsigned>(HexDigitValue(text[i]));
    return value;
}

// The usual case: 36 characters of GUID text in place. Anything else goes
// through sscanf, whose reading of such a text is the same.
bool ParseCanonicalGuid(const char* text, _GUID& guid)
{
    for (int i = 0; i < 36; ++i) {
        const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
        if (hyphen ? text[i] != '-' : HexDigitValue(text[i]) < 0)
            return false;
    }
    guid.Data1 = HexValue(text, 8);
    guid.Data2 = static_cast<uint16_t>(HexValue(text + 9, 4));
    guid.Data3 = static_cast<uint16_t>(HexValue(text + 14, 4));
    guid.Data4[0] = static_cast<uint8_t>(HexValue(text + 19, 2));
    guid.Data4[1] = static_cast<uint8_t>(HexValue(text + 21, 2));
    for (int i = 0; i < 6; ++i)
        guid.Data4[2 + i] = static_cast<uint8_t>(HexValue(text + 24 + 2 * i, 2));
    return true;
}

}  // namespace

void FormatGuid(const _GUID& guid, char out[37])
{
    static const char kHex[] = "0123456789ABCDEF";
    char* o = out;
    auto put = [&o](unsigned value, int digits) {
        for (int i = digits - 1; i >= 0; --i, value >>= 4)
            o[i] = kHex[value & 0x0F];
        o += digits;
    };
    put(guid.Data1, 8);
    *o++ = '-';
    put(guid.Data2, 4);
    *o++ = '-';
    put(guid.Data3, 4);
    *o++ = '-';
    put(guid.Data4[0], 2);
    put(guid.Data4[1], 2);
    *o++ = '-';
    for (int i = 2; i < 8; ++i)
        put(guid.Data4[i], 2);
    *o = '\0';
}

_GUID ParseGuid(const char* text)
{
    _GUID guid;
    memset(&guid, 0, sizeof guid);
    if (ParseCanonicalGuid(text, guid))
        return guid;
    unsigned data1 = 0;
    unsigned short data2 = 0;
    unsigned short data3 = 0;
    unsigned b[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    sscanf(text, "%8X-%4hX-%4hX-%2X%2X-%2X%2X%2X%2X%2X%2X", &data1, &data2, &data3, &b[0], &b[1], &b[2], &b[3], &b[4],
           &b[5], &b[6], &b[7]);
    guid.Data1 = data1;
    guid.Data2 = data2;
    guid.Data3 = data3;
    for (int i = 0; i < 8; ++i)
        guid.Data4[i] = static_cast<uint8_t>(b[i]);
    return guid;
}

int ParseText(const char* json, Json::Value& root)
{
    if (json == nullptr)
        return 5;
    try {
        Json::Reader reader;
        return reader.parse(json, json + strlen(json), root, true) ? 0 : -1;
    } catch (const std::exception&) {
        return 5;
    }
}

char* CopyOut(const std::string& text, char* buf, unsigned size)
{
    if (buf == nullptr || size == 0)
        return buf;
    const size_t take = std::min<size_t>(text.size(), size - 1);
    memcpy(buf, text.data(), take);
    buf[take] = '\0';
    return buf;
}

Json::Value Write(const Record& record, const void* bytes)
{
    Json::Value out(Json::objectValue);
    WriteFields(record, static_cast<const uint8_t*>(bytes), out);
    return out;
}

char* WriteText(const Record& record, const void* bytes, char* buf, unsigned size)
{
    if (buf == nullptr || size == 0)
        return buf;
    return CopyOut(cv::toStyledString(Write(record, bytes)), buf, size);
}

int Read(const Record& record, const char* json, void* bytes)
{
    Json::Value root;
    const int parsed = ParseText(json, root);
    if (parsed != 0)
        return parsed;
    uint8_t* base = static_cast<uint8_t*>(bytes);
    try {
        ReadFields(record, root, base);
    } catch (const std::exception&) {
        return 5;
    }
    StoreLengths(record, base);
    return 0;
}

const Record* FindByType(unsigned type)
{
    if (type == 0)
        return nullptr;
    for (unsigned i = 0; i < kAllRecordCount; ++i) {
        if (kAllRecords[i]->type == type)
            return kAllRecords[i];
    }
    return nullptr;
}

// The field tables, one per record description.
#define QG_SU_FIELD(kind, name, dims) \
    {#name, sizeof(#name) - 1, k##kind, offsetof(S, name), sizeof(S::name), std::extent<decltype(S::name)>::value},
#define QG_SU_TABLE(Name, Struct, size, type, test, guidKey, forms) \
    namespace table_##Name                                          \
    {                                                               \
        typedef Struct S;                                           \
        const Field kFields[] = {QG_SU_FIELDS_##Name(QG_SU_FIELD)}; \
    }                                                               \
    const Record k##Name = {                                        \
        #Name, table_##Name::kFields, sizeof(table_##Name::kFields) / sizeof(Field), size, type, test != 0, guidKey};
#define QG_SU_POINTER(Name, ...) &k##Name,

QG_SU_TABLE(DiskPartInfo, CS_DISKPARTINFO_STRUCT, 220, 0, 0, "", Full)
QG_SERVER_RECORDS(QG_SU_TABLE)

const Record* const kAllRecords[] = {QG_SERVER_RECORDS(QG_SU_POINTER)};
const unsigned kAllRecordCount = sizeof(kAllRecords) / sizeof(kAllRecords[0]);

}  // namespace qg_record
