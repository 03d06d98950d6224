#pragma once

// Paths as text: which lies in which folder, the last name, the folder above. Nothing here looks at
// the disk.
//
// Two families of containment tests, on purpose: the `below` family is the plain text test
// ("folder" + "/" + more), under which nothing but "//…" lies below "/"; the privacy fence, the
// scanner's overlap test and the cleaner rely on exactly that. `inside` and `within` count every
// other absolute path as inside "/", for callers that compare against the top folder itself (a
// never-touch rule or a drive at "/").

#include <string>
#include <string_view>
#include <vector>

namespace Quandril::Platform {

// A composed and a decomposed spelling of one accented name must compare equal, so paths are
// compared in composed (NFC) form. "/" never composes with its neighbours, so the composed form of a
// path is its composed names joined by "/" and prefix tests stay sound. Plain ASCII is returned as
// it is without asking the normaliser.
std::string composed(std::string_view text);

// `path` is `folder` followed by "/" and at least one more character.
bool below(std::string_view path, std::string_view folder);
// `path` is `folder` or below it.
bool atOrBelow(std::string_view path, std::string_view folder);
// At or below one of `folders`.
bool atOrBelowAny(std::string_view path, const std::vector<std::string>& folders);
// Equal, or one below the other.
bool overlaps(std::string_view a, std::string_view b);

// Strictly inside the folder: below it, or any absolute path but "/" itself when the folder is "/".
bool inside(std::string_view path, std::string_view folder);
// The folder itself or inside it.
bool within(std::string_view path, std::string_view folder);

// Everything after the last "/"; the text itself when there is none.
std::string lastComponent(std::string_view path);
// The last name with trailing slashes ignored ("a/b/" gives "b"); empty for "/" and "".
// A view into `path`.
std::string_view lastName(std::string_view path);
// Everything before the last "/": "/" for an item at the top, "." when there is no "/".
std::string parentOf(std::string_view path);
// Trailing slashes dropped, "/" kept as it is.
std::string withoutTrailingSlashes(std::string path);
// `folder` + "/" + `rest`, with no "/" doubled where they meet ("/" and "a" give "/a").
std::string joinPath(std::string_view folder, std::string_view rest);

// The absolute path the text names: repeated "/", "." and a final "/" dropped, ".." taking back the
// name before it (never past the top). A text without a leading "/" is read from the top folder.
// Links are not looked at, so a ".." after a link may name another place than the system would.
std::string lexicallyNormal(std::string_view path);
// Whether lexicallyNormal would change an absolute path.
bool isLexicallyNormal(std::string_view path);
// Whether one of the names in `path` is "..": where such a path leads depends on the links and the
// missing folders on its way, so neither its text nor the folders above it say where it is.
bool hasParentName(std::string_view path);

// The text with every `lead` followed by two hex digits ("%2F" for lead "%", "\x20" for lead "\x")
// replaced by the byte they spell; a lead without two hex digits after it stays as it is.
std::string hexUnescaped(std::string_view text, std::string_view lead);

} // namespace Quandril::Platform
