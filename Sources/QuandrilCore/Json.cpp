#include "QuandrilCore/Json.h"

#include "QuandrilCore/Platform/IsoDate.h"

#include <cmath>
#include <limits>

namespace Quandril::Json {

namespace {

std::string joinPath(std::string_view component, const std::string& rest)
{
    if (rest.empty())
        return std::string(component);
    if (rest.front() == '[')
        return std::string(component) + rest;
    return std::string(component) + "." + rest;
}

std::string typeName(const Value& value)
{
    return value.type_name();
}

} // namespace

DecodeError::DecodeError(std::string path, std::string problem)
    : std::runtime_error(path.empty() ? problem : path + ": " + problem)
    , path_(std::move(path))
    , problem_(std::move(problem))
{
}

DecodeError DecodeError::within(std::string_view component) const
{
    if (!component.empty() && component.front() == '[' && !path_.empty() && path_.front() != '[')
        return DecodeError(std::string(component) + "." + path_, problem_);
    return DecodeError(joinPath(component, path_), problem_);
}

Value parse(std::string_view text)
{
    try {
        return Value::parse(text.begin(), text.end());
    } catch (const nlohmann::json::exception& e) {
        throw DecodeError("", std::string("not valid JSON: ") + e.what());
    }
}

std::string dump(const Value& value, bool pretty)
{
    // Invalid UTF-8 in a text is replaced rather than thrown at a writer.
    return value.dump(pretty ? 2 : -1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void expectObject(const Value& value)
{
    if (!value.is_object())
        throw DecodeError("", "expected an object, found " + typeName(value));
}

void decode(const Value& value, std::string& out)
{
    if (!value.is_string())
        throw DecodeError("", "expected a string, found " + typeName(value));
    out = value.get_ref<const std::string&>();
}

void decode(const Value& value, bool& out)
{
    if (!value.is_boolean())
        throw DecodeError("", "expected a boolean, found " + typeName(value));
    out = value.get<bool>();
}

void decode(const Value& value, std::int64_t& out)
{
    if (value.is_number_unsigned()) {
        auto u = value.get<std::uint64_t>();
        if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            throw DecodeError("", "integer out of range");
        out = static_cast<std::int64_t>(u);
        return;
    }
    if (value.is_number_integer()) {
        out = value.get<std::int64_t>();
        return;
    }
    if (value.is_number_float())
        throw DecodeError("", "expected a whole number, found " + dump(value));
    throw DecodeError("", "expected an integer, found " + typeName(value));
}

void decode(const Value& value, int& out)
{
    std::int64_t wide = 0;
    decode(value, wide);
    if (wide < std::numeric_limits<int>::min() || wide > std::numeric_limits<int>::max())
        throw DecodeError("", "integer out of range");
    out = static_cast<int>(wide);
}

void decode(const Value& value, double& out)
{
    if (!value.is_number())
        throw DecodeError("", "expected a number, found " + typeName(value));
    out = value.get<double>();
}

void decode(const Value& value, std::chrono::system_clock::time_point& out)
{
    std::string text;
    decode(value, text);
    auto date = Platform::parseIso8601(text);
    if (!date)
        throw DecodeError("", "expected an ISO 8601 date, found \"" + text + "\"");
    out = *date;
}

Value encodeDate(std::chrono::system_clock::time_point date)
{
    return Platform::formatIso8601(date);
}

} // namespace Quandril::Json
