#include "QuandrilCore/Values/Json.h"

#include "QuandrilCore/Platform/IsoDate.h"

#include <cmath>
#include <limits>
#include <optional>
#include <unordered_map>
#include <vector>

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

// Builds a Value from parser events. The parser's own builder adds each member of an ordered
// object after a search through the members before it, so reading an object took time growing with
// the square of its size; here a large object finds earlier keys through an index instead. As
// with the parser's own builder, a repeated key keeps its first place and takes the last value.
class Builder final : public nlohmann::json_sax<Value> {
public:
    explicit Builder(Value& root)
        : root_(root)
    {
    }

    bool null() override { return add(Value(nullptr)); }
    bool boolean(bool value) override { return add(Value(value)); }
    bool number_integer(number_integer_t value) override { return add(Value(value)); }
    bool number_unsigned(number_unsigned_t value) override { return add(Value(value)); }
    bool number_float(number_float_t value, const string_t&) override { return add(Value(value)); }
    bool string(string_t& value) override { return add(Value(std::move(value))); }
    bool binary(binary_t& value) override { return add(Value::binary(std::move(value))); }

    bool start_object(std::size_t) override { return open(Value::object()); }
    bool key(string_t& value) override
    {
        key_ = std::move(value);
        return true;
    }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open(Value::array()); }
    bool end_array() override { return close(); }

    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& error) override
    {
        throw DecodeError("", std::string("not valid JSON: ") + error.what());
    }

private:
    using Members = Value::object_t::Container;

    struct Open {
        Value* value;
        // Key to position, kept only once an object is large enough for searching to cost.
        std::unordered_map<std::string, std::size_t> index;
    };

    static constexpr std::size_t searchedMembers = 16;

    bool open(Value container)
    {
        Value* placed = place(std::move(container));
        stack_.push_back(Open { placed, {} });
        return true;
    }

    bool close()
    {
        stack_.pop_back();
        return true;
    }

    bool add(Value value)
    {
        place(std::move(value));
        return true;
    }

    Value* place(Value value)
    {
        if (stack_.empty()) {
            root_ = std::move(value);
            return &root_;
        }
        Open& parent = stack_.back();
        if (parent.value->is_array()) {
            auto& elements = parent.value->get_ref<Value::array_t&>();
            elements.push_back(std::move(value));
            return &elements.back();
        }
        Members& members = parent.value->get_ref<Value::object_t&>();
        if (auto earlier = find(parent, members)) {
            members[*earlier].second = std::move(value);
            return &members[*earlier].second;
        }
        members.emplace_back(key_, std::move(value));
        if (!parent.index.empty())
            parent.index.emplace(std::move(key_), members.size() - 1);
        else if (members.size() >= searchedMembers)
            for (std::size_t i = 0; i < members.size(); ++i)
                parent.index.emplace(members[i].first, i);
        return &members.back().second;
    }

    std::optional<std::size_t> find(const Open& parent, const Members& members) const
    {
        if (!parent.index.empty()) {
            auto found = parent.index.find(key_);
            return found == parent.index.end() ? std::nullopt : std::optional(found->second);
        }
        for (std::size_t i = 0; i < members.size(); ++i)
            if (members[i].first == key_)
                return i;
        return std::nullopt;
    }

    Value& root_;
    std::vector<Open> stack_;
    std::string key_;
};

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
    Value root;
    Builder builder(root);
    try {
        Value::sax_parse(text.begin(), text.end(), &builder);
    } catch (const nlohmann::json::exception& e) {
        throw DecodeError("", std::string("not valid JSON: ") + e.what());
    }
    return root;
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

void decode(const Value& value, std::chrono::sys_seconds& out)
{
    std::string text;
    decode(value, text);
    auto date = Platform::parseIso8601Seconds(text);
    if (!date)
        throw DecodeError("", "expected an ISO 8601 date, found \"" + text + "\"");
    out = *date;
}

Value encodeDate(std::chrono::sys_seconds date)
{
    return Platform::formatIso8601(date);
}

} // namespace Quandril::Json
