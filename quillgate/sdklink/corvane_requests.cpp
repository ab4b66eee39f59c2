// Requests the gateway routes to the SDK client beyond login, rooms, text
// and buffers: objects, user state, recording, video calls, user info, SDK
// control with its pieces, options and the browser's general parameters.
// Each row is the SDK call, then the reply, then the log line.
#include "quillgate/sdklink/corvane_connect.h"

#include <cstdlib>
#include <cstring>
#include <json/json.h>
#include <vector>

#include "quillgate/log/log_mask.h"
#include "quillgate/log/proxy_log.h"
#include "quillgate/sdklink/sdk_text_out.h"
#include "quillgate/sdklink/text_convert.h"
#include "util/base64.h"
#include "util/json_utils.h"
#include "util/json_writer.h"

namespace {

const int kTextValue = 1;  // valueType of a text; anything else is an int
// Fixed outputs the SDK fills (their texts are read to one byte less).
const unsigned kValueTextSize = 200;
const unsigned kSDKControlOutSize = 1024;
const unsigned kOptionTextSize = 1024;
const int kPieceWaiting = 1;
// The id buffer of an object event that lists a type.
const uint32_t kObjectEventIds = 1000;

}  // namespace

// ---- objects ----

int CCorvaneConnect::doObjectControl(int objectType, int objectId, int ctrlCode, int param1, int param2, int param3,
                                     int param4, const std::string& strParam)
{
    const int ret = CVAPI_ObjectControl(static_cast<unsigned>(objectType), static_cast<unsigned>(objectId),
                                        static_cast<unsigned>(ctrlCode), static_cast<unsigned>(param1),
                                        static_cast<unsigned>(param2), static_cast<unsigned>(param3),
                                        static_cast<unsigned>(param4), strParam.c_str());
    ProxyLog(4, "invoke CCorvaneConnect::doObjectControl[objectType:%d,objectId:%d,ctrlCode:%d,param1:%d] = %d",
             objectType, objectId, ctrlCode, param1, ret);
    return ret;
}

int CCorvaneConnect::doObjectSetValue(int objectType, int objectId, int infoName, int valueType,
                                      const std::string& infoValue)
{
    int ret;
    if (valueType == kTextValue) {
        ret = CVAPI_ObjectSetValue(static_cast<unsigned>(objectType), static_cast<unsigned>(objectId),
                                   static_cast<unsigned>(infoName), infoValue.data(),
                                   static_cast<unsigned>(infoValue.size()));
    } else {
        const int value = static_cast<int>(strtol(infoValue.c_str(), nullptr, 10));
        ret = CVAPI_ObjectSetValue(static_cast<unsigned>(objectType), static_cast<unsigned>(objectId),
                                   static_cast<unsigned>(infoName), &value, sizeof(value));
    }
    if (m_owner)
        m_owner->ReplyObjectSetValue(ret);
    ProxyLog(4, "invoke CCorvaneConnect::doObjectSetValue[objectType:%d, objectId:%d, infoname:%d, infovalue:%s] = %d",
             objectType, objectId, infoName, LoggedText(4, infoValue).c_str(), ret);
    return ret;
}

int CCorvaneConnect::doObjectGetValue(int objectType, int objectId, int infoName, int valueType)
{
    std::string text;
    int ret;
    if (valueType == kTextValue) {
        ret = ReadSdkText(kValueTextSize, text, [&](char* out, unsigned size) {
            return CVAPI_ObjectGetValue(static_cast<unsigned>(objectType), static_cast<unsigned>(objectId),
                                        static_cast<unsigned>(infoName), out, size);
        });
    } else {
        int value = -1;
        ret = CVAPI_ObjectGetValue(static_cast<unsigned>(objectType), static_cast<unsigned>(objectId),
                                   static_cast<unsigned>(infoName), &value, sizeof(value));
        text = std::to_string(value);
    }
    if (m_owner)
        m_owner->ReplyObjectGetValue(objectType, objectId, infoName, text, ret);
    ProxyLog(4, "invoke CCorvaneConnect::doObjectGetValue[objectType:%d,objectId:%d,infoName:%d] = %d", objectType,
             objectId, infoName, ret);
    return ret;
}

