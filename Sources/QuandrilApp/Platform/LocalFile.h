#pragma once

// Reading the small files the app keeps or looks at (its preferences, desktop entries), so that
// whatever stands at a path can't stall the app. Opening never waits: a named pipe, a socket or a
// device in a file's place is refused, not read, and only a regular file up to a given size is read.

#include <QByteArray>
#include <QString>

#include <optional>

namespace Quandril::App::LocalFile {

enum class Links { follow, refuse };

// The whole regular file at `path`; absent when it can't be opened or read to the end, with the
// error number in `error`: ENOENT when nothing is there, ELOOP for a link that `links` refuses,
// EINVAL for a pipe, socket or device, EISDIR for a folder, EFBIG when it is longer than `maxBytes`.
std::optional<QByteArray> read(const QString& path, qint64 maxBytes, Links links, int* error = nullptr);

} // namespace Quandril::App::LocalFile
