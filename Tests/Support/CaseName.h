#pragma once

// A GoogleTest parameter name from a case's description: letters and digits kept, the rest "_".

#include <cctype>
#include <string>
#include <string_view>

namespace Quandril::Testing {

inline std::string caseName(std::string_view description)
{
    std::string name;
    for (char c : description)
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

// For INSTANTIATE_TEST_SUITE_P over cases that carry a `name` field.
struct CaseNamed {
    template <typename Info>
    std::string operator()(const Info& info) const
    {
        return caseName(info.param.name);
    }
};

} // namespace Quandril::Testing
