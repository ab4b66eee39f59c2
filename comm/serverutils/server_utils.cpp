#include "comm/serverutils/server_utils.h"

#include <strings.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "comm/serverutils/record_codec.h"
#include "util/cv_ioutils.h"
#include "util/debug_info.h"
#include "util/json_writer.h"

// The three converters of every record, from its field table.
#define QG_SU_WRITE_TEXT(Name, Struct)                                           \
    char* CServerUtils::Name##2Json(const Struct& rec, char* buf, unsigned size) \
    {                                                                            \
        return qg_record::WriteText(qg_record::k##Name, &rec, buf, size);        \
    }                                                                            \
    int CServerUtils::Json2##Name(const char* json, Struct& rec)                 \
    {                                                                            \
        return qg_record::Read(qg_record::k##Name, json, &rec);                  \
    }
#define QG_SU_CONVERTERS_Full(Name, Struct)                  \
    Json::Value CServerUtils::Name##2Json(const Struct& rec) \
    {                                                        \
        return qg_record::Write(qg_record::k##Name, &rec);   \
    }                                                        \
    QG_SU_WRITE_TEXT(Name, Struct)
#define QG_SU_CONVERTERS_TextOnly(Name, Struct) QG_SU_WRITE_TEXT(Name, Struct)
#define QG_SU_CONVERTERS(Name, Struct, size, type, test, guidKey, forms) QG_SU_CONVERTERS_##forms(Name, Struct)

QG_SERVER_RECORDS(QG_SU_CONVERTERS)

namespace {

const char kUnknownType[] = "unknow datatype";

struct ServerType {
    unsigned flag;
    const char* name;
    const char* detail;  // null: the detail names skip the flag
};

// In the order the flags are tested: a value with several flags gets the
// name of the first here (0x4000000 before the storage monitor and manager).
const ServerType kServerTypes[] = {
    {0x1, "corvanerootserver", "corvanerootdetail"},
    {0x2, "corvanednsserver", "corvanednsdetail"},
    {0x4, "corvaneloginserver", "corvanelogindetail"},
    {0x8, "corvanemediaserver", "corvanemediadetail"},
    {0x10, "corvanecoreserver", "corvanecoredetail"},
    {0x20, "corvanerecordserver", "corvanerecorddetail"},
    {0x40, "corvanefileserver", "corvanefiledetail"},
    {0x80, "corvanedbproxyserver", "corvanedbproxydetail"},
    {0x100, "corvaneappserver", "corvaneappdetail"},
    {0x200, "corvanehotmonitorserver", "corvanehotmonitordetail"},
    {0x400, "corvanebusinessserver", "corvanebusinessdetail"},
    {0x800, "corvanequeueserver", "corvanequeuedetail"},
    {0x1000, "corvanelogserver", "corvanelogdetail"},
    {0x2000, "corvanemonitorserver", "corvanemonitordetail"},
    {0x4000, "corvanepmserver", "corvanepmdetail"},
    {0x8000, "corvaneupdateserver", "corvaneupdatedetail"},
    {0x10000, "corvanehtml5server", "corvanehtml5detail"},
    {0x20000, "corvaneagentserver", "corvaneagentdetail"},
    {0x40000, "corvanerecordproxy", "corvanerecordproxy"},
    {0x80000, "corvaneliveserver", "corvanelivedetail"},
    {0x100000, "corvanedbserver", "corvanedbdetail"},
    {0x200000, "corvanewebrtcgwserver", "corvanewebrtcgwdetail"},
    {0x400000, "corvanegeneralserver", "corvanegeneraldetail"},
    {0x4000000, "corvanestorageaccess", nullptr},
    {0x800000, "corvanestoragemonitor", "corvanestoragemonitor"},
    {0x1000000, "corvanestoragemanage", "corvanestoragemanage"},
    {0x2000000, "corvanestorageserver", "corvanestoragedetail"},
    {0x8000000, "corvaneaccessgateway", "corvaneaccessgateway"},
    {0x10000000, "corvaneroomserver", "corvaneroomdetail"},
    {0x20000000, "corvaneaiserver", "corvaneaidetail"},
    {0x40000000, "corvaneaiagent", "corvaneaiagentdetail"},
};

// The member under key of a parsed text: 0 and the string, 11 when it is
// not a string, 5 when the lookup throws (the root is no object).
int StringMember(const Json::Value& root, const char* key, const char*& text)
{
    try {
        const Json::Value& member = root[key];
        if (!member.isString())
            return 11;
        text = member.asCString();
        return 0;
    } catch (const std::exception&) {
        return 5;
    }
}

}  // namespace

int CServerUtils::CorvaneStruct2Json(unsigned type, const char* rec, unsigned len, Json::Value& out)
{
    const qg_record::Record* record = qg_record::FindByType(type);
    if (record == nullptr || rec == nullptr || len < record->size)
        return -1;
    uint32_t first = 0;
    memcpy(&first, rec, sizeof first);
    if (record->sizeTest && first != record->size)
        return -1;
    out = qg_record::Write(*record, rec);
    return 0;
}

int CServerUtils::CorvaneStruct2Json(unsigned type, const char* rec, unsigned len, char* buf, unsigned size)
{
    Json::Value object;
    const int result = CorvaneStruct2Json(type, rec, len, object);
    if (result == 0)
        qg_record::CopyOut(cv::toStyledString(object), buf, size);
    return result;
}

int CServerUtils::Json2CorvaneStruct(unsigned type, const char* json, char* out, unsigned& size)
{
    const qg_record::Record* record = qg_record::FindByType(type);
    if (record == nullptr || out == nullptr || size < record->size)
        return -1;
    size = record->size;
    return qg_record::Read(*record, json, out);
}

const char* CServerUtils::GetConfigGuidJsonKey(unsigned type)
{
    const qg_record::Record* record = qg_record::FindByType(type);
    return record ? record->guidKey : kUnknownType;
}

int CServerUtils::GetConfigGuidFromJson(unsigned type, const char* json, _GUID& guid)
{
    Json::Value root;
    const int parsed = qg_record::ParseText(json, root);
    if (parsed != 0)
        return parsed;
    const char* text = nullptr;
    const int found = StringMember(root, GetConfigGuidJsonKey(type), text);
    if (found != 0)
        return found;
    guid = qg_record::ParseGuid(text);
    return 0;
}

int CServerUtils::Json2Guid(const char* json, const char* key, _GUID& guid)
{
    if (json == nullptr || key == nullptr)
        return -1;
    Json::Value root;
    const int parsed = qg_record::ParseText(json, root);
    if (parsed != 0)
        return parsed;
    const char* text = nullptr;
    const int found = StringMember(root, key, text);
    if (found == 5)
        return 5;
    if (found == 0)
        guid = qg_record::ParseGuid(text);
    return 0;
}

char* CServerUtils::Guid2Json(_GUID guid, const char* key, char* buf, unsigned size)
{
    if (key == nullptr || buf == nullptr)
        return buf;
    char text[37];
    qg_record::FormatGuid(guid, text);
    Json::Value object(Json::objectValue);
    object[key] = text;
    return qg_record::CopyOut(cv::toStyledString(object), buf, size);
}

const char* CServerUtils::GetServerType(unsigned flags)
{
    for (const ServerType& t : kServerTypes) {
        if (flags & t.flag)
            return t.name;
    }
    // Per thread, so that two threads naming unknown flags keep their own text.
    thread_local char unknown[100];
    snprintf(unknown, sizeof unknown, "unknow server(flags:0x%x)", flags);
    return unknown;
}

unsigned CServerUtils::GetServerType(const char* name)
{
    if (name == nullptr)
        return 0xFFFFFFFFu;
    for (const ServerType& t : kServerTypes) {
        if (strcasecmp(name, t.name) == 0)
            return t.flag;
    }
    return 0xFFFFFFFFu;
}

const char* CServerUtils::GetServerDetailName(int flags)
{
    for (const ServerType& t : kServerTypes) {
        if (t.detail != nullptr && (static_cast<unsigned>(flags) & t.flag))
            return t.detail;
    }
    return "corvaneserverdetail";
}

void CServerUtils::InitServiceProcessInfo(LPCS_SERVICEPROCESSINFO rec, DWORD svrFlags)
{
    if (rec == nullptr)
        return;
    rec->cbSize = sizeof(CS_SERVICEPROCESSINFO_STRUCT);
    rec->AppFlags = 0x60020;
    rec->SvrFlags = svrFlags;

    // The time this file was built, local time.
    struct tm built;
    memset(&built, 0, sizeof built);
    strptime(__DATE__ " " __TIME__, "%b %d %Y %H:%M:%S", &built);
    built.tm_isdst = 0;
    rec->BuildTime = static_cast<uint32_t>(mktime(&built));

    rec->ProcessId = static_cast<uint32_t>(getpid());
    rec->StartTime = static_cast<uint32_t>(time(nullptr));
    // The slots past the addresses found keep what they held.
    unsigned addrs[5];
    memcpy(addrs, rec->LocalIpAddrList, sizeof addrs);
    CV_IOUtils::GetLocalIPAddr(addrs, 5, 1);
    memcpy(rec->LocalIpAddrList, addrs, sizeof addrs);
    rec->NatIpAddr = 0;
}

void CServerUtils::OutputServerDetail(CS_SERVICEPROCESSINFO_STRUCT* rec, CDebugInfo* log)
{
    if (rec == nullptr || log == nullptr)
        return;
    const time_t buildTime = rec->BuildTime;
    struct tm parts;
    memset(&parts, 0, sizeof parts);
    localtime_r(&buildTime, &parts);
    char built[50];
    snprintf(built, sizeof built, "%04d-%02d-%02d %02d:%02d:%02d", parts.tm_year + 1900, parts.tm_mon + 1,
             parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);

    char service[37];
    char machine[37];
    qg_record::FormatGuid(rec->serviceGuid, service);
    qg_record::FormatGuid(rec->machineGuid, machine);
    char ip[20] = {0};
    CV_IOUtils::IPNum2String(rec->LocalIpAddrList[0], ip, sizeof ip);

    log->LogDebugInfo("\t%s, id:%d, ip:%s(tcp:%d, udp:%d), OS:%s, build Time:%s, version:%d.%d.%d, serviceGuid:%s, "
                      "machineGuid:%s",
                      GetServerType(rec->SvrFlags), static_cast<int>(rec->ServerId), ip,
                      static_cast<int>(rec->InternetTCPPort), static_cast<int>(rec->InternetUDPPort),
                      (rec->AppFlags & 0x80) ? "Windows" : "Linux", built, rec->ver.Main, rec->ver.Sub,
                      rec->ver.Develop, service, machine);
}
