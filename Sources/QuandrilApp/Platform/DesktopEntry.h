#pragma once

// Reading and writing the small key files that desktop environments use for applications and
// autostart entries (.desktop files): the [Desktop Entry] group, the escapes of string values and
// the quoting of the Exec line, so that what we write is read back exactly and what we start is
// exactly what the entry names, with no shell in between.

#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

namespace Quandril::App::DesktopEntry {

// The keys of the [Desktop Entry] group with their values unescaped ("Name[de]" stays its own key;
// the first of repeated keys wins). Absent when the file can't be read or has no such group.
std::optional<QHash<QString, QString>> read(const QString& path);

// The escapes of a string value: backslash, newline, tab and carriage return, and a leading space.
QString escapeValue(QStringView text);
QString unescapeValue(QStringView value);

// A boolean value as desktops write it: "true" / "1" or "false" / "0"; anything else is absent.
std::optional<bool> boolean(const QString& value);

// One argument of an Exec line, always in double quotes, with the characters that still mean
// something inside quotes escaped and "%" doubled. The result is an unescaped value: pass the
// whole line through escapeValue() before writing it.
QString quoteArgument(QStringView argument);

// The program and arguments of an (unescaped) Exec line, with the field codes (%f, %U, %i, ...)
// taken out and "%%" read as "%". Absent when the line is empty, a quote is left open or it holds
// a field code that doesn't exist.
std::optional<QStringList> splitExec(QStringView exec);

} // namespace Quandril::App::DesktopEntry