int CCorvaneConnect::doObjectGetIdList(int objectType)
{
    std::vector<uint32_t> ids;
    int ret = ReadObjectIds(static_cast<uint32_t>(objectType), ids, 0);
    // Nothing to list: no reply.
    if (ret == 0 && ids.empty())
        ret = 21;
    if (ret == 0) {
        if (m_owner)
            m_owner->ReplyObjectGetIdList(objectType, IdListText(ids), 0);
    }
    ProxyLog(4, "invoke CCorvaneConnect::doObjectGetIdList[objectType:%d] = %d", objectType, ret);
    return ret;
}

int CCorvaneConnect::ReadObjectIds(uint32_t objectType, std::vector<uint32_t>& ids, uint32_t capacity)
{
    ids.clear();
    unsigned int count = 0;
    int ret = CVAPI_ObjectGetIdList(objectType, nullptr, &count);
    if (ret != 0 || count == 0)
        return ret;
    // A fixed buffer is offered whole: a list that grew since the count is
    // still read as far as the buffer goes.
    const unsigned int size = capacity != 0 ? capacity : count;
    ids.resize(size);
    unsigned int filled = size;
    ret = CVAPI_ObjectGetIdList(objectType, ids.data(), &filled);
    if (ret != 0) {
        ids.clear();
        return ret;
    }
    if (filled < ids.size())
        ids.resize(filled);
    return 0;
}

// ---- users, recording, video calls ----

int CCorvaneConnect::doQueryUserState(int userId, int infoName, int valueType)
{
    std::string text;
    int ret;
    if (valueType == kTextValue) {
        ret = ReadSdkText(kValueTextSize, text, [&](char* out, unsigned size) {
            return CVAPI_QueryUserState(static_cast<unsigned>(userId), infoName, out, static_cast<int>(size));
        });
    } else {
        int value = -1;
        ret = CVAPI_QueryUserState(static_cast<unsigned>(userId), infoName, &value, sizeof(value));
        text = std::to_string(value);
    }
    if (m_owner)
        m_owner->ReplyQueryUserState(ret, userId, infoName, text);
    ProxyLog(4, "invoke CCorvaneConnect::doQueryUserState[userId:%d,infoName:%d] = %d", userId, infoName, ret);
    return ret;
}

int CCorvaneConnect::doStreamRecordCtrlEx(int userId, bool startRecord, int flags, int param,
                                          const std::string& userStr)
{
    const int ret =
        CVAPI_StreamRecordCtrlEx(static_cast<unsigned>(userId), startRecord ? 1 : 0, static_cast<unsigned>(flags),
                                 static_cast<unsigned>(param), userStr.c_str());
    if (m_owner)
        m_owner->ReplyStreamRecordCtrlEx(ret);
    ProxyLog(4, "invoke CCorvaneConnect::doStreamRecordCtrlEx[userId:%d] = %d", userId, ret);
    return ret;
}

int CCorvaneConnect::doUserInfoControl(int userId, int ctrlCode, int param1, int param2, const std::string& strValue)
{
    const int ret =
        CVAPI_UserInfoControl(static_cast<unsigned>(userId), static_cast<unsigned>(ctrlCode),
                              static_cast<unsigned>(param1), static_cast<unsigned>(param2), strValue.c_str());
    if (m_owner)
        m_owner->ReplyUserInfoControl(ret);
    ProxyLog(4, "invoke CCorvaneConnect::doUserInfoControl[userId:%d] = %d", userId, ret);
    return ret;
}

int CCorvaneConnect::doVideoCallControl(int eventType, int userId, int errorCode, int flags, int param,
                                        const std::string& userStr)
{
    // The outcome comes back as video-call events, not as a reply.
    return CVAPI_VideoCallControl(static_cast<unsigned>(eventType), static_cast<unsigned>(userId),
                                  static_cast<unsigned>(errorCode), static_cast<unsigned>(flags),
                                  static_cast<unsigned>(param), userStr.c_str());
}

// ---- SDK control ----

