#pragma once

// Writing the large trees benchmarks measure: one open and one write per file, since building
// hundreds of thousands of files through the fixture builders would take longer than the runs.

#include <cstddef>
#include <cstdint>
#include <string>

namespace Quandril::Testing {

// A file of `bytes` bytes ("x" repeated) at a real path whose folder exists. Throws
// std::runtime_error when it cannot be written in full.
void makeFile(const std::string& path, std::size_t bytes);

// `folders` folders under `base`, sixteen to a group folder, each with `files` small files whose
// sizes `seed` varies; returns how many files were written.
std::int64_t fillFolders(const std::string& base, int folders, int files, int seed);

} // namespace Quandril::Testing
