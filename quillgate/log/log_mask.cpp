#include "quillgate/log/log_mask.h"

#include <algorithm>
#include <cctype>
#include <exception>

#include <json/json.h>

#include "quillgate/log/proxy_log.h"
#include "util/json_writer.h"

const char kMaskedPassword[] = "***";

namespace {

bool NamesPassword(std::string name)
{
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return name.find("pass") != std::string::npos || name.find("pwd") != std::string::npos;
}

// Masks in place; true when some member was masked.
bool MaskValue(Json::Value& value)
{
    bool masked = false;
    if (value.isObject()) {
        for (const std::string& name : value.getMemberNames()) {
            Json::Value& member = value[name];
            if (NamesPassword(name) && !member.isObject() && !member.isArray()) {
                member = kMaskedPassword;
                masked = true;
            } else {
                masked = MaskValue(member) || masked;
            }
        }
    } else if (value.isArray()) {
        for (Json::Value& item : value)
            masked = MaskValue(item) || masked;
    }
    return masked;
}

}  // namespace

std::string MaskPasswordMembers(const std::string& text)
{
    if (text.find('{') == std::string::npos)
        return text;
    try {
        Json::Value root;
        Json::Reader reader;
        if (!reader.parse(text, root, false) || !root.isObject() || !MaskValue(root))
            return text;
        return cv::toStyledString(root);
    } catch (const std::exception&) {
        // A text the reader cannot take is no JSON parameter text; but it
        // may still carry a password, so it is not shown at all.
        return kMaskedPassword;
    }
}

std::string LoggedText(uint32_t level, const std::string& text)
{
    return ProxyLogEnabled(level) ? MaskPasswordMembers(text) : std::string();
}
