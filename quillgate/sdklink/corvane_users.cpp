// Login, rooms and users of the SDK client.
#include "quillgate/sdklink/corvane_connect.h"

#include <cstdlib>
#include <cstring>
#include <json/json.h>
#include <vector>

#include "quillgate/log/log_mask.h"
#include "quillgate/log/proxy_log.h"
#include "quillgate/sdklink/sdk_text_out.h"
#include "quillgate/sdklink/text_convert.h"
#include "util/json_utils.h"
#include "util/json_writer.h"

namespace {

const uint32_t kNoUser = static_cast<uint32_t>(-1);
// A user's name and info as the SDK writes them.
const unsigned kUserTextSize = 256;

// Ids of the users in a room, in the SDK's order: a count query, then the
// ids with that capacity; the SDK's own count on return is what is kept.
int ReadRoomUserIds(uint32_t roomId, std::vector<uint32_t>& ids)
{
    ids.clear();
    unsigned int count = 0;
    int ret = CVAPI_GetRoomOnlineUsers(roomId, nullptr, &count);
    if (ret != 0 || count == 0)
        return ret;
    ids.resize(count);
    unsigned int filled = count;
    ret = CVAPI_GetRoomOnlineUsers(roomId, ids.data(), &filled);
    if (ret != 0) {
        ids.clear();
        return ret;
    }
    if (filled < ids.size())
        ids.resize(filled);
    return 0;
}

// State of a user; -1 when the SDK gives none.
int ReadState(int (*query)(unsigned int, unsigned int*), uint32_t userId)
{
    unsigned int state = kNoUser;
    query(userId, &state);
    return static_cast<int>(state);
}

}  // namespace

std::string CCorvaneConnect::UserNameUtf8(uint32_t userId, unsigned int capacity)
{
    std::string name;
    ReadSdkText(kUserTextSize, name, [&](char* out, unsigned size) { return CVAPI_GetUserName(userId, out, size); });
    std::vector<char> utf8(capacity, 0);
    ConvertGB2312ToUTF8(name.c_str(), utf8.data(), capacity);
    return std::string(utf8.data());
}

void CCorvaneConnect::RecordDeviceType(uint32_t userId, const char* caller)
{
    uint32_t deviceType = 0;
    const int ret = CVAPI_QueryUserState(userId, CV_USERSTATE_DEVICETYPE, &deviceType, sizeof(deviceType));
    if (ret != 0) {
        ProxyLog(16, "CCorvaneConnect::%s: query user state fail! userid:%d, infoname:%d, ret:%d", caller, userId,
                 CV_USERSTATE_DEVICETYPE, ret);
        return;
    }
    UserAttrInfo info;
    info.userId = userId;
    info.deviceType = deviceType;
    AddUserAttribut(userId, info);
    ProxyLog(4, "CCorvaneConnect::%s: userid:%d, deviceType:%d", caller, userId, deviceType);
}

// ---- login ----

int CCorvaneConnect::CheckLoginHost(const std::string& host)
{
    return host.find(':') == std::string::npos ? 21 : 0;
}

template <typename SdkLogin, typename LogLine>
int CCorvaneConnect::LoginWith(const char* name, const std::string& host, const std::string& jsonParam,
                               SdkLogin sdkLogin, LogLine logLine)
{
    const int refused = CheckLoginHost(host);
    if (refused != 0)
        return refused;
    const size_t colon = host.find(':');
    const std::string address = host.substr(0, colon);
    const uint32_t port = static_cast<uint32_t>(strtol(host.c_str() + colon + 1, nullptr, 10));

    // CJsonUtils reads from a writable NUL-terminated copy.
    std::vector<char> params(jsonParam.begin(), jsonParam.end());
    params.push_back('\0');
    unsigned int platformType = 0;
    unsigned int browserType = 0;
    CJsonUtils::GetIntValue(params.data(), "platformtype", platformType);
    CJsonUtils::GetIntValue(params.data(), "browsertype", browserType);
    m_platformType = platformType;
    m_browserType = browserType;

    // As long as the parameter text, with room for the NUL.
    std::vector<char> authPass(params.size(), 0);
    CJsonUtils::GetStrValue(params.data(), "serverauthpass", authPass.data(),
                            static_cast<unsigned int>(authPass.size()));
    if (authPass[0] != '\0') {
        ProxyLog(4, "CCorvaneConnect::%s: set server auth pass!", name);
        const int ret = CVAPI_SetServerAuthPass(authPass.data());
        if (ret != 0) {
            ProxyLog(16, "CCorvaneConnect::%s: SetServerAuthPass fail! pass:%s, ret:%d", name, kMaskedPassword, ret);
            if (m_owner)
                m_owner->ReplyLogin(-1, ret);
            return ret;
        }
    }

    // A session still open goes first.
    if (m_ownUserId != kNoUser || m_connected != 0)
        CVAPI_Logout();

    int ret = CVAPI_Connect(address.c_str(), port);
    if (ret == 0) {
        m_connected = 1;
        ret = sdkLogin();
    }
    logLine(address, port, ret);
    return ret;
}

