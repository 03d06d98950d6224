#include "QuandrilApp/Platform/Preferences.h"

#include <cerrno>
#include <cmath>
#include <limits>
#include <type_traits>

#include "QuandrilApp/Platform/AppFolders.h"
#include "QuandrilApp/Platform/AppInfo.h"
#include "QuandrilApp/Platform/LocalFile.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonValue>

namespace Quandril::App {

namespace {

// Each stored value is an object with one member naming its type: {"integer": 10}.
constexpr QLatin1StringView stringTag { "string" };
constexpr QLatin1StringView boolTag { "bool" };
constexpr QLatin1StringView integerTag { "integer" };
constexpr QLatin1StringView doubleTag { "double" };
constexpr QLatin1StringView dateTag { "date" };
constexpr QLatin1StringView dataTag { "data" };

// The app's own file holds a few kilobytes; one far larger was not written by it, and reading it
// would cost many times its size in memory on every start and every save.
constexpr qint64 maxFileBytes = 4 << 20;

// The one representation of each type kept in memory.
std::optional<QVariant> normalized(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QString:
        return value;
    case QMetaType::Bool:
        return value;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
        return QVariant(value.toLongLong());
    case QMetaType::ULong:
    case QMetaType::ULongLong: {
        const qulonglong raw = value.toULongLong();
        if (raw > static_cast<qulonglong>(std::numeric_limits<qint64>::max()))
            return std::nullopt;
        return QVariant(static_cast<qlonglong>(raw));
    }
    case QMetaType::Double:
    case QMetaType::Float: {
        const double number = value.toDouble();
        if (!std::isfinite(number))
            return std::nullopt; // JSON has no form for it
        return QVariant(number);
    }
    case QMetaType::QDateTime: {
        const QDateTime date = value.toDateTime();
        if (!date.isValid())
            return std::nullopt;
        return QVariant(date.toUTC());
    }
    case QMetaType::QByteArray:
        return value;
    default:
        return std::nullopt;
    }
}

QJsonValue encode(const QVariant& value)
{
    QJsonObject tagged;
    switch (value.typeId()) {
    case QMetaType::QString:
        tagged.insert(stringTag, value.toString());
        break;
    case QMetaType::Bool:
        tagged.insert(boolTag, value.toBool());
        break;
    case QMetaType::LongLong:
        tagged.insert(integerTag, QJsonValue(static_cast<qint64>(value.toLongLong())));
        break;
    case QMetaType::Double:
        tagged.insert(doubleTag, value.toDouble());
        break;
    case QMetaType::QDateTime:
        tagged.insert(dateTag, value.toDateTime().toUTC().toString(Qt::ISODateWithMs));
        break;
    default:
        tagged.insert(dataTag, QString::fromLatin1(value.toByteArray().toBase64()));
        break;
    }
    return tagged;
}

std::optional<QVariant> decode(const QJsonValue& json)
{
    if (!json.isObject() || json.toObject().size() != 1)
        return std::nullopt;
    const QJsonObject tagged = json.toObject();
    const QString tag = tagged.begin().key();
    const QJsonValue value = tagged.begin().value();
    if (tag == stringTag && value.isString())
        return QVariant(value.toString());
    if (tag == boolTag && value.isBool())
        return QVariant(value.toBool());
    if (tag == integerTag && value.isDouble()) {
        // Qt keeps a whole JSON number that fits 64 bits exactly; anything else is no integer.
        const QVariant exact = value.toVariant();
        if (exact.typeId() != QMetaType::LongLong)
            return std::nullopt;
        return QVariant(exact.toLongLong());
    }
    if (tag == doubleTag && value.isDouble())
        return QVariant(value.toDouble());
    if (tag == dateTag && value.isString()) {
        QDateTime date = QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
        if (!date.isValid())
            return std::nullopt;
        return QVariant(date.toUTC());
    }
    if (tag == dataTag && value.isString()) {
        auto bytes = QByteArray::fromBase64Encoding(value.toString().toLatin1(),
                                                    QByteArray::AbortOnBase64DecodingErrors);
        if (!bytes)
            return std::nullopt;
        return QVariant(*bytes);
    }
    return std::nullopt;
}

QVariant valueOf(const Keys::Default& entry)
{
    return std::visit(
        [](auto value) {
            if constexpr (std::is_same_v<decltype(value), QLatin1StringView>)
                return QVariant(QString(value));
            else
                return QVariant(value);
        },
        entry.value);
}

// The readers' fallback of Keys::defaults for the key, of the asked type; absent otherwise.
std::optional<QVariant> tableFallback(const QString& key, int typeId)
{
    for (const Keys::Default& entry : Keys::defaults) {
        if (entry.key != key)
            continue;
        const QVariant value = valueOf(entry);
        return value.typeId() == typeId ? std::optional(value) : std::nullopt;
    }
    return std::nullopt;
}

} // namespace

