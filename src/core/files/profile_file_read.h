#pragma once
// Reading a profile file's bytes, the same on every platform; only the platforms' profile files
// include this.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace qvoksb
{

// Reads up to room bytes into `into` and returns how many, 0 at the end of the file, or -1 when
// the read failed, having set the error text itself.
using ProfileByteReader = std::function<std::ptrdiff_t(char *into, std::size_t room)>;

// Reads a whole profile file into bytes through readSome. sizeHint is the size the system gave
// for the file; a file larger than ProfileFile::maxFileSize is refused before a byte is read. The
// size is only a hint, as the file may change while it is read: reading stops one byte past the
// limit whatever it said. False with *error set when the file is too large or a read failed.
bool readProfileBytes(const std::string &path, std::uint64_t sizeHint,
                      const ProfileByteReader &readSome, std::string &bytes, std::string *error);

} // namespace qvoksb
