#include "QuandrilApp/Settings/UpdateCheck.h"

#include "QuandrilApp/Platform/AppInfo.h"
#include "QuandrilApp/Platform/UrlOpener.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

#include <charconv>
#include <cstdint>
#include <string>
#include <vector>

namespace Quandril::App::UpdateCheck {

namespace {

const QString prefix = QStringLiteral("Couldn't check: ");

// The dotted parts that read as numbers, in order.
std::vector<std::int64_t> numbers(const QString& version)
{
    std::vector<std::int64_t> out;
    for (const QStringView piece : QStringView(version).split(u'.', Qt::SkipEmptyParts)) {
        std::string text;
        text.reserve(std::size_t(piece.size()));
        bool readable = true;
        for (qsizetype i = 0; i < piece.size() && readable; ++i) {
            const char16_t c = piece[i].unicode();
            const bool sign = i == 0 && (c == u'+' || c == u'-');
            readable = sign || (c >= u'0' && c <= u'9');
            if (readable && c != u'+')
                text.push_back(char(c));
        }
        // from_chars takes no "+", and "-" alone or "+" alone has no digits.
        if (!readable || text.empty() || text == "-")
            continue;
        std::int64_t value = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (error == std::errc() && end == text.data() + text.size())
            out.push_back(value);
    }
    return out;
}

// A text field of the file; `required` says whether it may be missing (null counts as missing).
std::optional<Result> readText(const QJsonObject& file, const QString& key, bool required, std::optional<QString>& out)
{
    const QJsonValue value = file.value(key);
    if (value.isString()) {
        out = value.toString();
        return std::nullopt;
    }
    if (!required && (value.isUndefined() || value.isNull()))
        return std::nullopt;
    if (value.isUndefined())
        return Result::failed(prefix + QStringLiteral("The version file has no \"%1\".").arg(key));
    return Result::failed(prefix + QStringLiteral("\"%1\" in the version file isn't text.").arg(key));
}

} // namespace

Result Result::newer(QString version, QUrl url, std::optional<QString> notes)
{
    Result result;
    result.kind = Kind::newer;
    result.version = std::move(version);
    result.url = std::move(url);
    result.notes = std::move(notes);
    return result;
}

Result Result::failed(QString message)
{
    Result result;
    result.kind = Kind::failed;
    result.message = std::move(message);
    return result;
}

Result Result::upToDate()
{
    return Result();
}

QUrl url()
{
    static const QUrl address = AppInfo::updateUrl();
    return address;
}

Result judge(const QByteArray& body, const QString& currentVersion)
{
    if (body.size() > UpdateFetcher::maxBodyBytes)
        return Result::failed(prefix + QStringLiteral("The version file is larger than 64 KiB."));

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return Result::failed(prefix + QStringLiteral("The version file isn't valid JSON."));
    if (!document.isObject())
        return Result::failed(prefix + QStringLiteral("The version file isn't a JSON object."));

    const QJsonObject file = document.object();
    std::optional<QString> version, link, notes;
    if (auto failure = readText(file, QStringLiteral("version"), true, version))
        return *failure;
    if (auto failure = readText(file, QStringLiteral("url"), true, link))
        return *failure;
    if (auto failure = readText(file, QStringLiteral("notes"), false, notes))
        return *failure;

    // Only an https page with a host is ever offered for opening; this test comes before the
    // comparison, so a bad link fails even when the version is not newer.
    const QUrl page(*link, QUrl::StrictMode);
    if (!isSecureWebAddress(page))
        return Result::failed(QStringLiteral("The version file didn't have a usable link."));

    if (isNewer(*version, currentVersion))
        return Result::newer(*version, page, notes);
    return Result::upToDate();
}

bool isNewer(const QString& candidate, const QString& current)
{
    const std::vector<std::int64_t> a = numbers(candidate);
    const std::vector<std::int64_t> b = numbers(current);
    for (std::size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
        const std::int64_t x = i < a.size() ? a[i] : 0;
        const std::int64_t y = i < b.size() ? b[i] : 0;
        if (x != y)
            return x > y;
    }
    return false;
}

void run(const QString& currentVersion, UpdateFetcher& fetcher, QObject* context,
         std::function<void(const Result&)> done)
{
    fetcher.fetch(url(), context, [currentVersion, done = std::move(done)](const UpdateFetcher::Outcome& outcome) {
        done(outcome.ok ? judge(outcome.body, currentVersion) : Result::failed(prefix + outcome.error));
    });
}

} // namespace Quandril::App::UpdateCheck