int CCorvaneConnect::doLogin(const std::string& host, const std::string& userName, const std::string& passWord,
                             int passEncType, const std::string& jsonParam)
{
    return LoginWith(
        "doLogin", host, jsonParam,
        [&] { return CVAPI_Login(userName.c_str(), passWord.c_str(), static_cast<unsigned int>(passEncType)); },
        [&](const std::string& address, uint32_t port, int ret) {
            ProxyLog(4, "invoke CCorvaneConnect::doLogin[%s:%d], username;%s, pass:%s, passEncType:%d, ret:%d",
                     address.c_str(), port, userName.c_str(), kMaskedPassword, passEncType, ret);
        });
}

int CCorvaneConnect::doLoginEx(const std::string& host, const std::string& nickName, int userId,
                               const std::string& strUserId, const std::string& appId, int timeStamp,
                               const std::string& sigStr, const std::string& strParam, const std::string& jsonParam)
{
    return LoginWith(
        "doLoginEx", host, jsonParam,
        [&] {
            return CVAPI_LoginEx(nickName.c_str(), static_cast<unsigned int>(userId), strUserId.c_str(), appId.c_str(),
                                 static_cast<unsigned int>(timeStamp), sigStr.c_str(), strParam.c_str());
        },
        [&](const std::string&, uint32_t, int ret) {
            ProxyLog(4,
                     "invoke CCorvaneConnect::doLoginEx, nickName;%s, userId:%d, strUserId:%s, appId:%s, "
                     "timeStamp:%d, sigStr:%s, strParam:%s, ret:%d",
                     nickName.c_str(), userId, strUserId.c_str(), appId.c_str(), timeStamp, kMaskedPassword,
                     LoggedText(4, strParam).c_str(), ret);
        });
}

int CCorvaneConnect::doLogout()
{
    DropCachedCameras("doLogout");
    // The own id stays, so the next login logs out first.
    CVAPI_Logout();
    m_connected = 0;
    ClearUserAttribut();
    return 0;
}

// ---- rooms ----

int CCorvaneConnect::doEnterRoom(int roomId, const std::string& roomPassWord, int passEncType)
{
    // The next data-channel chunk restarts the stream.
    m_firstChunkSent = 0;
    const int ret = CVAPI_EnterRoom(static_cast<unsigned int>(roomId), roomPassWord.c_str(),
                                    static_cast<unsigned int>(passEncType));
    ProxyLog(4, "invoke CCorvaneConnect::CVAPI_EnterRoom[roomid:%d,roomPassWord:%s,passEncType:%d] = %d", roomId,
             kMaskedPassword, passEncType, ret);
    return ret;
}

int CCorvaneConnect::doEnterRoomEx(const std::string& roomName, const std::string& roomPassWord)
{
    m_firstChunkSent = 0;
    const int ret = CVAPI_EnterRoomEx(roomName.c_str(), roomPassWord.c_str());
    ProxyLog(4, "invoke CCorvaneConnect::doEnterRoomEx[roomName:%s,roomPassWord:%s] = %d", roomName.c_str(),
             kMaskedPassword, ret);
    return ret;
}

int CCorvaneConnect::doLeaveRoom()
{
    ClearUserAttribut();
    ClearMediaFormats();
    DropCachedCameras("doLeaveRoom");
    // Whatever room the gateway names: the SDK holds one.
    const int ret = CVAPI_LeaveRoom(kNoUser);
    if (m_owner)
        m_owner->ReplyLeaveRoom(ret);
    ProxyLog(4, "invoke CCorvaneConnect::doLeaveRoom = %d", ret);
    return ret;
}

int CCorvaneConnect::doGetRoomOnlineUsers(int roomId)
{
    std::vector<uint32_t> ids;
    const int ret = ReadRoomUserIds(static_cast<uint32_t>(roomId), ids);
    // An empty room has nothing to answer.
    if (ret == 0 && !ids.empty()) {
        if (m_owner)
            m_owner->ReplyGetRoomOnlineUsers(roomId, IdListText(ids), 0);
    }
    ProxyLog(4, "invoke CCorvaneConnect::doGetRoomOnlineUsers[roomid:%d] = %d", roomId, ret);
    return ret;
}

