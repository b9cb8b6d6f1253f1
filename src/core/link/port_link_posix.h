#pragma once
// The POSIX pieces of a port folder's entries: the folder made as mkdir -p makes it, an entry
// pointed at its target in one step, and what an entry points at. The configurator's port
// chooser and the simulated unit use them.
#include <string>

namespace qvoksb
{

// Creates folder and its parents; returns 0, or the errno of the step that failed (ENOTDIR when
// the path ends at something that is not a folder).
int makeFolders(const std::string &folder);

// Makes link a symbolic link to target. The new link is made beside it and renamed over it, so
// that the entry is either the old one or the new one, never missing. Returns 0 or the errno.
int pointLink(const std::string &link, const std::string &target);

// What the symbolic link points at; empty when path is no link.
std::string linkTarget(const std::string &path);

} // namespace qvoksb
