#include "util/json_writer.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace cv {

namespace {

// Escape of each byte: 0 passes unchanged, 'u' is a \u00XX escape, any other
// value is the letter after the backslash. extra is the bytes it adds.
struct EscapeTable {
    char code[256];
    unsigned char extra[256];
    EscapeTable()
    {
        std::memset(code, 0, sizeof code);
        for (int c = 0; c < 0x20; ++c)
            code[c] = 'u';
        code[static_cast<unsigned char>('"')] = '"';
        code[static_cast<unsigned char>('\\')] = '\\';
        code[0x08] = 'b';
        code[0x0C] = 'f';
        code[0x0A] = 'n';
        code[0x0D] = 'r';
        code[0x09] = 't';
        for (int c = 0; c < 256; ++c)
            extra[c] = code[c] == 0 ? 0 : code[c] == 'u' ? 5 : 1;
    }
};
const EscapeTable kEscapes;

// Appends the quoted text: one pass to size it, one to fill it in place.
void appendQuoted(std::string& out, const char* text, size_t length)
{
    static const char kHex[] = "0123456789ABCDEF";
    const unsigned char* src = reinterpret_cast<const unsigned char*>(text);
    size_t escaped = length;
    for (size_t i = 0; i < length; ++i)
        escaped += kEscapes.extra[src[i]];

    if (escaped == length) {
        out.push_back('"');
        out.append(text, length);
        out.push_back('"');
        return;
    }
    const size_t start = out.size();
    out.resize(start + escaped + 2);
    char* dst = &out[start];
    *dst++ = '"';
    for (size_t i = 0; i < length; ++i) {
        const unsigned char byte = src[i];
        const char code = kEscapes.code[byte];
        if (code == 0) {
            *dst++ = static_cast<char>(byte);
        } else if (code == 'u') {
            dst[0] = '\\';
            dst[1] = 'u';
            dst[2] = '0';
            dst[3] = '0';
            dst[4] = kHex[byte >> 4];
            dst[5] = kHex[byte & 0x0F];
            dst += 6;
        } else {
            dst[0] = '\\';
            dst[1] = code;
            dst += 2;
        }
    }
    *dst = '"';
}

void appendUInt(std::string& out, Json::UInt64 value)
{
    char buffer[24];
    char* p = buffer + sizeof buffer;
    do {
        *--p = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    out.append(p, buffer + sizeof buffer - p);
}

void appendInt(std::string& out, Json::Int64 value)
{
    if (value < 0) {
        out.push_back('-');
        // Negate in unsigned arithmetic so the smallest value survives.
        appendUInt(out, ~static_cast<Json::UInt64>(value) + 1);
    } else {
        appendUInt(out, static_cast<Json::UInt64>(value));
    }
}

void appendReal(std::string& out, double value)
{
    if (std::isnan(value)) {
        out.append("null", 4);
        return;
    }
    if (std::isinf(value)) {
        if (value < 0)
            out.append("-1e+9999", 8);
        else
            out.append("1e+9999", 7);
        return;
    }
    // Same text as printf "%.17g", but never with a locale's decimal comma.
    char buffer[40];
    const std::to_chars_result r = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 17);
    out.append(buffer, r.ptr - buffer);
}

void appendBool(std::string& out, bool value)
{
    if (value)
        out.append("true", 4);
    else
        out.append("false", 5);
}

// A member's name, which counts up to its first NUL byte.
const char* memberName(const Json::Value::const_iterator& it, size_t& length)
{
    const char* end = nullptr;
    const char* name = it.memberName(&end);
    const void* nul = std::memchr(name, '\0', end - name);
    length = nul ? static_cast<const char*>(nul) - name : end - name;
    return name;
}

// Text of a value that is neither an array nor an object.
void appendScalar(std::string& out, const Json::Value& value)
{
    switch (value.type()) {
    case Json::intValue:
        appendInt(out, value.asLargestInt());
        break;
    case Json::uintValue:
        appendUInt(out, value.asLargestUInt());
        break;
    case Json::realValue:
        appendReal(out, value.asDouble());
        break;
    case Json::booleanValue:
        appendBool(out, value.asBool());
        break;
    case Json::stringValue: {
        const char* begin = nullptr;
        const char* end = nullptr;
        if (value.getString(&begin, &end))
            appendQuoted(out, begin, end - begin);
        else
            out.append("\"\"", 2);
        break;
    }
    default:
        out.append("null", 4);
        break;
    }
}

// Appends the complete comments of a comment text: "//" up to and with its
// line end (one is added where the text ends first), "/*" up to and with
// the first "*/" after it. Anything else, an unclosed block such as "/*/"
// included, is left out, as is a comment holding a NUL byte, so what
// follows a comment is never swallowed and the text always parses.
void appendComments(std::string& out, const std::string& text)
{
    const size_t n = text.size();
    size_t i = 0;
    while (i + 1 < n) {
        if (text[i] != '/' || (text[i + 1] != '/' && text[i + 1] != '*')) {
            ++i;
            continue;
        }
        size_t end = 0;
        bool addLineEnd = false;
        if (text[i + 1] == '/') {
            end = text.find_first_of("\r\n", i + 2);
            addLineEnd = end == std::string::npos;
            end = addLineEnd ? n : end + 1;
        } else {
            end = text.find("*/", i + 2);
            if (end == std::string::npos)
                return;
            end += 2;
        }
        if (std::memchr(text.data() + i, '\0', end - i) == nullptr) {
            out.append(text, i, end - i);
            if (addLineEnd)
                out.push_back('\n');
        }
        i = end;
    }
}

}  // namespace

