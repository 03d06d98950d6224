// The rules catalog's decoder: any text either decodes or fails with a DecodeError, a decoded
// catalog encodes to JSON that decodes to the same catalog, and the engine's JSON reader reads
// exactly what the JSON library's own reader does.

#include "FuzzCheck.h"
#include "QuandrilCore/Rules/Catalog.h"

using namespace Quandril;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto text = Fuzz::text(data, size);
    Json::Value value;
    try {
        value = Json::parse(text);
    } catch (const Json::DecodeError&) {
        bool libraryRefuses = false;
        try {
            (void)Json::Value::parse(text.begin(), text.end());
        } catch (const nlohmann::json::exception&) {
            libraryRefuses = true;
        }
        Fuzz::check(libraryRefuses, "what the library reads is read");
        return 0;
    }
    Fuzz::check(Json::dump(value) == Json::dump(Json::Value::parse(text.begin(), text.end())),
                "the library reads the same value in the same order");

    Catalog catalog;
    try {
        catalog = Json::decodeAs<Catalog>(value);
    } catch (const Json::DecodeError&) {
        return 0;
    }
    const Json::Value encoded = toJson(catalog);
    Fuzz::check(Json::decodeAs<Catalog>(encoded) == catalog, "a decoded catalog round-trips");
    Fuzz::check(Json::decodeAs<Catalog>(Json::parse(Json::dump(encoded))) == catalog,
                "a decoded catalog round-trips through text");
    return 0;
}
