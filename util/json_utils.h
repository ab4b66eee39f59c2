// Read or remove one top-level member of a JSON text without keeping a
// document. Each call parses the whole text; members that precede a syntax
// error still count, and nothing here throws.
#ifndef QG_UTIL_JSON_UTILS_H
#define QG_UTIL_JSON_UTILS_H

#include <string>

// NUL-terminated texts and fixed buffers. Outputs are written only when the
// member is found with a usable kind; callers preset them.
class CJsonUtils
{
public:
    // A string member (cut to size - 1 bytes, terminated) or an object
    // member as compact JSON text. size 0 writes nothing.
    static void GetStrValue(char* json, const char* key, char* out, unsigned int size);
    // An int member, or a string member read with strtol base 10.
    static void GetIntValue(char* json, const char* key, unsigned int& out);
};

// std::string texts. Every operation returns -1 for an empty json or key,
// otherwise 0.
class CJsonTools
{
public:
    virtual ~CJsonTools() {}

    // out becomes the string member's text (up to a NUL byte), the object
    // member's compact JSON text, or empty when there is no such member.
    static int GetStringValue(const std::string& json, const std::string& key, std::string& out);
    // An int member, or a string member read with strtol base 10; out is
    // left alone otherwise.
    static int GetIntValue(const std::string& json, const std::string& key, int& out);
    // Any number member, or a string member read with strtod; out is left
    // alone otherwise.
    static int GetDoubleValue(const std::string& json, const std::string& key, double& out);
    // When the root object holds key: out becomes the compact JSON text of
    // the root without it. Otherwise out is left alone.
    static int RemoveKey(const std::string& json, const std::string& key, std::string& out);
};

#endif
