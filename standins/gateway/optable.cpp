#include "optable.h"

#include "quote_bytes.h"
#include "util/cv_ioutils.h"

#include <cerrno>
#include <cstdlib>

namespace standin {

namespace {

// Order and parameter kinds as declared in rpcCorvaneWebRtcGW.ice.
const OpSig kServed[] = {
    {"connect", "is", 'i'},
    {"login", "isssis", 'i'},
    {"loginEx", "issississs", 'i'},
    {"logout", "i", 'i'},
    {"enterRoom", "iisi", 'i'},
    {"enterRoomEx", "issi", 'i'},
    {"leaveRoom", "ii", 'i'},
    {"userCameraControl", "iib", 'i'},
    {"userSpeakControl", "iib", 'i'},
    {"userCameraControlEx", "iibiis", 'i'},
    {"userSpeakControlEx", "iibiis", 'i'},
    {"consultParam", "iis", 'i'},
    {"webrtcConsult", "is", 'i'},
    {"videoCallControl", "iiiiiis", 'i'},
    {"objectSetValue", "iiiiis", 'i'},
    {"objectGetValue", "iiiii", 'i'},
    {"objectGetIdList", "ii", 'i'},
    {"setSDKOptionString", "iis", 'i'},
    {"setSDKOptionInt", "iii", 'i'},
    {"getSDKOptionString", "ii", 'i'},
    {"getSDKOptionInt", "ii", 'i'},
    {"sdkControl", "iis", 'i'},
    {"queryUserState", "iiii", 'i'},
    {"transBuffer", "iis", 'i'},
    {"transBufferEx", "iisiii", 'i'},
    {"sendTextMessage", "iibs", 'i'},
    {"streamRecordCtrlEx", "iibiis", 'i'},
    {"setUserStreamInfo", "iiiis", 'i'},
    {"getUserStreamInfo", "iiii", 'i'},
    {"getRoomOnlineUsers", "ii", 'i'},
    {"objectControl", "iiiiiiiis", 'i'},
    {"heartBeat", "", 'i'},
    {"setGeneralParam", "iis", 'i'},
    {"userInfoControl", "iiiiis", 'i'},
};

const OpSig kGateway[] = {
    {"initiateQiullgateDelegate", "sip", 'i'},
    {"shutdown", "", 'v'},
    {"replyConnect", "sii", 'i'},
    {"replyLogin", "siii", 'i'},
    {"replyLoginEx", "siii", 'i'},
    {"replyLogout", "sii", 'i'},
    {"replyEnterRoom", "siii", 'i'},
    {"replyEnterRoomEx", "siii", 'i'},
    {"replyLeaveRoom", "sii", 'i'},
    {"replyUserCameraControl", "siii", 'i'},
    {"replyUserSpeakControl", "siii", 'i'},
    {"replyUserCameraControlEx", "siii", 'i'},
    {"replyUserSpeakControlEx", "siii", 'i'},
    {"replyConsultParam", "siiis", 'i'},
    {"replyWebrtcConsult", "siis", 'i'},
    {"replyVideoCallControl", "sii", 'i'},
    {"replyObjectSetValue", "sii", 'i'},
    {"replyObjectGetValue", "siis", 'i'},
    {"replyObjectGetIdList", "siis", 'i'},
    {"replySetSDKOptionString", "sii", 'i'},
    {"replySetSDKOptionInt", "sii", 'i'},
    {"replyGetSDKOptionString", "siiis", 'i'},
    {"replyGetSDKOptionInt", "siiii", 'i'},
    {"replySDKControl", "siis", 'i'},
    {"replyQueryUserState", "siiiis", 'i'},
    {"replyTransBuffer", "sii", 'i'},
    {"replyTransBufferEx", "siii", 'i'},
    {"replySendTextMessage", "sii", 'i'},
    {"replyStreamRecordCtrlEx", "sii", 'i'},
    {"replySetUserStreamInfo", "sii", 'i'},
    {"replyGetUserStreamInfo", "siiiis", 'i'},
    {"replyGetRoomOnlineUsers", "siiis", 'i'},
    {"replyObjectControl", "sii", 'i'},
    {"replyUserInfoControl", "sii", 'i'},
    {"notifyOnlineUser", "siis", 'i'},
    {"notifyUserAtRoom", "siisbii", 'i'},
    {"notifyWebrtcConsult", "sis", 'i'},
    {"notifyKickOut", "si", 'i'},
    {"notifyLinkClose", "si", 'i'},
    {"notifyVideoCallEvent", "siiiiiis", 'i'},
    {"notifyTransBuffer", "siis", 'i'},
    {"notifyTransBufferEx", "siisiii", 'i'},
    {"notifySendTextMessage", "siiibs", 'i'},
    {"notifyStreamRecordEx", "siisiii", 'i'},
    {"notifyCoreSDKEvent", "sis", 'i'},
    {"notifyObjectEvent", "siiiiiiis", 'i'},
    {"notifyCameraStateChange", "sii", 'i'},
    {"notifyVideoSizeChange", "sii", 'i'},
    {"notifyFriendStatus", "sissi", 'i'},
    {"notifyUserInfoUpdate", "sii", 'i'},
    {"notifyAppConfigInfo", "s", 'i'},
    {"notifyMicStateChange", "sii", 'i'},
};

// Reads one quoted string starting at text[pos] == '"'; pos ends after the closing quote.
bool ReadQuoted(const std::string& text, size_t& pos, std::string& out, std::string& err)
{
    ++pos;
    while (pos < text.size()) {
        char c = text[pos++];
        if (c == '"')
            return true;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (pos >= text.size())
            break;
        char e = text[pos++];
        switch (e) {
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        case '"':
            out += '"';
            break;
        case '\\':
            out += '\\';
            break;
        case 'x': {
            int hi = pos < text.size() ? HexDigitValue(text[pos]) : -1;
            int lo = pos + 1 < text.size() ? HexDigitValue(text[pos + 1]) : -1;
            if (hi < 0 || lo < 0) {
                err = "bad \\x escape";
                return false;
            }
            out += static_cast<char>(hi * 16 + lo);
            pos += 2;
            break;
        }
        default:
            err = std::string("unknown escape \\") + e;
            return false;
        }
    }
    err = "unterminated string";
    return false;
}

bool ParseInt(const std::string& tok, Ice::Int& v)
{
    if (tok.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    long long n = std::strtoll(tok.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || n < INT32_MIN || n > UINT32_MAX)
        return false;
    v = static_cast<Ice::Int>(static_cast<uint32_t>(n));  // 0xffffffff reads as -1
    return true;
}

}  // namespace

const OpTable kServedOps = {"::rpcCorvane::rpcCorvaneWebRtcQuillgate", kServed, sizeof(kServed) / sizeof(kServed[0])};
const OpTable kGatewayOps = {"::rpcCorvane::rpcCorvaneWebRtcGw", kGateway, sizeof(kGateway) / sizeof(kGateway[0])};

const OpSig* OpTable::Find(const std::string& name) const
{
    for (size_t k = 0; k < count; ++k) {
        if (name == ops[k].name)
            return &ops[k];
    }
    return nullptr;
}

std::string Quote(const std::string& bytes)
{
    return QuoteBytes(bytes.data(), bytes.size());
}

std::string FormatCall(const std::string& op, const std::vector<Value>& args)
{
    std::string out = op + "(";
    for (size_t k = 0; k < args.size(); ++k) {
        if (k)
            out += ", ";
        const Value& v = args[k];
        switch (v.kind) {
        case 'i':
            out += std::to_string(v.i);
            break;
        case 'b':
            out += v.b ? "true" : "false";
            break;
        case 'p':
            out += v.s.empty() ? "null" : Quote(v.s);
            break;
        default:
            out += Quote(v.s);
            break;
        }
    }
    return out + ")";
}

bool ParseArgs(const std::string& text, const OpSig& sig, std::vector<Value>& out, std::string& err)
{
    out.clear();
    size_t pos = 0;
    for (const char* kind = sig.params;; ++kind) {
        while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t' || text[pos] == ','))
            ++pos;
        if (*kind == '\0') {
            if (pos < text.size()) {
                err = std::string(sig.name) + " takes " + std::to_string(out.size()) + " arguments";
                return false;
            }
            return true;
        }
        if (pos >= text.size()) {
            err = std::string(sig.name) + " needs " + std::to_string(std::string(sig.params).size()) + " arguments";
            return false;
        }
        Value v;
        v.kind = *kind;
        if (*kind == 's' || *kind == 'p') {
            if (text[pos] != '"') {
                err = "argument " + std::to_string(out.size() + 1) + " must be a quoted string";
                return false;
            }
            if (!ReadQuoted(text, pos, v.s, err))
                return false;
        } else {
            size_t end = text.find_first_of(" \t,", pos);
            std::string tok = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
            pos = end == std::string::npos ? text.size() : end;
            bool ok = true;
            if (*kind == 'b') {
                ok = tok == "true" || tok == "false" || tok == "1" || tok == "0";
                v.b = tok == "true" || tok == "1";
            } else {
                ok = ParseInt(tok, v.i);
            }
            if (!ok) {
                err = "argument " + std::to_string(out.size() + 1) + ": bad " + (*kind == 'b' ? "bool" : "int") + " '" +
                      tok + "'";
                return false;
            }
        }
        out.push_back(v);
    }
}

std::vector<Ice::Byte> EncodeArgs(const Ice::CommunicatorPtr& com, const std::vector<Value>& args)
{
    Ice::OutputStream out(com);
    out.startEncapsulation();
    for (const Value& v : args) {
        switch (v.kind) {
        case 'i':
            out.write(v.i);
            break;
        case 'b':
            out.write(v.b);
            break;
        case 'p':
            out.write(v.s.empty() ? Ice::ObjectPrx() : com->stringToProxy(v.s));
            break;
        default:
            out.write(v.s, false);
            break;
        }
    }
    out.endEncapsulation();
    std::vector<Ice::Byte> bytes;
    out.finished(bytes);
    return bytes;
}

std::vector<Value> DecodeArgs(const Ice::CommunicatorPtr& com, const Ice::EncodingVersion& enc, const OpSig& sig,
                              const std::vector<Ice::Byte>& bytes)
{
    Ice::InputStream in(com, enc, bytes);
    std::vector<Value> args;
    in.startEncapsulation();
    for (const char* kind = sig.params; *kind; ++kind) {
        Value v;
        v.kind = *kind;
        switch (*kind) {
        case 'i':
            in.read(v.i);
            break;
        case 'b':
            in.read(v.b);
            break;
        case 'p': {
            Ice::ObjectPrx p;
            in.read(p);
            if (p)
                v.s = com->proxyToString(p);
            break;
        }
        default:
            in.read(v.s, false);
            break;
        }
        args.push_back(v);
    }
    in.endEncapsulation();
    return args;
}

}  // namespace standin
