#include "util/json_utils.h"

#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>

#include <json/json.h>

#include "util/json_writer.h"

namespace {

// The reader gives up on nesting deeper than this many levels.
const int kReadableDepth = 999;

// Empties the containers at the readable depth, so the text of what a
// reader built before giving up on depth reads again.
void cutToReadableDepth(Json::Value& value, int depth)
{
    if (!value.isArray() && !value.isObject())
        return;
    if (depth >= kReadableDepth) {
        value = Json::Value(value.type());
        return;
    }
    for (Json::Value& child : value)
        cutToReadableDepth(child, depth + 1);
}

// Parses [begin, end) with comments kept. The reader's verdict is not
// consulted: whatever it built before an error or an exception (such as too
// deep nesting, then cut to a depth it reads) stays in root.
void parseText(const char* begin, const char* end, Json::Value& root)
{
    if (begin == nullptr || begin == end || *begin == '\0')
        return;
    try {
        Json::Reader reader;
        reader.parse(begin, end, root, true);
    } catch (const std::exception&) {
        cutToReadableDepth(root, 1);
    }
}

// The root object's member named key (up to its first NUL), or null when
// the document holds nothing or no such member.
const Json::Value* findMember(const Json::Value& root, const char* key)
{
    if (key == nullptr || !root.isObject() || root.empty())
        return nullptr;
    return root.find(key, key + std::strlen(key));
}

int toInt32(const char* text)
{
    const long value = std::strtol(text, nullptr, 10);
    return static_cast<int>(static_cast<unsigned int>(static_cast<unsigned long>(value)));
}

// Reads one member into out; false when it is missing or of another kind.
bool readInt(const Json::Value* member, int& out)
{
    if (member == nullptr)
        return false;
    if (member->isInt()) {
        out = member->asInt();
        return true;
    }
    if (member->isString()) {
        out = toInt32(member->asCString());
        return true;
    }
    return false;
}

// The member's text as handed out: a string up to its first NUL byte, an
// object as compact JSON text. False for other kinds.
bool readText(const Json::Value* member, std::string& out)
{
    if (member == nullptr)
        return false;
    if (member->isString()) {
        out = member->asCString();
        return true;
    }
    if (member->isObject()) {
        out = cv::toStyledString(*member);
        return true;
    }
    return false;
}

}  // namespace

void CJsonUtils::GetStrValue(char* json, const char* key, char* out, unsigned int size)
{
    if (json == nullptr || out == nullptr || size == 0)
        return;
    try {
        Json::Value root;
        parseText(json, json + std::strlen(json), root);
        std::string text;
        if (!readText(findMember(root, key), text))
            return;
        const size_t n = text.size() < size - 1 ? text.size() : size - 1;
        std::memcpy(out, text.data(), n);
        out[n] = '\0';
        out[size - 1] = '\0';
    } catch (const std::exception&) {
    }
}

void CJsonUtils::GetIntValue(char* json, const char* key, unsigned int& out)
{
    if (json == nullptr)
        return;
    try {
        Json::Value root;
        parseText(json, json + std::strlen(json), root);
        int value = 0;
        if (readInt(findMember(root, key), value))
            out = static_cast<unsigned int>(value);
    } catch (const std::exception&) {
    }
}

int CJsonTools::GetStringValue(const std::string& json, const std::string& key, std::string& out)
{
    if (json.empty() || key.empty())
        return -1;
    try {
        Json::Value root;
        parseText(json.data(), json.data() + json.size(), root);
        std::string text;
        readText(findMember(root, key.c_str()), text);
        out.swap(text);
        return 0;
    } catch (const std::bad_alloc&) {
        return -1;
    } catch (const std::exception&) {
        out.clear();
        return 0;
    }
}

int CJsonTools::GetIntValue(const std::string& json, const std::string& key, int& out)
{
    if (json.empty() || key.empty())
        return -1;
    try {
        Json::Value root;
        parseText(json.data(), json.data() + json.size(), root);
        readInt(findMember(root, key.c_str()), out);
    } catch (const std::exception&) {
    }
    return 0;
}

int CJsonTools::GetDoubleValue(const std::string& json, const std::string& key, double& out)
{
    if (json.empty() || key.empty())
        return -1;
    try {
        Json::Value root;
        parseText(json.data(), json.data() + json.size(), root);
        const Json::Value* member = findMember(root, key.c_str());
        if (member == nullptr)
            return 0;
        if (member->isDouble())
            out = member->asDouble();
        else if (member->isString())
            out = std::strtod(member->asCString(), nullptr);
    } catch (const std::exception&) {
    }
    return 0;
}

int CJsonTools::RemoveKey(const std::string& json, const std::string& key, std::string& out)
{
    if (json.empty() || key.empty())
        return -1;
    try {
        Json::Value root;
        parseText(json.data(), json.data() + json.size(), root);
        if (!root.isObject() || !root.isMember(key.c_str()))
            return 0;
        root.removeMember(key.c_str());
        out = cv::toStyledString(root);
    } catch (const std::exception&) {
    }
    return 0;
}
