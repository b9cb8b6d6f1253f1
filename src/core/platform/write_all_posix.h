#pragma once
// Writes every byte to a POSIX file descriptor: write() may take fewer bytes than asked or be
// interrupted by a signal, and a file that must not be left half-written needs all of them.
#include <cerrno>
#include <cstddef>
#include <string_view>

#include <unistd.h>

namespace qvoksb
{

inline bool writeAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

} // namespace qvoksb