int CCorvaneConnect::doSDKControl(int ctrlCode, const std::string& json)
{
    int spliceFlag = 0;
    CJsonTools::GetIntValue(json, "spliceflag", spliceFlag);
    std::string request = json;
    if (spliceFlag != 0) {
        const int taken = TakeSDKControlPiece(json, request);
        if (taken == kPieceWaiting)
            return 0;
        if (taken != 0)
            return taken;
    }
    std::string out;
    const int ret = ReadSdkText(kSDKControlOutSize, out, [&](char* buffer, unsigned size) {
        return CVAPI_SDKControl(static_cast<unsigned>(ctrlCode), request.c_str(), buffer, size);
    });
    if (m_owner)
        m_owner->ReplySDKControl(ret, out);
    ProxyLog(4, "invoke CCorvaneConnect::doSDKControl: ctrlCode:%d, strInJson:%s, ret:%d", ctrlCode,
             LoggedText(4, request).c_str(), ret);
    return ret;
}

int CCorvaneConnect::TakeSDKControlPiece(const std::string& json, std::string& out)
{
    std::string uuid;
    std::string content;
    int index = 0;
    int flag = 0;
    CJsonTools::GetStringValue(json, "uuid", uuid);
    CJsonTools::GetIntValue(json, "index", index);
    CJsonTools::GetStringValue(json, "content", content);
    CJsonTools::GetIntValue(json, "flag", flag);

    std::string joined;
    {
        std::unique_lock<std::mutex> lock(m_mediaMutex);
        if (!IsCmdCacheExist(uuid)) {
            CmdCacheInfo record;
            record.uuid = uuid;
            m_cmdCache.push_back(record);
        }
        CmdCacheInfo* record = FindPieceRecord(uuid);
        if (!record) {
            lock.unlock();
            ProxyLog(16, "[%s()]=%d, line:%d, GetCmdCacheByGuid fail! json:%s", "doSDKControl", 21, __LINE__,
                     LoggedText(16, json).c_str());
            return 21;
        }
        // A piece out of sequence leaves the record as it was.
        if (static_cast<int64_t>(index) != static_cast<int64_t>(record->lastIndex) + 1) {
            const uint32_t lastIndex = record->lastIndex;
            lock.unlock();
            ProxyLog(16, "[%s()]=%d, line:%d, content is not intact! preindex:%d, recindex:%d", "doSDKControl", 21,
                     __LINE__, lastIndex, index);
            return 21;
        }
        ++record->lastIndex;
        record->content += content;
        if (flag == 0)
            return kPieceWaiting;
        joined.swap(record->content);
        DelCmdCacheByGuid(uuid);
    }
    // A request that is not base64 goes nowhere.
    if (!Base64Decode(joined, out)) {
        ProxyLog(16, "[%s()]=%d, line:%d, content is not base64! uuid:%s, length:%d", "doSDKControl", 21, __LINE__,
                 uuid.c_str(), static_cast<int>(joined.size()));
        return 21;
    }
    return 0;
}

// ---- object, record and video-call events ----

