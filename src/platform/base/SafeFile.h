// Reading files whose names come from registrations or from the user: only
// regular files are opened (a FIFO, a device or a socket is refused and
// nothing blocks on open), and the bytes are copied with plain reads, so that
// a file that shrinks or a damaged volume gives a failed read, never SIGBUS.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace orbel::platform {

// Reads the whole of `file` into `out`. Refuses anything but a regular file
// and files larger than `maxSize` bytes. A file that shrinks while it is read
// gives the bytes that were there. false with `error` set (the reason, without
// the file name) on failure.
bool ReadRegularFile(const std::filesystem::path& file, std::uint64_t maxSize,
                     std::vector<std::byte>& out, std::string& error);

// The first `count` bytes of `file` (fewer when it is shorter), under the
// same rules.
bool ReadRegularFileHead(const std::filesystem::path& file, std::size_t count,
                         std::vector<std::byte>& out, std::string& error);

#ifndef _WIN32
// Opens `file` for reading without blocking, when it is a regular file: its
// descriptor, with `size` set; -1 with `error` set (the reason, without the
// file name) otherwise.
int OpenRegularFile(const std::filesystem::path& file, std::uint64_t& size, std::string& error);
#endif

}  // namespace orbel::platform
