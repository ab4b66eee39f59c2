// Every JSON text of the system must come from cv::toStyledString: jsoncpp's
// own writers indent, end with a newline or escape bytes of 0x80 and above.
// This scans the sources for output through jsoncpp.
#include <dirent.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

// The text with comments and string and character literals blanked out, so
// that only code is searched; line breaks are kept for line numbers.
std::string codeOnly(const std::string& text)
{
    std::string out(text);
    enum { kCode, kLine, kBlock, kString, kChar } state = kCode;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const char next = i + 1 < text.size() ? text[i + 1] : '\0';
        switch (state) {
        case kCode:
            if (c == '/' && next == '/')
                state = kLine;
            else if (c == '/' && next == '*')
                state = kBlock;
            else if (c == '"')
                state = kString;
            else if (c == '\'')
                state = kChar;
            else
                continue;
            out[i] = ' ';
            break;
        case kLine:
            if (c == '\n')
                state = kCode;
            else
                out[i] = ' ';
            break;
        case kBlock:
            if (c == '*' && next == '/') {
                out[i] = out[i + 1] = ' ';
                ++i;
                state = kCode;
            } else if (c != '\n') {
                out[i] = ' ';
            }
            break;
        case kString:
        case kChar:
            if (c == '\\' && i + 1 < text.size()) {
                out[i] = ' ';
                if (next != '\n')
                    out[i + 1] = ' ';
                ++i;
            } else if (c == (state == kString ? '"' : '\'')) {
                out[i] = ' ';
                state = kCode;
            } else if (c != '\n') {
                out[i] = ' ';
            }
            break;
        }
    }
    return out;
}

bool isIdent(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Uses of jsoncpp for output in one source text, as "line: what" entries.
std::vector<std::string> jsoncppOutputs(const std::string& source)
{
    static const char* const kWriters[] = {"StyledWriter",        "StyledStreamWriter", "FastWriter",
                                           "StreamWriterBuilder", "StreamWriter",       "writeString"};
    const std::string code = codeOnly(source);
    std::vector<std::string> found;
    std::istringstream lines(code);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        // A member call: value.toStyledString() or value->toStyledString().
        for (size_t at = line.find("toStyledString"); at != std::string::npos;
             at = line.find("toStyledString", at + 1)) {
            size_t before = at;
            while (before > 0 && (line[before - 1] == ' ' || line[before - 1] == '\t'))
                --before;
            const bool member = (before >= 1 && line[before - 1] == '.') ||
                                (before >= 2 && line[before - 2] == '-' && line[before - 1] == '>');
            if (member)
                found.push_back(std::to_string(number) + ": member toStyledString()");
        }
        // jsoncpp's writer classes and functions, named through Json::.
        for (size_t at = line.find("Json"); at != std::string::npos; at = line.find("Json", at + 1)) {
            if (at > 0 && isIdent(line[at - 1]))
                continue;
            size_t p = at + 4;
            while (p < line.size() && line[p] == ' ')
                ++p;
            if (line.compare(p, 2, "::") != 0)
                continue;
            p += 2;
            while (p < line.size() && line[p] == ' ')
                ++p;
            size_t end = p;
            while (end < line.size() && isIdent(line[end]))
                ++end;
            const std::string name = line.substr(p, end - p);
            for (const char* writer : kWriters)
                if (name == writer)
                    found.push_back(std::to_string(number) + ": Json::" + name);
        }
    }
    return found;
}

bool isSource(const std::string& name)
{
    static const char* const kSuffixes[] = {".cpp", ".cc", ".cxx", ".h", ".hpp", ".hh", ".inl"};
    for (const char* suffix : kSuffixes) {
        const std::string s(suffix);
        if (name.size() > s.size() && name.compare(name.size() - s.size(), s.size(), s) == 0)
            return true;
    }
    return false;
}

void collectSources(const std::string& dir, std::vector<std::string>& files, int depth = 0)
{
    if (depth > 16)
        return;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr)
        return;
    while (dirent* entry = readdir(d)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        const std::string path = dir + "/" + name;
        struct stat st;
        if (lstat(path.c_str(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode))
            collectSources(path, files, depth + 1);
        else if (S_ISREG(st.st_mode) && isSource(name))
            files.push_back(path);
    }
    closedir(d);
}

TEST(NoJsoncppWriter, DetectorFindsEachForm)
{
    const std::string sample = "std::string a = v.toStyledString();\n"
                               "std::string b = p -> toStyledString();\n"
                               "Json::FastWriter w;\n"
                               "Json::StreamWriterBuilder builder;\n"
                               "auto s = Json :: writeString(builder, v);\n"
                               "Json::StyledWriter sw;\n";
    EXPECT_EQ(jsoncppOutputs(sample).size(), 6u);

    const std::string allowed = "std::string a = cv::toStyledString(v);\n"
                                "cv::StyledWriter w; Json::Reader r; Json::Value v;\n"
                                "// v.toStyledString() and Json::FastWriter are named in a comment only\n"
                                "/* Json::StyledWriter */ const char* t = \"x.toStyledString()\";\n"
                                "MyJson::StreamWriter other;\n";
    EXPECT_TRUE(jsoncppOutputs(allowed).empty());
}

TEST(NoJsoncppWriter, SourcesUseOnlyTheSystemWriter)
{
    const std::string top = QG_SOURCE_DIR;
    std::vector<std::string> files;
    for (const char* dir : {"util", "comm", "quillgate", "standins"})
        collectSources(top + "/" + dir, files);
    ASSERT_FALSE(files.empty());

    std::vector<std::string> offences;
    for (const std::string& file : files) {
        std::ifstream in(file, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        for (const std::string& hit : jsoncppOutputs(text.str()))
            offences.push_back(file.substr(top.size() + 1) + ":" + hit);
    }
    std::string report;
    for (const std::string& o : offences)
        report += o + "\n";
    EXPECT_TRUE(offences.empty()) << "JSON output through jsoncpp; use cv::toStyledString:\n" << report;
}

}  // namespace