int CCorvaneConnect::CollectRoomUsers(uint32_t roomId, std::string& out)
{
    std::vector<uint32_t> ids;
    const int ret = ReadRoomUserIds(roomId, ids);
    if (ret != 0)
        return ret;
    if (ids.empty()) {
        out = "{\"useridlist\":[]}";
        return 0;
    }
    Json::Value root(Json::objectValue);
    Json::Value& idList = root["useridlist"];
    Json::Value& userList = root["userlist"];
    idList = Json::Value(Json::arrayValue);
    userList = Json::Value(Json::arrayValue);
    for (uint32_t id : ids) {
        idList.append(static_cast<int>(id));
        // The name first, then the states: the SDK is asked in that order.
        Json::Value user(Json::objectValue);
        user["username"] = UserNameUtf8(id, 1000);
        user["camerastate"] = ReadState(&CVAPI_GetCameraState, id);
        user["speakstate"] = ReadState(&CVAPI_GetSpeakState, id);
        user["userid"] = static_cast<int>(id);
        userList.append(user);
        RecordDeviceType(id, "OnOnlineUser");
    }
    out = cv::toStyledString(root);
    return 0;
}

void CCorvaneConnect::OnOnlineUser(uint32_t count, uint32_t roomId)
{
    std::string text;
    const int ret = CollectRoomUsers(roomId, text);
    if (ret == 0 && m_owner)
        m_owner->NotifyOnlineUser(0, static_cast<int>(roomId), text);
    ProxyLog(4, "CCorvaneConnect::OnOnlineUser dwUserCount:%d, dwRoomId:%d, result:%d", count, roomId, ret);
}

// ---- users ----

void CCorvaneConnect::OnUserAtRoom(uint32_t userId, uint32_t enter)
{
    const std::string name = UserNameUtf8(userId, 2000);
    int cameraState = -1;
    int speakState = -1;
    if (enter == 0) {
        DelUserAttribut(userId);
    } else {
        cameraState = ReadState(&CVAPI_GetCameraState, userId);
        speakState = ReadState(&CVAPI_GetSpeakState, userId);
        RecordDeviceType(userId, "OnUserAtRoom");
    }
    if (m_owner)
        m_owner->NotifyUserAtRoom(0, static_cast<int>(userId), name, enter != 0, cameraState, speakState);
}

void CCorvaneConnect::OnFriendStatus(uint32_t userId, uint32_t status)
{
    const std::string name = UserNameUtf8(userId, 2048);
    std::string info;
    ReadSdkText(kUserTextSize, info,
                [&](char* out, unsigned size) { return CVAPI_GetUserInfo(userId, CV_USERINFO_EXTRA, out, size); });
    if (m_owner)
        m_owner->NotifyFriendStatus(static_cast<int>(userId), name, info, static_cast<int>(status));
}

int CCorvaneConnect::doUserSpeakControl(int userId, bool open)
{
    const int ret = CVAPI_UserSpeakControl(static_cast<unsigned int>(userId), open ? 1 : 0);
    ProxyLog(4, "invoke CCorvaneConnect::doUserSpeakControl: dwUserid:%d, ret:%d", userId, ret);
    if (m_owner)
        m_owner->ReplyUserSpeakControl(userId, ret);
    return ret;
}

int CCorvaneConnect::doUserSpeakControlEx(int userId, bool open, int streamIndex, int flags,
                                          const std::string& strParam)
{
    const int ret = CVAPI_UserSpeakControlEx(static_cast<unsigned int>(userId), open ? 1 : 0,
                                             static_cast<unsigned int>(streamIndex), static_cast<unsigned int>(flags),
                                             strParam.c_str());
    ProxyLog(4,
             "invoke CCorvaneConnect::doUserSpeakControlEx: dwUserid:%d, bopen:%d, dwStreamIndex:%d, "
             "dwFlags:%d, iRet:%d",
             userId, open ? 1 : 0, streamIndex, flags, ret);
    if (m_owner)
        m_owner->ReplyUserSpeakControlEx(userId, ret);
    return ret;
}

std::string CCorvaneConnect::IdListText(const std::vector<uint32_t>& ids)
{
    Json::Value root(Json::objectValue);
    Json::Value& list = root["jsonbuf"];
    list = Json::Value(Json::arrayValue);
    for (uint32_t id : ids)
        list.append(static_cast<int>(id));
    return cv::toStyledString(root);
}
