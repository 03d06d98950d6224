#include "QuandrilCore/Values/Model.h"

namespace Quandril {

namespace {

constexpr std::array<std::string_view, 3> tierRaw { "rebuilds", "reinstallable", "personal" };
constexpr std::array<std::string_view, 3> tierTitles { "Rebuilds itself", "Can be downloaded or installed again",
                                                       "Your files" };
constexpr std::array<std::string_view, 6> kindRaw { "delete", "trash", "command", "move", "handOff", "review" };

} // namespace

std::string_view rawValue(Tier tier)
{
    return tierRaw.at(static_cast<std::size_t>(tier));
}

std::optional<Tier> tierFromRaw(std::string_view raw)
{
    for (std::size_t i = 0; i < tierRaw.size(); ++i)
        if (tierRaw[i] == raw)
            return static_cast<Tier>(i);
    return std::nullopt;
}

std::string_view title(Tier tier)
{
    return tierTitles.at(static_cast<std::size_t>(tier));
}

int order(Tier tier)
{
    return static_cast<int>(tier);
}

std::string_view rawValue(Action::Kind kind)
{
    return kindRaw.at(static_cast<std::size_t>(kind));
}

std::optional<Action::Kind> actionKindFromRaw(std::string_view raw)
{
    for (std::size_t i = 0; i < kindRaw.size(); ++i)
        if (kindRaw[i] == raw)
            return static_cast<Action::Kind>(i);
    return std::nullopt;
}

Action::Action(Kind kind, std::optional<std::vector<std::string>> command, std::optional<std::string> destination,
               std::optional<std::string> app, std::optional<std::string> steps, std::optional<bool> moves,
               std::optional<bool> linkable)
    : kind(kind)
    , command(std::move(command))
    , destination(std::move(destination))
    , app(std::move(app))
    , steps(std::move(steps))
    , moves(moves)
    , linkable(linkable)
{
}

const Action& Action::delete_()
{
    static const Action value { Kind::delete_ };
    return value;
}

const Action& Action::trash()
{
    static const Action value { Kind::trash };
    return value;
}

const Action& Action::review()
{
    static const Action value { Kind::review };
    return value;
}

Finding::Finding(std::string id, std::string finder, std::string title, std::string reason, std::string getBack,
                 Tier tier, std::int64_t bytes, std::vector<std::string> paths, std::optional<std::string> owner,
                 Action action, std::optional<std::string> caution, std::optional<std::string> blockedBy, bool unsure,
                 std::optional<std::string> duplicateOf)
    : id(std::move(id))
    , finder(std::move(finder))
    , title(std::move(title))
    , reason(std::move(reason))
    , getBack(std::move(getBack))
    , tier(tier)
    , bytes(bytes)
    , paths(std::move(paths))
    , owner(std::move(owner))
    , action(std::move(action))
    , caution(std::move(caution))
    , blockedBy(std::move(blockedBy))
    , unsure(unsure)
    , duplicateOf(std::move(duplicateOf))
{
}

std::optional<DriveInfo> ScanReport::startup() const
{
    for (const auto& drive : drives)
        if (drive.isStartup)
            return drive;
    return std::nullopt;
}

std::string engineName()
{
    return "quandril " + std::string(Engine::version);
}

// MARK: JSON

Json::Value toJson(Tier tier)
{
    return std::string(rawValue(tier));
}

Json::Value toJson(Action::Kind kind)
{
    return std::string(rawValue(kind));
}

Json::Value toJson(const Action& action)
{
    Json::Value object = Json::Value::object();
    object["kind"] = toJson(action.kind);
    Json::putOptional(object, "command", action.command);
    Json::putOptional(object, "destination", action.destination);
    Json::putOptional(object, "app", action.app);
    Json::putOptional(object, "steps", action.steps);
    Json::putOptional(object, "moves", action.moves);
    Json::putOptional(object, "linkable", action.linkable);
    return object;
}

Json::Value toJson(const Finding& finding)
{
    Json::Value object = Json::Value::object();
    object["id"] = finding.id;
    object["finder"] = finding.finder;
    object["title"] = finding.title;
    object["reason"] = finding.reason;
    object["getBack"] = finding.getBack;
    object["tier"] = toJson(finding.tier);
    object["bytes"] = finding.bytes;
    object["paths"] = finding.paths;
    object["drive"] = finding.drive;
    Json::putOptional(object, "owner", finding.owner);
    object["action"] = toJson(finding.action);
    Json::putOptional(object, "caution", finding.caution);
    Json::putOptional(object, "blockedBy", finding.blockedBy);
    object["unsure"] = finding.unsure;
    Json::putOptional(object, "duplicateOf", finding.duplicateOf);
    return object;
}

Json::Value toJson(const DriveInfo& drive)
{
    Json::Value object = Json::Value::object();
    object["name"] = drive.name;
    object["path"] = drive.path;
    object["isStartup"] = drive.isStartup;
    object["totalBytes"] = drive.totalBytes;
    object["freeBytes"] = drive.freeBytes;
    object["strictFreeBytes"] = drive.strictFreeBytes;
    return object;
}

Json::Value toJson(const Skipped& skipped)
{
    Json::Value object = Json::Value::object();
    object["path"] = skipped.path;
    object["why"] = skipped.why;
    return object;
}

Json::Value toJson(const ScanReport& report)
{
    Json::Value object = Json::Value::object();
    object["engine"] = report.engine;
    object["scannedAt"] = Json::encodeDate(report.scannedAt);
    object["drives"] = Json::arrayOf(report.drives);
    object["trashBytes"] = report.trashBytes;
    object["findings"] = Json::arrayOf(report.findings);
    object["skipped"] = Json::arrayOf(report.skipped);
    object["notes"] = report.notes;
    return object;
}

void decode(const Json::Value& value, Tier& out)
{
    auto raw = Json::decodeAs<std::string>(value);
    auto tier = tierFromRaw(raw);
    if (!tier)
        throw Json::DecodeError("", "unknown tier \"" + raw + "\"");
    out = *tier;
}

void decode(const Json::Value& value, Action::Kind& out)
{
    auto raw = Json::decodeAs<std::string>(value);
    auto kind = actionKindFromRaw(raw);
    if (!kind)
        throw Json::DecodeError("", "unknown action kind \"" + raw + "\"");
    out = *kind;
}

void decode(const Json::Value& value, Action& out)
{
    Json::expectObject(value);
    out.kind = Json::required<Action::Kind>(value, "kind");
    out.command = Json::optional<std::vector<std::string>>(value, "command");
    out.destination = Json::optional<std::string>(value, "destination");
    out.app = Json::optional<std::string>(value, "app");
    out.steps = Json::optional<std::string>(value, "steps");
    out.moves = Json::optional<bool>(value, "moves");
    out.linkable = Json::optional<bool>(value, "linkable");
}

void decode(const Json::Value& value, Finding& out)
{
    Json::expectObject(value);
    out.id = Json::required<std::string>(value, "id");
    out.finder = Json::required<std::string>(value, "finder");
    out.title = Json::required<std::string>(value, "title");
    out.reason = Json::required<std::string>(value, "reason");
    out.getBack = Json::required<std::string>(value, "getBack");
    out.tier = Json::required<Tier>(value, "tier");
    out.bytes = Json::required<std::int64_t>(value, "bytes");
    out.paths = Json::required<std::vector<std::string>>(value, "paths");
    out.drive = Json::required<std::string>(value, "drive");
    out.owner = Json::optional<std::string>(value, "owner");
    out.action = Json::required<Action>(value, "action");
    out.caution = Json::optional<std::string>(value, "caution");
    out.blockedBy = Json::optional<std::string>(value, "blockedBy");
    out.unsure = Json::required<bool>(value, "unsure");
    out.duplicateOf = Json::optional<std::string>(value, "duplicateOf");
}

void decode(const Json::Value& value, DriveInfo& out)
{
    Json::expectObject(value);
    out.name = Json::required<std::string>(value, "name");
    out.path = Json::required<std::string>(value, "path");
    out.isStartup = Json::required<bool>(value, "isStartup");
    out.totalBytes = Json::required<std::int64_t>(value, "totalBytes");
    out.freeBytes = Json::required<std::int64_t>(value, "freeBytes");
    out.strictFreeBytes = Json::required<std::int64_t>(value, "strictFreeBytes");
}

void decode(const Json::Value& value, Skipped& out)
{
    Json::expectObject(value);
    out.path = Json::required<std::string>(value, "path");
    out.why = Json::required<std::string>(value, "why");
}

void decode(const Json::Value& value, ScanReport& out)
{
    Json::expectObject(value);
    out.engine = Json::required<std::string>(value, "engine");
    out.scannedAt = Json::required<TimePoint>(value, "scannedAt");
    out.drives = Json::required<std::vector<DriveInfo>>(value, "drives");
    out.trashBytes = Json::required<std::int64_t>(value, "trashBytes");
    out.findings = Json::required<std::vector<Finding>>(value, "findings");
    out.skipped = Json::required<std::vector<Skipped>>(value, "skipped");
    out.notes = Json::required<std::vector<std::string>>(value, "notes");
}

} // namespace Quandril