namespace {

// One object value of the info or status JSON: an int (textSize 0, 0 when
// the SDK does not fill it) or a text read into textSize bytes.
struct ObjectValue {
    const char* key;
    uint32_t infoName;
    unsigned textSize;
};

const ObjectValue kObjectInfo[] = {
    {"flags", CV_OBJINFO_FLAGS, 0},
    {"objectname", CV_OBJINFO_NAME, 100},
    {"priority", CV_OBJINFO_PRIORITY, 0},
    {"attribute", CV_OBJINFO_ATTRIBUTE, 0},
    {"description", CV_OBJINFO_DESCRIPTION, 200},
    {"inttag", CV_OBJINFO_INTTAG, 0},
    {"stringtag", CV_OBJINFO_STRINGTAG, 200},
};

const ObjectValue kAreaStatus[] = {
    {"agentcount", CV_OBJINFO_AGENTCOUNT, 0},
    {"guestcount", CV_OBJINFO_GUESTCOUNT, 0},
    {"queueusercount", CV_OBJINFO_QUEUEUSERCOUNT, 0},
    {"queuecount", CV_OBJINFO_QUEUECOUNT, 0},
};
const ObjectValue kQueueStatus[] = {
    {"mysequenceno", CV_OBJINFO_MYSEQUENCENO, 0},         {"beforeusernum", CV_OBJINFO_BEFOREUSERNUM, 0},
    {"myenterqueuetime", CV_OBJINFO_MYENTERQUEUETIME, 0}, {"queuelength", CV_OBJINFO_QUEUELENGTH, 0},
    {"waittimesecond", CV_OBJINFO_WAITTIMESECOND, 0},
};
const ObjectValue kAgentStatus[] = {
    {"servicestatus", CV_OBJINFO_SERVICESTATUS, 0},       {"serviceuserid", CV_OBJINFO_SERVICEUSERID, 0},
    {"servicebegintime", CV_OBJINFO_SERVICEBEGINTIME, 0}, {"servicetotaltime", CV_OBJINFO_SERVICETOTALTIME, 0},
    {"servicetotalnum", CV_OBJINFO_SERVICETOTALNUM, 0},
};

struct ObjectStatus {
    uint32_t objectType;
    const ObjectValue* values;
    size_t count;
};

#define QG_VALUES(table) table, sizeof(table) / sizeof(table[0])
const ObjectStatus kObjectStatus[] = {
    {CV_OBJTYPE_AREA, QG_VALUES(kAreaStatus)},
    {CV_OBJTYPE_QUEUE, QG_VALUES(kQueueStatus)},
    {CV_OBJTYPE_AGENT, QG_VALUES(kAgentStatus)},
};

// The values read from the SDK as compact JSON, converted to UTF-8. A
// type without a table gives the text of an empty value.
std::string ObjectJson(uint32_t objectType, uint32_t objectId, const ObjectValue* values, size_t count)
{
    Json::Value root;
    for (size_t i = 0; i < count; ++i) {
        const ObjectValue& v = values[i];
        if (v.textSize == 0) {
            int value = 0;
            CVAPI_ObjectGetValue(objectType, objectId, v.infoName, &value, sizeof(value));
            root[v.key] = value;
        } else {
            std::string text;
            ReadSdkText(v.textSize, text, [&](char* out, unsigned size) {
                return CVAPI_ObjectGetValue(objectType, objectId, v.infoName, out, size);
            });
            root[v.key] = text;
        }
    }
    const std::string gb = cv::toStyledString(root);
    size_t replaced = 0;
    std::string utf8 = ConvertBufferGB2312ToUTF8(gb.data(), gb.size(), &replaced);
    if (replaced != 0)
        ProxyLog(16,
                 "CCorvaneConnect::OnObjectEventNotify: %d bytes are not GB2312, sent as '?'! objectType:%d, "
                 "objectId:%d",
                 static_cast<int>(replaced), objectType, objectId);
    return utf8;
}

const char* OrEmpty(const char* text)
{
    return text ? text : "";
}

}  // namespace

void CCorvaneConnect::SendObjectInfo(uint32_t objectType, uint32_t objectId)
{
    const std::string info = ObjectJson(objectType, objectId, QG_VALUES(kObjectInfo));
    if (m_owner)
        m_owner->NotifyObjectEvent(static_cast<int>(objectType), static_cast<int>(objectId), 0, 0, 0, 0, 0, info);
}

void CCorvaneConnect::SendObjectStatus(uint32_t objectType, uint32_t objectId)
{
    const ObjectValue* values = nullptr;
    size_t count = 0;
    for (const ObjectStatus& s : kObjectStatus) {
        if (s.objectType == objectType) {
            values = s.values;
            count = s.count;
        }
    }
    const std::string status = ObjectJson(objectType, objectId, values, count);
    if (m_owner)
        m_owner->NotifyObjectEvent(static_cast<int>(objectType), static_cast<int>(objectId), -1, 0, 0, 0, 0, status);
}

