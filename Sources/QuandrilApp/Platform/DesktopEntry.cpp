#include "QuandrilApp/Platform/DesktopEntry.h"

#include "QuandrilApp/Platform/LocalFile.h"

namespace Quandril::App::DesktopEntry {

namespace {

// Entries are a few hundred bytes; anything far larger in an applications folder is not one.
constexpr qint64 maxEntryBytes = 1 << 20;

bool isFieldCode(QChar c)
{
    return QStringView(u"fFuUdDnNickvm").contains(c);
}

} // namespace

std::optional<QHash<QString, QString>> read(const QString& path)
{
    // Entries are often links into a package's own folder, so links are read through; what they
    // reach must still be a regular file.
    const auto bytes = LocalFile::read(path, maxEntryBytes, LocalFile::Links::follow);
    if (!bytes)
        return std::nullopt;
    const QString text = QString::fromUtf8(*bytes);

    QHash<QString, QString> keys;
    bool found = false;
    bool inGroup = false;
    for (QStringView line : QStringView(text).split(u'\n')) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[') && line.endsWith(u']')) {
            // Only the first [Desktop Entry] group counts.
            inGroup = !found && line.sliced(1, line.size() - 2) == u"Desktop Entry";
            found = found || inGroup;
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (!inGroup || equals <= 0)
            continue;
        const QString key = line.first(equals).trimmed().toString();
        if (!keys.contains(key))
            keys.insert(key, unescapeValue(line.sliced(equals + 1).trimmed()));
    }
    if (!found)
        return std::nullopt;
    return keys;
}

QString escapeValue(QStringView text)
{
    QString out;
    out.reserve(text.size() + 8);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\\')
            out += u"\\\\";
        else if (c == u'\n')
            out += u"\\n";
        else if (c == u'\t')
            out += u"\\t";
        else if (c == u'\r')
            out += u"\\r";
        else if (c == u' ' && i == 0)
            out += u"\\s";
        else
            out += c;
    }
    return out;
}

QString unescapeValue(QStringView value)
{
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (c != u'\\' || i + 1 == value.size()) {
            out += c;
            continue;
        }
        const QChar next = value[i + 1];
        switch (next.unicode()) {
        case u's':
            out += u' ';
            break;
        case u'n':
            out += u'\n';
            break;
        case u't':
            out += u'\t';
            break;
        case u'r':
            out += u'\r';
            break;
        case u'\\':
            out += u'\\';
            break;
        default:
            // Not a string escape: left for the reader of the value (list separators, Exec quoting).
            out += c;
            out += next;
            break;
        }
        ++i;
    }
    return out;
}

std::optional<bool> boolean(const QString& value)
{
    if (value == u"true" || value == u"1")
        return true;
    if (value == u"false" || value == u"0")
        return false;
    return std::nullopt;
}

QString quoteArgument(QStringView argument)
{
    QString out = QStringLiteral("\"");
    for (const QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            out += u'\\';
        else if (c == u'%')
            out += u'%';
        out += c;
    }
    out += u'"';
    return out;
}

std::optional<QStringList> splitExec(QStringView exec)
{
    QStringList arguments;
    QString current;
    // Whether the argument being read holds anything to pass on: a character or a pair of quotes.
    // An argument made only of field codes ("%U") disappears with them.
    bool keep = false;
    bool quoted = false;
    auto finish = [&] {
        if (keep)
            arguments.append(current);
        current.clear();
        keep = false;
    };

    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (c == u'%') {
            if (i + 1 == exec.size())
                return std::nullopt;
            const QChar code = exec[++i];
            if (code == u'%') {
                current += u'%';
                keep = true;
            } else if (!isFieldCode(code)) {
                return std::nullopt;
            }
        } else if (quoted) {
            if (c == u'"') {
                quoted = false;
            } else if (c == u'\\' && i + 1 < exec.size() && QStringView(u"\"`$\\").contains(exec[i + 1])) {
                current += exec[++i];
            } else {
                current += c;
            }
        } else if (c == u' ' || c == u'\t' || c == u'\n') {
            finish();
        } else if (c == u'"') {
            quoted = true;
            keep = true;
        } else {
            current += c;
            keep = true;
        }
    }
    if (quoted)
        return std::nullopt;
    finish();
    if (arguments.isEmpty() || arguments.front().isEmpty())
        return std::nullopt;
    return arguments;
}

} // namespace Quandril::App::DesktopEntry