std::string valueToString(Json::Int64 value)
{
    std::string out;
    appendInt(out, value);
    return out;
}

std::string valueToString(Json::UInt64 value)
{
    std::string out;
    appendUInt(out, value);
    return out;
}

std::string valueToString(double value)
{
    std::string out;
    appendReal(out, value);
    return out;
}

std::string valueToString(bool value)
{
    std::string out;
    appendBool(out, value);
    return out;
}

std::string valueToQuotedString(const char* value, size_t length)
{
    std::string out;
    out.reserve(length + 2);
    appendQuoted(out, value, length);
    return out;
}

std::string valueToQuotedString(const char* value)
{
    return valueToQuotedString(value, value ? std::strlen(value) : 0);
}

// ---------------------------------------------------------------------------
// StyledWriter

std::string StyledWriter::write(const Json::Value& root)
{
    document_.clear();
    document_.reserve(256);
    writeCommentBeforeValue(root);
    writeValue(root);
    writeCommentAfterValueOnSameLine(root);
    std::string out;
    out.swap(document_);
    return out;
}

void StyledWriter::writeValue(const Json::Value& value)
{
    switch (value.type()) {
    case Json::arrayValue:
        writeArrayValue(value);
        break;
    case Json::objectValue:
        writeObjectValue(value);
        break;
    default:
        appendScalar(document_, value);
        break;
    }
}

void StyledWriter::writeArrayValue(const Json::Value& value)
{
    document_.push_back('[');
    const Json::Value::const_iterator end = value.end();
    for (Json::Value::const_iterator it = value.begin(); it != end;) {
        const Json::Value& child = *it;
        writeCommentBeforeValue(child);
        writeValue(child);
        if (++it != end)
            document_.push_back(',');
        writeCommentAfterValueOnSameLine(child);
    }
    document_.push_back(']');
}

void StyledWriter::writeObjectValue(const Json::Value& value)
{
    document_.push_back('{');
    const Json::Value::const_iterator end = value.end();
    for (Json::Value::const_iterator it = value.begin(); it != end;) {
        const Json::Value& child = *it;
        size_t nameLength = 0;
        const char* name = memberName(it, nameLength);
        writeCommentBeforeValue(child);
        appendQuoted(document_, name, nameLength);
        document_.push_back(':');
        writeValue(child);
        if (++it != end)
            document_.push_back(',');
        writeCommentAfterValueOnSameLine(child);
    }
    document_.push_back('}');
}

void StyledWriter::writeComment(const std::string& comment)
{
    appendComments(document_, comment);
}

void StyledWriter::writeCommentBeforeValue(const Json::Value& value)
{
    if (value.hasComment(Json::commentBefore))
        writeComment(value.getComment(Json::commentBefore));
}

void StyledWriter::writeCommentAfterValueOnSameLine(const Json::Value& value)
{
    if (value.hasComment(Json::commentAfterOnSameLine))
        writeComment(value.getComment(Json::commentAfterOnSameLine));
    if (value.hasComment(Json::commentAfter))
        writeComment(value.getComment(Json::commentAfter));
}

std::string toStyledString(const Json::Value& value)
{
    StyledWriter writer;
    return writer.write(value);
}

// ---------------------------------------------------------------------------
// StyledStreamWriter

StyledStreamWriter::StyledStreamWriter(std::string indentation) : indentation_(std::move(indentation))
{}

void StyledStreamWriter::write(std::ostream& out, const Json::Value& root)
{
    document_ = &out;
    addChildValues_ = false;
    childValues_.clear();
    indentString_.clear();
    indented_ = true;
    writeCommentBeforeValue(root);
    if (!indented_)
        writeIndent();
    indented_ = true;
    writeValue(root);
    writeCommentAfterValueOnSameLine(root);
    *document_ << "\n";
    document_ = nullptr;
}