void CCorvaneConnect::OnObjectEventNotify(uint32_t objectType, uint32_t objectId, uint32_t eventType, uint32_t param1,
                                          uint32_t param2, uint32_t param3, uint32_t param4, const char* strParam)
{
    const uint32_t kNone = static_cast<uint32_t>(-1);
    if (eventType == CV_OBJEVENT_UPDATE) {
        // Every object of the type, as far as the id buffer holds them.
        std::vector<uint32_t> ids;
        if (ReadObjectIds(objectType, ids, kObjectEventIds) == 0) {
            for (uint32_t id : ids)
                SendObjectInfo(objectType, id);
        }
    } else if (objectType != kNone && objectId != kNone) {
        SendObjectInfo(objectType, objectId);
        SendObjectStatus(objectType, objectId);
    }
    if (m_owner)
        m_owner->NotifyObjectEvent(static_cast<int>(objectType), static_cast<int>(objectId),
                                   static_cast<int>(eventType), static_cast<int>(param1), static_cast<int>(param2),
                                   static_cast<int>(param3), static_cast<int>(param4), OrEmpty(strParam));
}

void CCorvaneConnect::OnStreamRecord(uint32_t userId, uint32_t streamIndex, const char* fileName, uint32_t elapse,
                                     uint32_t flags, uint32_t param, const char* userStr)
{
    // The gateway takes the stream first and the user second.
    if (m_owner)
        m_owner->NotifyStreamRecordEx(static_cast<int>(streamIndex), static_cast<int>(userId), OrEmpty(fileName),
                                      static_cast<int>(elapse), static_cast<int>(flags), static_cast<int>(param),
                                      OrEmpty(userStr));
}

void CCorvaneConnect::OnVideoCallEvent(uint32_t eventType, uint32_t userId, uint32_t errorCode, uint32_t flags,
                                       uint32_t param, const char* userStr)
{
    const char* text = OrEmpty(userStr);
    const std::string utf8 = ConvertBufferGB2312ToUTF8(text, strlen(text));
    if (m_owner)
        m_owner->NotifyVideoCallEvent(0, static_cast<int>(eventType), static_cast<int>(userId),
                                      static_cast<int>(errorCode), static_cast<int>(flags), static_cast<int>(param),
                                      utf8);
}

// ---- the command cache (the caller holds the media mutex) ----

namespace {

bool IsPiece(const CmdCacheInfo& r)
{
    return r.type == kCmdSdkControlPiece;
}

}  // namespace

CmdCacheInfo* CCorvaneConnect::FindPieceRecord(const std::string& uuid)
{
    for (auto it = m_cmdCache.rbegin(); it != m_cmdCache.rend(); ++it) {
        if (IsPiece(*it) && it->uuid == uuid)
            return &*it;
    }
    return nullptr;
}

int CCorvaneConnect::IsCmdCacheExist(const std::string& uuid) const
{
    for (const CmdCacheInfo& r : m_cmdCache) {
        if (IsPiece(r) && r.uuid == uuid)
            return 1;
    }
    return 0;
}

int CCorvaneConnect::GetCmdCacheByGuid(const std::string& uuid, CmdCacheInfo& out) const
{
    for (auto it = m_cmdCache.rbegin(); it != m_cmdCache.rend(); ++it) {
        if (IsPiece(*it) && it->uuid == uuid) {
            out = *it;
            return 0;
        }
    }
    return -1;
}

void CCorvaneConnect::SetCmdCacheByGuid(const CmdCacheInfo& record)
{
    if (IsPiece(record)) {
        for (CmdCacheInfo& r : m_cmdCache) {
            if (IsPiece(r) && r.uuid == record.uuid) {
                r = record;
                return;
            }
        }
    }
    m_cmdCache.push_back(record);
}

void CCorvaneConnect::DelCmdCacheByGuid(const std::string& uuid)
{
    for (auto it = m_cmdCache.begin(); it != m_cmdCache.end(); ++it) {
        if (IsPiece(*it) && it->uuid == uuid) {
            m_cmdCache.erase(it);
            return;
        }
    }
}