QString Preferences::standardFilePath()
{
    const QString configHome = AppFolders::configHome();
    if (configHome.isEmpty())
        return {};
    return configHome + QLatin1Char('/') + AppInfo::name() + QStringLiteral("/preferences.json");
}

Preferences::Preferences(QString filePath, QObject* parent)
    : QObject(parent)
    , filePath_(std::move(filePath))
{
    // A link to a regular file is read (settings kept as dotfiles stay); the next save replaces the
    // link itself with a file of our own, never its target. A dangling link reads as no file.
    int readError = 0;
    const auto bytes = LocalFile::read(filePath_, maxFileBytes, LocalFile::Links::follow, &readError);
    if (!bytes) {
        keepAside_ = readError != ENOENT && readError != ENOTDIR;
        return;
    }
    QJsonParseError error {};
    const QJsonDocument document = QJsonDocument::fromJson(*bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        keepAside_ = true;
        return;
    }
    const QJsonObject object = document.object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (auto value = decode(it.value()))
            values_[it.key()] = *value;
        else
            foreign_.insert(it.key(), it.value());
    }
}

void Preferences::registerDefault(const QString& key, const QVariant& value)
{
    if (auto kept = normalized(value))
        registered_[key] = *kept;
}

void Preferences::registerDefault(const Keys::Default& entry)
{
    registerDefault(QString(entry.key), valueOf(entry));
}

bool Preferences::contains(const QString& key) const
{
    return values_.count(key) != 0 || foreign_.contains(key);
}

std::optional<QVariant> Preferences::stored(const QString& key) const
{
    if (auto it = values_.find(key); it != values_.end())
        return it->second;
    if (foreign_.contains(key))
        return foreign_.value(key).toVariant();
    return std::nullopt;
}

std::optional<QVariant> Preferences::lookup(const QString& key, int typeId) const
{
    for (const auto* domain : { &values_, &registered_ }) {
        auto it = domain->find(key);
        if (it == domain->end())
            continue;
        const int stored = it->second.typeId();
        if (stored == typeId)
            return it->second;
        // A whole number is a number too.
        if (typeId == QMetaType::Double && stored == QMetaType::LongLong)
            return QVariant(static_cast<double>(it->second.toLongLong()));
    }
    return std::nullopt;
}

std::optional<QString> Preferences::string(const QString& key) const
{
    if (auto value = lookup(key, QMetaType::QString))
        return value->toString();
    return std::nullopt;
}

QString Preferences::string(const QString& key, const QString& fallback) const
{
    return string(key).value_or(fallback);
}

std::optional<bool> Preferences::boolean(const QString& key) const
{
    if (auto value = lookup(key, QMetaType::Bool))
        return value->toBool();
    return std::nullopt;
}

bool Preferences::boolean(const QString& key, bool fallback) const
{
    return boolean(key).value_or(fallback);
}

std::optional<qint64> Preferences::integer(const QString& key) const
{
    if (auto value = lookup(key, QMetaType::LongLong))
        return value->toLongLong();
    return std::nullopt;
}

qint64 Preferences::integer(const QString& key, qint64 fallback) const
{
    return integer(key).value_or(fallback);
}

std::optional<double> Preferences::number(const QString& key) const
{
    if (auto value = lookup(key, QMetaType::Double))
        return value->toDouble();
    return std::nullopt;
}

double Preferences::number(const QString& key, double fallback) const
{
    return number(key).value_or(fallback);
}

std::optional<QDateTime> Preferences::date(const QString& key) const
{
    if (auto value = lookup(key, QMetaType::QDateTime))
        return value->toDateTime();
    return std::nullopt;
}