void StyledStreamWriter::writeValue(const Json::Value& value)
{
    switch (value.type()) {
    case Json::arrayValue:
        writeArrayValue(value);
        break;
    case Json::objectValue: {
        if (value.empty()) {
            pushValue("{}");
            break;
        }
        writeWithIndent("{");
        indent();
        const Json::Value::const_iterator end = value.end();
        for (Json::Value::const_iterator it = value.begin(); it != end;) {
            const Json::Value& child = *it;
            size_t nameLength = 0;
            const char* name = memberName(it, nameLength);
            writeCommentBeforeValue(child);
            writeWithIndent(valueToQuotedString(name, nameLength));
            *document_ << ":";
            writeValue(child);
            if (++it != end)
                *document_ << ",";
            writeCommentAfterValueOnSameLine(child);
        }
        unindent();
        writeWithIndent("}");
        break;
    }
    default: {
        std::string text;
        appendScalar(text, value);
        pushValue(text);
        break;
    }
    }
}

void StyledStreamWriter::writeArrayValue(const Json::Value& value)
{
    const Json::ArrayIndex size = value.size();
    if (size == 0) {
        pushValue("[]");
        return;
    }
    if (!isMultilineArray(value)) {
        *document_ << "[ ";
        for (Json::ArrayIndex i = 0; i < size; ++i) {
            if (i > 0)
                *document_ << ", ";
            *document_ << childValues_[i];
        }
        *document_ << " ]";
        return;
    }
    writeWithIndent("[");
    indent();
    for (Json::ArrayIndex i = 0; i < size; ++i) {
        const Json::Value& child = value[i];
        writeCommentBeforeValue(child);
        if (!indented_)
            writeIndent();
        indented_ = true;
        writeValue(child);
        indented_ = false;
        if (i + 1 < size)
            *document_ << ",";
        writeCommentAfterValueOnSameLine(child);
    }
    unindent();
    writeWithIndent("]");
}

bool StyledStreamWriter::isMultilineArray(const Json::Value& value)
{
    const Json::ArrayIndex size = value.size();
    bool multiLine = size * 3 >= rightMargin_;
    childValues_.clear();
    for (Json::ArrayIndex i = 0; i < size && !multiLine; ++i) {
        const Json::Value& child = value[i];
        multiLine = (child.isArray() || child.isObject()) && !child.empty();
    }
    if (multiLine)
        return true;
    // Render the elements to measure the one-line form.
    childValues_.reserve(size);
    addChildValues_ = true;
    Json::ArrayIndex lineLength = 4 + (size - 1) * 2;  // "[ " + ", " * (n - 1) + " ]"
    for (Json::ArrayIndex i = 0; i < size; ++i) {
        if (hasCommentForValue(value[i]))
            multiLine = true;
        writeValue(value[i]);
        lineLength += static_cast<Json::ArrayIndex>(childValues_[i].length());
    }
    addChildValues_ = false;
    return multiLine || lineLength >= rightMargin_;
}

void StyledStreamWriter::pushValue(const std::string& value)
{
    if (addChildValues_)
        childValues_.push_back(value);
    else
        *document_ << value;
}

void StyledStreamWriter::writeIndent()
{
    *document_ << '\n' << indentString_;
}

void StyledStreamWriter::writeWithIndent(const std::string& value)
{
    if (!indented_)
        writeIndent();
    *document_ << value;
    indented_ = false;
}

void StyledStreamWriter::indent()
{
    indentString_ += indentation_;
}

void StyledStreamWriter::unindent()
{
    indentString_.resize(indentString_.size() - indentation_.size());
}

void StyledStreamWriter::writeCommentBeforeValue(const Json::Value& root)
{
    if (!root.hasComment(Json::commentBefore))
        return;
    if (!indented_)
        writeIndent();
    const std::string comment = root.getComment(Json::commentBefore);
    for (size_t i = 0; i < comment.size(); ++i) {
        *document_ << comment[i];
        if (comment[i] == '\n' && i + 1 < comment.size() && comment[i + 1] == '/')
            *document_ << indentString_;
    }
    indented_ = false;
}

void StyledStreamWriter::writeCommentAfterValueOnSameLine(const Json::Value& root)
{
    if (root.hasComment(Json::commentAfterOnSameLine))
        *document_ << ' ' << root.getComment(Json::commentAfterOnSameLine);
    if (root.hasComment(Json::commentAfter)) {
        writeIndent();
        *document_ << root.getComment(Json::commentAfter);
    }
    indented_ = false;
}

bool StyledStreamWriter::hasCommentForValue(const Json::Value& value)
{
    return value.hasComment(Json::commentBefore) || value.hasComment(Json::commentAfterOnSameLine) ||
           value.hasComment(Json::commentAfter);
}

}  // namespace cv
