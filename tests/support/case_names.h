// Stable, readable names for parameterised cases: the case's own `name`
// text with every character but letters and digits turned into '_', and a
// leading digit prefixed, so CTest names never hold printed bytes.
#ifndef QG_TESTS_SUPPORT_CASE_NAMES_H
#define QG_TESTS_SUPPORT_CASE_NAMES_H

#include <cctype>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

namespace qgtest {

inline std::string CaseName(const std::string& text)
{
    std::string n = text.empty() ? "unnamed" : text;
    for (char& ch : n)
        if (!isalnum(static_cast<unsigned char>(ch)))
            ch = '_';
    if (isdigit(static_cast<unsigned char>(n[0])))
        n = "n" + n;
    return n;
}

// The name generator for INSTANTIATE_TEST_SUITE_P of any case type with a
// `name` member.
struct ByName {
    template <typename Case>
    std::string operator()(const ::testing::TestParamInfo<Case>& info) const
    {
        return CaseName(info.param.name);
    }
};

}  // namespace qgtest

// Lets GoogleTest print a case as its name (declare it beside the type).
#define QG_PRINT_CASE_BY_NAME(Case) \
    inline void PrintTo(const Case& c, std::ostream* os) { *os << qgtest::CaseName(c.name); }

#endif
