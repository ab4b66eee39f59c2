// The client SDK's class for the parent-server protocol: it builds and
// decodes the small binary packs a server process trades with its parent
// over UDP. A send builds a pack and hands it to SendPacket; a received
// datagram goes to OnReceiveData, which calls the matching hook on the
// caller's thread. What the service bridge relies on of it is declared
// here.
//
// Packs, little-endian: a 7-byte head C7 01 <type> <u32 total length>, then
//   4 system command   u16 cmd @7, i32 param1-4 @9/13/17/21, u16 text length n @25,
//                      text @27, NUL @27+n: 28+n bytes
//   3 link time check  u16 0 @7, u32 @9/13/17: 21 bytes
//   1 connect request  u32 @7/11/15: 19 bytes
//   2 connect result   i32 @7/11/15/19, u16 text length n @23, text @25, NUL @25+n: 26+n bytes
#ifndef QG_SDKLINK_PROTOCOL_BASE_H
#define QG_SDKLINK_PROTOCOL_BASE_H

#include <stdint.h>

#ifndef CVAPI_EXPORT
#define CVAPI_EXPORT __attribute__((visibility("default")))
#endif

enum {
    CV_PACK_MARK0 = 0xC7,
    CV_PACK_MARK1 = 0x01,
    CV_PACK_HEAD_SIZE = 7,
};

// Pack types of the protocol.
enum {
    CV_PACK_CONNECT_REQUEST = 1,
    CV_PACK_CONNECT_RESULT = 2,
    CV_PACK_LINK_TIME_CHECK = 3,
    CV_PACK_SYSTEM_COMMAND = 4,
};

class CVAPI_EXPORT CProtocolBase
{
public:
    CProtocolBase();
    virtual ~CProtocolBase();

    // Decodes one datagram from (ip, port), host order, and calls the hook
    // of its pack; packs that do not fit the datagram reach no hook.
    int OnReceiveData(const char* data, uint32_t length, uint32_t ip, uint32_t port, uint32_t flags1, uint32_t flags2,
                      uint32_t flags3);

    // A system command; textLength 0 takes strlen of a non-null text. An
    // address and port of 0 leave the choice to SendPacket.
    int SendSYSTExCmdPack(uint16_t cmd, int32_t param1, int32_t param2, int32_t param3, int32_t param4,
                          const char* text, uint16_t textLength, uint32_t ip, uint16_t port);
    int SendSysLinkTimeCheckPack(uint32_t value1, uint32_t value2, uint32_t value3, uint32_t ip, uint16_t port);
    int SendConnectResultPack(int32_t result1, int32_t result2, int32_t result3, int32_t result4, const char* text,
                              uint32_t ip, uint16_t port);

protected:
    // The hooks, called by the sends and by OnReceiveData; the packs handed
    // to them are whole, head included, and valid during the call. A connect
    // request reaches OnConnectRequest, a connect result OnConnected (first
    // result 0) or ResetLink, a link time check OnLinkTimeCheck and a system
    // command OnSysExCmd.
    virtual int SendPacket(const char* data, uint32_t length, uint32_t ip, uint16_t port);
    virtual void ResetLink();
    virtual int OnConnectRequest(uint32_t value1, uint32_t value2, uint32_t value3, uint32_t ip, uint16_t port);
    virtual void OnConnected();
    virtual void OnLinkTimeCheck(const char* pack, uint32_t ip, uint16_t port);
    virtual void OnSysExCmd(const char* pack, uint32_t ip, uint32_t port);

private:
    CProtocolBase(const CProtocolBase&) = delete;
    CProtocolBase& operator=(const CProtocolBase&) = delete;
};

#endif
