// The JSON reader: what the library reads, in document order, and nothing it refuses.

#include "QuandrilCore/Values/Json.h"

#include <string>
#include <string_view>

#include <gtest/gtest.h>

using namespace Quandril;

namespace {

TEST(JsonParse, ReadsWhatTheLibraryReadsInDocumentOrder)
{
    // Large objects take another path than small ones; both keep a repeated key's first place.
    std::string large = "{";
    for (int i = 0; i < 40; ++i)
        large += "\"k" + std::to_string(39 - i) + "\":" + std::to_string(i) + ",";
    large += R"("k5":"again","k39":{"inner":[{"b":1,"a":2,"b":3}]}})";
    const std::string texts[] {
        R"({"b":1,"a":[{"z":null,"y":true}],"c":"x","d":{}})",
        R"({"a":1,"b":2,"a":3})",
        R"([{"a":1,"a":{"x":1}},{"a":[]}])",
        large,
        R"("text")",
        "12",
        "-3",
        "1.5e3",
        "18446744073709551615",
        "null",
        "[]",
        "{}",
    };
    for (const auto& text : texts) {
        const auto ours = Json::parse(text);
        const auto library = Json::Value::parse(text);
        EXPECT_EQ(Json::dump(ours), Json::dump(library)) << text;
        EXPECT_EQ(ours, library) << text;
    }
    for (std::string_view text : { "", "1e400", "{\"a\":1,}", "[1 2]", "{\"a\":1} x", "\"\xFF\"", "{\"a\"}", "[" })
        EXPECT_THROW(Json::parse(text), Json::DecodeError) << text;
}

} // namespace
