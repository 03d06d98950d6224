#pragma once

// Reading and replacing the small files the app keeps or looks at (its preferences, desktop
// entries), so that whatever stands at a path can neither stall the app nor redirect a write.
// Opening never waits: a named pipe, a socket or a device in a file's place is refused, not read,
// and only a regular file up to a given size is read. A replacement is written beside the path and
// renamed over it, so a link there is itself replaced and whatever it points at stays untouched.

#include <QByteArray>
#include <QString>

#include <optional>

namespace Quandril::App::LocalFile {

enum class Links { follow, refuse };

// The whole regular file at `path`; absent when it can't be opened or read to the end, with the
// error number in `error`: ENOENT when nothing is there, ELOOP for a link that `links` refuses,
// EINVAL for a pipe, socket or device, EISDIR for a folder, EFBIG when it is longer than `maxBytes`.
std::optional<QByteArray> read(const QString& path, qint64 maxBytes, Links links, int* error = nullptr);

// Puts a regular file holding `bytes` at `path`, whole or not at all: a temporary file in the same
// folder is written, flushed to disk and renamed over whatever stands at the path. A regular file
// replaced keeps its permissions; anything else gives way to a file only the user can read (0600).
// On failure the old entry stays as it was, and the answer says why in one phrase.
std::optional<QString> replace(const QString& path, const QByteArray& bytes);

// Moves whatever stands at `path` (the entry itself: a link is not followed, a pipe not opened) to
// the first free name of `path + suffix`, `path + suffix + "-2"`, "-3" and so on, never over an
// entry already there. Nothing at `path` is fine. On failure, one phrase saying why.
std::optional<QString> keepAside(const QString& path, QStringView suffix);

} // namespace Quandril::App::LocalFile
