// The system's JSON text writers. Every JSON text the system produces comes
// from cv::toStyledString: compact, no whitespace between tokens, members in
// ascending byte order of their names, bytes of 0x80 and above unchanged.
#ifndef QG_UTIL_JSON_WRITER_H
#define QG_UTIL_JSON_WRITER_H

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include <json/json.h>

namespace cv {

std::string valueToString(Json::Int64 value);
std::string valueToString(Json::UInt64 value);
std::string valueToString(double value);
std::string valueToString(bool value);

// Quoted and escaped text of length bytes (NUL bytes included).
std::string valueToQuotedString(const char* value, size_t length);
// Quoted and escaped text of a NUL-terminated string.
std::string valueToQuotedString(const char* value);

// Compact writer. Holds only the text under construction; write() starts
// afresh each call, so one object may serve any number of values. Of a
// value's comments only complete "//" lines and "/*...*/" blocks are
// written, so the text always reads again.
class StyledWriter
{
public:
    std::string write(const Json::Value& root);

private:
    void writeValue(const Json::Value& value);
    void writeArrayValue(const Json::Value& value);
    void writeObjectValue(const Json::Value& value);
    void writeCommentBeforeValue(const Json::Value& value);
    void writeCommentAfterValueOnSameLine(const Json::Value& value);
    void writeComment(const std::string& comment);

    std::string document_;
};

// Indented, multi-line writer to a stream; final "\n" after the root.
class StyledStreamWriter
{
public:
    explicit StyledStreamWriter(std::string indentation = "\t");
    void write(std::ostream& out, const Json::Value& root);

private:
    void writeValue(const Json::Value& value);
    void writeArrayValue(const Json::Value& value);
    bool isMultilineArray(const Json::Value& value);
    void pushValue(const std::string& value);
    void writeIndent();
    void writeWithIndent(const std::string& value);
    void indent();
    void unindent();
    void writeCommentBeforeValue(const Json::Value& root);
    void writeCommentAfterValueOnSameLine(const Json::Value& root);
    static bool hasCommentForValue(const Json::Value& value);

    std::vector<std::string> childValues_;
    std::ostream* document_ = nullptr;
    std::string indentString_;
    unsigned rightMargin_ = 74;
    std::string indentation_;
    bool addChildValues_ = false;
    bool indented_ = false;
};

// The compact JSON text of value.
std::string toStyledString(const Json::Value& value);

}  // namespace cv

#endif
