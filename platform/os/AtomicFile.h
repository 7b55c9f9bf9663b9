// Whole-file replacement for the small text files the platform stand-ins write (INI files,
// service units): the new contents appear whole or not at all.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace os {

// Writes data to a temporary beside path, flushes it and renames it over path. An existing
// file keeps its permission bits; a new one gets newFileMode (less the umask). Returns 0, or
// the errno value of the step that failed (nothing is left behind then). Without `flush` the
// data is not forced to the disk before the rename: for a file that lives only until the
// program itself has read it back, where a crash loses nothing that is not made again.
int ReplaceFileContents(const std::string& path, std::string_view data, mode_t newFileMode = 0644,
                        bool flush = true);

// The whole file into data. Returns 0, or the errno value (ENOENT for a missing file).
int ReadFileContents(const std::string& path, std::string& data);

}  // namespace os
