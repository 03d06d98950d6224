#pragma once

// The app's per-user preferences: the one place that reads and writes them.
//
// Values keep their types: a string, a Boolean, a signed 64-bit integer, a double, a date or bytes
// stay what they were written as, and a key is only ever a key (one holding "/" stays one key).
// They live in a JSON file under the user's config folder, written whole and atomically on every
// change, so a crash or a full disk never leaves half a file: the old file stays as it was.
//
// Reading follows the per-user defaults of the design: a stored value of the asked type wins; a
// stored value of another type, or none, falls back to the registered default of that key (kept in
// memory only, so it survives a reset); then to the caller's fallback, which for the `…Value` reads
// is the key's entry in Keys::defaults. Only what the app registers counts as registered: a key
// that merely has a readers' fallback reads as absent through `boolean(key)` and the like. Every
// write and every removal emits `changed(key)`; nothing is cached by readers, so they simply read
// again.
//
// Used on the GUI thread only.

#include <map>
#include <optional>

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QVariant>

#include "QuandrilApp/Platform/PreferenceKeys.h"

namespace Quandril::App {

class Preferences : public QObject {
    Q_OBJECT

public:
    // "Gorrin/preferences.json" in the user's config folder (AppFolders::configHome()); empty when
    // there is no home to keep it in.
    static QString standardFilePath();

    // Reads the file at `filePath` (tests pass a temporary one). A missing file is an empty
    // domain. Whatever else cannot be read or understood (a file far too large, a link, a named
    // pipe) also reads as empty, is never opened or followed, and is moved aside as it stands, to
    // the first free name of "<file>.unreadable", "<file>.unreadable-2", …, before the first write
    // replaces it.
    explicit Preferences(QString filePath = standardFilePath(), QObject* parent = nullptr);

    const QString& filePath() const { return filePath_; }

    // In-memory defaults that stand in while nothing of the right type is stored. Not written to
    // the file; a reset keeps them. Accepts the same value types as `set`.
    void registerDefault(const QString& key, const QVariant& value);
    void registerDefault(const Keys::Default& entry);

    // Whether a value of any type is stored under the key (registered defaults don't count).
    bool contains(const QString& key) const;
    // The stored value as it is, of whatever type; absent when nothing is stored.
    std::optional<QVariant> stored(const QString& key) const;

    // Typed reads. The one-argument forms are absent when neither a stored nor a registered value
    // of that type exists; the two-argument forms give the fallback then.
    std::optional<QString> string(const QString& key) const;
    QString string(const QString& key, const QString& fallback) const;
    std::optional<bool> boolean(const QString& key) const;
    bool boolean(const QString& key, bool fallback) const;
    std::optional<qint64> integer(const QString& key) const;
    qint64 integer(const QString& key, qint64 fallback) const;
    // A stored integer reads as a double too.
    std::optional<double> number(const QString& key) const;
    double number(const QString& key, double fallback) const;
    // Dates keep milliseconds and come back in UTC.
    std::optional<QDateTime> date(const QString& key) const;
    std::optional<QByteArray> data(const QString& key) const;
    // Reads of keys that have a readers' fallback: the stored or registered value of the type, else
    // the key's entry in Keys::defaults. A key without one reads as false, 0 or empty.
    bool booleanValue(const QString& key) const;
    qint64 integerValue(const QString& key) const;
    QString stringValue(const QString& key) const;

    // Writes. Each stores the value with its type, writes the whole file atomically and emits
    // `changed(key)`. The answer says whether the file was written; the value is kept in memory
    // either way, so the app goes on with it. Callers may ignore the answer: the first failure of
    // the session is told through `saveFailed` and on stderr.
    bool setString(const QString& key, const QString& value);
    bool setBoolean(const QString& key, bool value);
    bool setInteger(const QString& key, qint64 value);
    bool setNumber(const QString& key, double value);
    bool setDate(const QString& key, const QDateTime& value);
    bool setData(const QString& key, const QByteArray& value);
    // Any of the six types above (QString, bool, an integer type, double, QDateTime, QByteArray);
    // false, and nothing changes, for any other type or an invalid date.
    bool set(const QString& key, const QVariant& value);

    // Stores a copy of whatever is stored under `from` (of any type, readable or not) under `to`.
    // False, and nothing changes, when nothing is stored under `from`.
    bool copyStored(const QString& from, const QString& to);

    // Removes the stored value, so the registered default (if any) shows again.
    bool remove(const QString& key);
    // Removes the whole stored domain; registered defaults stay. Emits `changed` for every key
    // that was stored.
    bool reset();

    // Why the first save that failed in this session failed; absent while every save worked.
    const std::optional<QString>& saveFailure() const { return saveFailure_; }

signals:
    void changed(const QString& key);
    // Once per session, at the first save that fails, with why, as a sentence without its full stop.
    void saveFailed(const QString& reason);

private:
    bool write();
    bool failed(const QString& reason);
    std::optional<QVariant> lookup(const QString& key, int typeId) const;
    QVariant readerValue(const QString& key, int typeId) const;

    QString filePath_;
    std::map<QString, QVariant> values_;
    std::map<QString, QVariant> registered_;
    // Entries of the file this version cannot read; written back untouched.
    QJsonObject foreign_;
    // The file on disk could not be read or understood: keep it aside before the first write.
    bool keepAside_ = false;
    std::optional<QString> saveFailure_;
};

} // namespace Quandril::App