void CCorvaneConnect::DelCmdCacheByUserId(uint32_t userId)
{
    for (auto it = m_cmdCache.begin(); it != m_cmdCache.end(); ++it) {
        if (IsCameraCommand(*it) && it->userId == userId) {
            m_cmdCache.erase(it);
            return;
        }
    }
}

std::vector<CmdCacheInfo> CCorvaneConnect::CmdCacheSnapshot()
{
    std::lock_guard<std::mutex> lock(m_mediaMutex);
    return m_cmdCache;
}

// ---- SDK options: the SDK call, then the reply, then the log line ----

int CCorvaneConnect::doSetSDKOptionString(int optName, const std::string& optVal)
{
    const int ret = CVAPI_SetSDKOption(optName, optVal.c_str(), static_cast<int>(optVal.size()));
    // A line for the SDK's own log: logging it again would loop.
    if (optName == CV_OPT_WRITE_LOG)
        return ret;
    if (m_owner)
        m_owner->ReplySetSDKOptionString(ret);
    ProxyLog(4, "invoke CCorvaneConnect::doSetSDKOptionString: optName:%d, optVal:%s, ret:%d", optName,
             LoggedText(4, optVal).c_str(), ret);
    return ret;
}

int CCorvaneConnect::doSetSDKOptionInt(int optName, int optVal)
{
    const int ret = CVAPI_SetSDKOption(optName, &optVal, sizeof(optVal));
    if (m_owner)
        m_owner->ReplySetSDKOptionInt(ret);
    ProxyLog(4, "invoke CCorvaneConnect::doSetSDKOptionInt: optName:%d, optVal:%d, ret:%d", optName, optVal, ret);
    return ret;
}

int CCorvaneConnect::doGetSDKOptionString(int optName)
{
    std::string value;
    const int ret = ReadSdkText(kOptionTextSize, value, [&](char* out, unsigned size) {
        return CVAPI_GetSDKOption(optName, out, static_cast<int>(size));
    });
    if (m_owner)
        m_owner->ReplyGetSDKOptionString(ret, optName, value);
    ProxyLog(4, "invoke CCorvaneConnect::doGetSDKOptionString: optName:%d, ret:%d", optName, ret);
    return ret;
}

int CCorvaneConnect::doGetSDKOptionInt(int optName)
{
    int value = -1;
    const int ret = CVAPI_GetSDKOption(optName, &value, sizeof(value));
    if (m_owner)
        m_owner->ReplyGetSDKOptionInt(ret, optName, value);
    ProxyLog(4, "invoke CCorvaneConnect::doGetSDKOptionInt: optName:%d, ret:%d", optName, ret);
    return ret;
}

// ---- the browser's general parameters ----

int CCorvaneConnect::HandleWebCommand(int type, const std::string& json)
{
    if (type == 1)
        return HandleInitParam(json);
    if (type == 2)
        return HandleSetVideoCodes(json);
    return 0;
}

int CCorvaneConnect::HandleInitParam(const std::string& json)
{
    int sdkFunctions = static_cast<int>(m_sdkFunctions.load());
    int serverFunctions = static_cast<int>(m_serverFunctions.load());
    CJsonTools::GetIntValue(json, "sdkfunction", sdkFunctions);
    CJsonTools::GetIntValue(json, "serverfunction", serverFunctions);
    m_sdkFunctions = static_cast<uint32_t>(sdkFunctions);
    m_serverFunctions = static_cast<uint32_t>(serverFunctions);
    ProxyLog(4, "[%s()]=%d, line:%d, sdkFunction:%d, SerFunction: %d", "HandleInitParam", 0, __LINE__, sdkFunctions,
             serverFunctions);
    return 0;
}

int CCorvaneConnect::HandleSetVideoCodes(const std::string& json)
{
    // The setting itself is the WebRTC side's; the SDK client keeps and logs it.
    int codec = static_cast<int>(m_browserVideoCodec.load());
    CJsonTools::GetIntValue(json, "html5videocodec", codec);
    m_browserVideoCodec = static_cast<uint32_t>(codec);
    ProxyLog(4, "[%s()]=%d, line:%d, m_setFrameType: %d", "HandleSetVideoCodes", 0, __LINE__, codec);
    return 0;
}
