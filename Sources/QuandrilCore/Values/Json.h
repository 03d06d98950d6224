#pragma once

// Strict JSON reading and ordered writing shared by every record of the engine.
//
// Records encode with `toJson(record)` and decode with `decode(value, record)`, both found by
// argument-dependent lookup. Reading is strict: a required key that is missing or null fails, a
// value of the wrong type fails, and 1.5 or 2^64-1 are not 64-bit integers. Optional keys may be
// missing or null, both meaning "not given". Unknown keys are ignored. Every failure names the key
// path that failed ("places[3].tier").

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace Quandril {

namespace Json {

using Value = nlohmann::ordered_json;

class DecodeError : public std::runtime_error {
public:
    DecodeError(std::string path, std::string problem);

    const std::string& path() const noexcept { return path_; }
    const std::string& problem() const noexcept { return problem_; }

    // Returns the same error with `component` put in front of its path.
    DecodeError within(std::string_view component) const;

private:
    std::string path_;
    std::string problem_;
};

// Parses text as one JSON value; malformed JSON throws DecodeError with an empty path.
Value parse(std::string_view text);

// Writes a value compactly, or indented by two spaces.
std::string dump(const Value& value, bool pretty = false);

void expectObject(const Value& value);

// Primitive decoders.
void decode(const Value& value, std::string& out);
void decode(const Value& value, bool& out);
void decode(const Value& value, std::int64_t& out);
void decode(const Value& value, int& out);
void decode(const Value& value, double& out);
// ISO 8601 date-and-time text ("2025-01-31T09:30:00Z").
void decode(const Value& value, std::chrono::system_clock::time_point& out);
Value encodeDate(std::chrono::system_clock::time_point date);
// The same in whole seconds, for any four-digit year.
void decode(const Value& value, std::chrono::sys_seconds& out);
Value encodeDate(std::chrono::sys_seconds date);

template <typename T>
void decode(const Value& value, std::vector<T>& out);
template <typename T>
void decode(const Value& value, std::map<std::string, T>& out);

template <typename T>
T decodeAs(const Value& value)
{
    T out {};
    decode(value, out);
    return out;
}

template <typename T>
void decode(const Value& value, std::vector<T>& out)
{
    if (!value.is_array())
        throw DecodeError("", "expected an array");
    out.clear();
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        try {
            out.push_back(decodeAs<T>(value[i]));
        } catch (const DecodeError& e) {
            throw e.within("[" + std::to_string(i) + "]");
        }
    }
}

template <typename T>
void decode(const Value& value, std::map<std::string, T>& out)
{
    expectObject(value);
    out.clear();
    for (auto it = value.begin(); it != value.end(); ++it) {
        try {
            out.emplace(it.key(), decodeAs<T>(it.value()));
        } catch (const DecodeError& e) {
            throw e.within(it.key());
        }
    }
}

// A key that must be present and not null.
template <typename T>
T required(const Value& object, std::string_view key)
{
    expectObject(object);
    auto it = object.find(key);
    if (it == object.end())
        throw DecodeError(std::string(key), "required key is missing");
    if (it->is_null())
        throw DecodeError(std::string(key), "required key is null");
    try {
        return decodeAs<T>(*it);
    } catch (const DecodeError& e) {
        throw e.within(key);
    }
}

// A key that may be missing or null; both mean "not given".
template <typename T>
std::optional<T> optional(const Value& object, std::string_view key)
{
    expectObject(object);
    auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return std::nullopt;
    try {
        return decodeAs<T>(*it);
    } catch (const DecodeError& e) {
        throw e.within(key);
    }
}

// A list as an array of its elements' JSON forms (each element's toJson).
template <typename T>
Value arrayOf(const std::vector<T>& values)
{
    Value out = Value::array();
    for (const auto& value : values)
        out.push_back(toJson(value));
    return out;
}

// Writes `key` only when the value is present.
template <typename T>
void putOptional(Value& object, std::string_view key, const std::optional<T>& value)
{
    if (value)
        object[std::string(key)] = *value;
}

} // namespace Json

} // namespace Quandril
