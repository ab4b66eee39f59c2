// Text messages, transparent buffers and the SDK's JSON events between the
// browser user and the other users. Buffers and events for the browser go
// in pieces of at most 6144 bytes; buffers of users whose devices speak
// GB2312 are converted both ways.
#include "quillgate/sdklink/corvane_connect.h"

#include <cstring>
#include <json/json.h>

#include "quillgate/log/log_mask.h"
#include "quillgate/log/proxy_log.h"
#include "quillgate/sdklink/text_convert.h"
#include "util/base64.h"
#include "util/guid_text.h"
#include "util/json_utils.h"
#include "util/json_writer.h"

namespace {

const size_t kPieceSize = 6144;
// Bytes whose base64 fills one piece exactly.
const size_t kPieceBytes = kPieceSize / 4 * 3;
// sdk function bit: buffers travel in pieces.
const uint32_t kSplitBuffers = 8;
const int kPieceOutOfSequence = -1;
const int kPieceWaiting = 0;

bool ConvertsText(uint32_t deviceType)
{
    return deviceType == 1 || deviceType == 4 || deviceType == 8;
}

// The next piece of at most max bytes of the left bytes at data, cut
// anywhere.
size_t BytePiece(const char*, size_t left, size_t max)
{
    return left < max ? left : max;
}

bool IsContinuation(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Bytes of the UTF-8 character a lead byte begins; 0 for any other byte.
size_t Utf8Length(char c)
{
    const unsigned char b = static_cast<unsigned char>(c);
    if (b >= 0xC2 && b <= 0xDF)
        return 2;
    if (b >= 0xE0 && b <= 0xEF)
        return 3;
    if (b >= 0xF0 && b <= 0xF4)
        return 4;
    return 0;
}

// As BytePiece, but a piece that would end inside a UTF-8 character ends
// before it, so every piece of a UTF-8 text is UTF-8 too (Ice strings
// are). Bytes that are no UTF-8 character are cut at max.
size_t Utf8Piece(const char* data, size_t left, size_t max)
{
    if (left <= max || !IsContinuation(data[max]))
        return BytePiece(data, left, max);
    size_t start = max;
    while (start > 0 && max - start < 3 && IsContinuation(data[start - 1]))
        --start;
    if (start == 0)
        return max;
    --start;
    const size_t length = Utf8Length(data[start]);
    if (start == 0 || length == 0 || start + length <= max || start + length > left)
        return max;
    for (size_t i = start + 1; i < start + length; ++i)
        if (!IsContinuation(data[i]))
            return max;
    return start;
}

// Cuts size bytes into pieces of at most max, each as long as
// cut(data, left, max) says, the last one the rest:
// send(data, length, index from 1, last). Nothing for an empty text.
template <typename Cut, typename Send>
void ForEachPiece(const char* data, size_t size, size_t max, Cut cut, Send send)
{
    int index = 1;
    for (size_t sent = 0; sent < size; ++index) {
        const size_t length = cut(data + sent, size - sent, max);
        send(data + sent, length, index, sent + length == size);
        sent += length;
    }
}

// The piece JSON of a buffer for the browser: the base64 of its bytes.
// The alphabet needs no escape, so the text is the compact writer's,
// written straight.
std::string BufferPiece(const char* data, size_t length, int index, bool last)
{
    std::string piece;
    piece.reserve(length / 3 * 4 + 48);
    piece += "{\"content\":\"";
    Base64Append(piece, data, length);
    piece += "\",\"flag\":";
    piece += last ? '1' : '0';
    piece += ",\"index\":";
    piece += std::to_string(index);
    piece += '}';
    return piece;
}

Json::Value Piece(const char* data, size_t length, int index, bool last)
{
    Json::Value piece(Json::objectValue);
    piece["content"] = Json::Value(data, data + length);
    piece["flag"] = last ? 1 : 0;
    piece["index"] = index;
    return piece;
}

}  // namespace

// ---- text messages ----

int CCorvaneConnect::doSendTextMessage(int userId, bool secret, const std::string& text)
{
    const int ret = CVAPI_SendTextMessage(static_cast<unsigned>(userId), secret ? 1 : 0, text.c_str(),
                                          static_cast<unsigned>(text.size()));
    if (m_owner)
        m_owner->ReplySendTextMessage(ret);
    ProxyLog(4, "invoke CCorvaneConnect::doSendTextMessage[userId:%d] = %d", userId, ret);
    return ret;
}

void CCorvaneConnect::OnTextMessage(uint32_t fromUserId, uint32_t toUserId, int secret, const char* text, uint32_t)
{
    // The text ends at its NUL, whatever length came with it.
    if (m_owner)
        m_owner->NotifySendTextMessage(0, static_cast<int>(fromUserId), static_cast<int>(toUserId), secret != 0,
                                       text ? text : "");
}

// ---- device types ----

uint32_t CCorvaneConnect::BufferDeviceType(uint32_t userId, const char* caller, const char* queryCaller, int& queryRet)
{
    queryRet = 0;
    UserAttrInfo info;
    if (GetUserAttribut(userId, info) == 0)
        return info.deviceType;

    ProxyLog(16, "CCorvaneConnect::%s: get user attribute fail, add user attribute again! userid:%d", caller, userId);
    uint32_t deviceType = 0;
    queryRet = CVAPI_QueryUserState(userId, CV_USERSTATE_DEVICETYPE, &deviceType, sizeof(deviceType));
    if (queryRet != 0) {
        ProxyLog(16, "CCorvaneConnect::%s: query user state fail! userid:%d, infoname:%d, ret:%d", queryCaller, userId,
                 CV_USERSTATE_DEVICETYPE, queryRet);
        deviceType = 0;
    }
    // Added only when still missing: a join another thread began meanwhile stays.
    bool added = false;
    {
        std::lock_guard<std::mutex> lock(m_attrMutex);
        auto it = m_userAttrs.find(userId);
        if (it == m_userAttrs.end()) {
            UserAttrInfo fresh;
            fresh.userId = userId;
            fresh.deviceType = deviceType;
            m_userAttrs.emplace(userId, fresh);
            added = true;
        } else {
            deviceType = it->second.deviceType;
        }
    }
    if (added)
        ProxyLog(4, "CCorvaneConnect::AddUserAttribut: add user attr info!");
    return deviceType;
}

// ---- buffers from the browser ----

int CCorvaneConnect::TakeBufferPiece(uint32_t userId, uint32_t deviceType, int index, int flag,
                                     const std::string& content, std::string& out, uint32_t& lastIndex)
{
    // One lock over the whole step: two threads never see the same state.
    std::lock_guard<std::mutex> lock(m_attrMutex);
    auto it = m_userAttrs.find(userId);
    if (it == m_userAttrs.end()) {
        UserAttrInfo fresh;
        fresh.userId = userId;
        fresh.deviceType = deviceType;
        it = m_userAttrs.emplace(userId, fresh).first;
    }
    UserAttrInfo& user = it->second;
    if (index == 1) {
        user.lastIndex = 0;
        user.joined.clear();
    }
    lastIndex = user.lastIndex;
    if (static_cast<int64_t>(index) != static_cast<int64_t>(user.lastIndex) + 1)
        return kPieceOutOfSequence;
    user.joined += content;
    user.lastIndex = static_cast<uint32_t>(index);
    if (flag == 0)
        return kPieceWaiting;
    out.swap(user.joined);
    user.joined.clear();
    user.lastIndex = 0;
    return 1;
}

template <typename SdkSend, typename Reply>
int CCorvaneConnect::TransBufferWith(const char* name, int userId, const std::string& buf, SdkSend sdkSend, Reply reply)
{
    const uint32_t user = static_cast<uint32_t>(userId);
    int queryRet = 0;
    const uint32_t deviceType = BufferDeviceType(user, name, "doTransBuffer", queryRet);

    // Pieces are joined first; the whole text is converted once.
    std::string text;
    if (m_sdkFunctions & kSplitBuffers) {
        int index = 0;
        int flag = 0;
        std::string content;
        CJsonTools::GetIntValue(buf, "index", index);
        CJsonTools::GetStringValue(buf, "content", content);
        CJsonTools::GetIntValue(buf, "flag", flag);
        uint32_t lastIndex = 0;
        const int taken = TakeBufferPiece(user, deviceType, index, flag, content, text, lastIndex);
        if (taken == kPieceOutOfSequence) {
            ProxyLog(16, "[%s()]=%d, line:%d, content is not intact! preindex:%d, recindex:%d", name, 21, __LINE__,
                     lastIndex, index);
            return 21;
        }
        if (taken == kPieceWaiting)
            return 0;
    } else {
        text = buf;
    }
    if (ConvertsText(deviceType)) {
        size_t replaced = 0;
        text = ConvertBufferUTF8ToGB2312(text.data(), text.size(), &replaced);
        if (replaced != 0)
            ProxyLog(16, "CCorvaneConnect::%s: %d characters have no GB2312 form, sent as '?'! userid:%d", name,
                     static_cast<int>(replaced), userId);
    }

    const int ret = sdkSend(text);
    reply(ret);
    ProxyLog(4, "invoke CCorvaneConnect::%s[userId:%d, deviceType:%d, strBuf:%s, bufLen:%d] = %d", name, userId,
             deviceType, LoggedText(4, buf).c_str(), static_cast<int>(buf.size()), ret);
    return ret;
}

int CCorvaneConnect::doTransBuffer(int reqid, int userId, const std::string& buf)
{
    return TransBufferWith(
        "doTransBuffer", userId, buf,
        [&](const std::string& text) {
            return CVAPI_TransBuffer(static_cast<unsigned>(userId), text.data(), static_cast<unsigned>(text.size()));
        },
        [&](int ret) {
            if (m_owner)
                m_owner->ReplyTransBuffer(reqid, ret);
        });
}

int CCorvaneConnect::doTransBufferEx(int reqid, int userId, const std::string& buf, int wParam, int lParam, int flags)
{
    unsigned int taskId = static_cast<unsigned int>(-1);
    return TransBufferWith(
        "doTransBufferEx", userId, buf,
        [&](const std::string& text) {
            return CVAPI_TransBufferEx(static_cast<unsigned>(userId), text.data(), static_cast<unsigned>(text.size()),
                                       static_cast<unsigned>(wParam), static_cast<unsigned>(lParam),
                                       static_cast<unsigned>(flags), &taskId);
        },
        [&](int ret) {
            if (m_owner)
                m_owner->ReplyTransBufferEx(reqid, ret, static_cast<int>(taskId));
        });
}

// ---- buffers and events for the browser ----

template <typename Notify>
void CCorvaneConnect::SendBufferUp(const char* name, uint32_t userId, const unsigned char* data, uint32_t length,
                                   Notify notify)
{
    // The text ends at its NUL, and never beyond the length.
    const char* text = data ? reinterpret_cast<const char*>(data) : "";
    size_t size = data ? strnlen(text, length) : 0;
    int queryRet = 0;
    const uint32_t deviceType = BufferDeviceType(userId, name, name, queryRet);
    std::string converted;
    if (ConvertsText(deviceType)) {
        size_t replaced = 0;
        converted = ConvertBufferGB2312ToUTF8(text, size, &replaced);
        text = converted.data();
        size = converted.size();
        if (replaced != 0)
            ProxyLog(16, "CCorvaneConnect::%s: %d bytes are not GB2312, sent as '?'! userid:%d", name,
                     static_cast<int>(replaced), userId);
    }
    if (!(m_sdkFunctions & kSplitBuffers)) {
        notify(std::string(text, size));
        return;
    }
    // Encoded piece by piece: whole groups of three bytes encode alone, so
    // each piece is the next 6144 characters of the whole text's base64.
    ForEachPiece(text, size, kPieceBytes, BytePiece, [&](const char* piece, size_t n, int index, bool last) {
        notify(BufferPiece(piece, n, index, last));
    });
}

void CCorvaneConnect::OnTransBuffer(uint32_t userId, const unsigned char* data, uint32_t length)
{
    SendBufferUp("OnTransBuffer", userId, data, length, [&](const std::string& text) {
        if (m_owner)
            m_owner->NotifyTransBuffer(0, static_cast<int>(userId), text);
    });
}

void CCorvaneConnect::OnTransBufferEx(uint32_t userId, const unsigned char* data, uint32_t length, uint32_t wParam,
                                      uint32_t lParam, uint32_t taskId)
{
    SendBufferUp("OnTransBufferEx", userId, data, length, [&](const std::string& text) {
        if (m_owner)
            m_owner->NotifyTransBufferEx(0, static_cast<int>(userId), text, static_cast<int>(wParam),
                                         static_cast<int>(lParam), static_cast<int>(taskId));
    });
}

void CCorvaneConnect::OnCorvaneCoreSDKEvent(uint32_t eventType, const char* json)
{
    const std::string text = json ? json : "";
    if (text.size() <= kPieceSize) {
        if (m_owner)
            m_owner->NotifyCoreSDKEvent(static_cast<int>(eventType), text);
    } else {
        // The browser joins the contents by index, whatever their lengths.
        const std::string uuid = NewGuidText();
        ForEachPiece(text.data(), text.size(), kPieceSize, Utf8Piece,
                     [&](const char* piece, size_t size, int index, bool last) {
                         Json::Value value = Piece(piece, size, index, last);
                         value["spliceflag"] = 1;
                         value["uuid"] = uuid;
                         if (m_owner)
                             m_owner->NotifyCoreSDKEvent(static_cast<int>(eventType), cv::toStyledString(value));
                     });
    }
    ProxyLog(4, "CCorvaneConnect::OnCorvaneCoreSDKEvent: eventType:%d, jsonBuf:%s, %s", eventType, text.c_str(),
             text.c_str());
}