std::optional<QByteArray> Preferences::data(const QString& key) const
{
    if (auto value = lookup(key, QMetaType::QByteArray))
        return value->toByteArray();
    return std::nullopt;
}

// The stored or registered value of the type, else the key's readers' fallback; an invalid
// QVariant (false, 0 or empty) when there is neither.
QVariant Preferences::readerValue(const QString& key, int typeId) const
{
    if (auto value = lookup(key, typeId))
        return *value;
    return tableFallback(key, typeId).value_or(QVariant());
}

bool Preferences::booleanValue(const QString& key) const
{
    return readerValue(key, QMetaType::Bool).toBool();
}

qint64 Preferences::integerValue(const QString& key) const
{
    return readerValue(key, QMetaType::LongLong).toLongLong();
}

QString Preferences::stringValue(const QString& key) const
{
    return readerValue(key, QMetaType::QString).toString();
}

bool Preferences::setString(const QString& key, const QString& value)
{
    return set(key, QVariant(value));
}

bool Preferences::setBoolean(const QString& key, bool value)
{
    return set(key, QVariant(value));
}

bool Preferences::setInteger(const QString& key, qint64 value)
{
    return set(key, QVariant(static_cast<qlonglong>(value)));
}

bool Preferences::setNumber(const QString& key, double value)
{
    return set(key, QVariant(value));
}

bool Preferences::setDate(const QString& key, const QDateTime& value)
{
    return set(key, QVariant(value));
}

bool Preferences::setData(const QString& key, const QByteArray& value)
{
    return set(key, QVariant(value));
}

bool Preferences::set(const QString& key, const QVariant& value)
{
    auto kept = normalized(value);
    if (!kept)
        return false;
    values_[key] = *kept;
    foreign_.remove(key);
    const bool written = write();
    emit changed(key);
    return written;
}

bool Preferences::copyStored(const QString& from, const QString& to)
{
    if (auto it = values_.find(from); it != values_.end())
        return set(to, QVariant(it->second));
    if (!foreign_.contains(from))
        return false;
    values_.erase(to);
    foreign_.insert(to, foreign_.value(from));
    const bool written = write();
    emit changed(to);
    return written;
}

bool Preferences::remove(const QString& key)
{
    const bool had = contains(key);
    values_.erase(key);
    foreign_.remove(key);
    const bool written = had ? write() : true;
    if (had)
        emit changed(key);
    return written;
}

bool Preferences::reset()
{
    QStringList keys;
    for (const auto& [key, value] : values_)
        keys.append(key);
    keys.append(foreign_.keys());
    values_.clear();
    foreign_ = QJsonObject();
    const bool written = write();
    for (const QString& key : keys)
        emit changed(key);
    return written;
}

bool Preferences::write()
{
    if (!QDir::isAbsolutePath(filePath_))
        return failed(QStringLiteral("There is no home folder to keep them in"));
    const QString folder = QFileInfo(filePath_).path();
    if (!AppFolders::makeFolder(folder))
        return failed(QStringLiteral("The folder %1 could not be created").arg(folder));

    // What could not be read goes aside whole, under a name no earlier one holds, before anything
    // replaces it. Should it fail, the old entry stays and so does this duty, for the next save.
    if (keepAside_) {
        if (const auto failure = LocalFile::keepAside(filePath_, u".unreadable"))
            return failed(QStringLiteral("%1 could not be kept aside: %2").arg(filePath_, *failure));
        keepAside_ = false;
    }

    QJsonObject object = foreign_;
    for (const auto& [key, value] : values_)
        object.insert(key, encode(value));
    const QByteArray bytes = QJsonDocument(object).toJson(QJsonDocument::Indented);

    // The old file stays whole when anything fails on the way.
    if (const auto failure = LocalFile::replace(filePath_, bytes))
        return failed(QStringLiteral("%1 could not be written: %2").arg(filePath_, *failure));
    return true;
}

bool Preferences::failed(const QString& reason)
{
    if (!saveFailure_) {
        saveFailure_ = reason;
        qWarning("Gorrin: settings not saved: %s", qPrintable(reason));
        emit saveFailed(reason);
    }
    return false;
}

} // namespace Quandril::App
