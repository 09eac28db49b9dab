// Writing files that must never be left half written (the settings file, .cfg files).
#pragma once

#include <string>

// Writes bytes to a temporary file in the folder of path, flushes it to disk and renames it
// over path, so a reader sees either the earlier file or the complete new one. On any failure
// the temporary file is removed, an earlier file of that name stays as it was, false is
// returned and *error (when given) says which step failed and why. A file that exists and may
// not be written (read-only) is not replaced. A path that is a symbolic link replaces the file
// the link points to, keeping the link.
bool WriteFileAtomic(const std::string& path, const std::string& bytes, std::string* error);
