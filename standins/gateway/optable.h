// Signatures of both gateway RPC interfaces, so the stand-in can make and
// serve any operation through Ice's dynamic invocation without 86 copies.
#pragma once

#include <Ice/Ice.h>

#include <cstddef>
#include <string>
#include <vector>

namespace standin {

// Parameter kinds: 'i' int, 'b' bool, 's' string, 'p' proxy.
// Result kinds: 'i' int, 'v' nothing.
struct OpSig {
    const char* name;
    const char* params;
    char result;
};

struct OpTable {
    const char* typeId;
    const OpSig* ops;
    size_t count;
    const OpSig* Find(const std::string& name) const;
};

extern const OpTable kServedOps;   // ::rpcCorvane::rpcCorvaneWebRtcQuillgate
extern const OpTable kGatewayOps;  // ::rpcCorvane::rpcCorvaneWebRtcGw

struct Value {
    char kind = 'i';
    Ice::Int i = 0;
    bool b = false;
    std::string s;  // string value, or the proxy's text
};

// Quotes a byte string: bytes below 0x20, '"' and '\\' escaped, others as they are.
std::string Quote(const std::string& bytes);

// Renders "op(arg, arg, ...)".
std::string FormatCall(const std::string& op, const std::vector<Value>& args);

// Parses script arguments (ints, true/false, quoted strings with the escapes
// Quote writes plus \xHH) and checks them against the signature.
bool ParseArgs(const std::string& text, const OpSig& sig, std::vector<Value>& out, std::string& err);

// Encodes the in-parameters as one encapsulation.
std::vector<Ice::Byte> EncodeArgs(const Ice::CommunicatorPtr& com, const std::vector<Value>& args);

// Decodes the in-parameters of a request; throws Ice's unmarshalling errors.
std::vector<Value> DecodeArgs(const Ice::CommunicatorPtr& com, const Ice::EncodingVersion& enc, const OpSig& sig,
                              const std::vector<Ice::Byte>& bytes);

}  // namespace standin
