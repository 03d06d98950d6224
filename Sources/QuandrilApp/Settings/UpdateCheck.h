#pragma once

// Whether the maker's version file names a newer version than the running one. It keeps no state,
// writes no preference and shows nothing; its callers decide what to do with the result. Every
// text it hands back (versions, notes, messages) is plain text and must be shown as such.

#include "QuandrilApp/Platform/UpdateFetcher.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

namespace Quandril::App::UpdateCheck {

struct Result {
    enum class Kind {
        newer,
        failed,
        upToDate,
    };

    Kind kind = Kind::upToDate;
    // newer: the version as the file gives it, the download page (https, with a host), the notes.
    QString version;
    QUrl url;
    std::optional<QString> notes;
    // failed: one sentence for the user.
    QString message;

    static Result newer(QString version, QUrl url, std::optional<QString> notes);
    static Result failed(QString message);
    static Result upToDate();

    friend bool operator==(const Result&, const Result&) = default;
};

// The version file's address: the maker's site + "/version.json".
QUrl url();

// Judges a downloaded version file against the running version.
Result judge(const QByteArray& body, const QString& currentVersion);

// True when `candidate` is strictly newer than `current`, comparing the dotted parts as signed
// 64-bit numbers. A part that is not an optional sign followed by ASCII digits (and nothing else,
// not even a blank) is dropped; a missing part counts as 0.
bool isNewer(const QString& candidate, const QString& current);

// Downloads the version file through `fetcher` and hands the judged result to `done` on
// `context`'s thread; nothing is handed back once `context` is gone. Always comes to an end.
void run(const QString& currentVersion, UpdateFetcher& fetcher, QObject* context,
         std::function<void(const Result&)> done);

} // namespace Quandril::App::UpdateCheck
