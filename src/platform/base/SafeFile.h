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

// A regular file opened for reads at chosen offsets, under the same rules:
// for formats whose directory says which few parts of a large file are used.
class RegularFile {
 public:
  RegularFile() = default;
  ~RegularFile();
  RegularFile(const RegularFile&) = delete;
  RegularFile& operator=(const RegularFile&) = delete;

  // false with `error` set (the reason, without the file name) when the
  // file cannot be opened or is not a regular file.
  bool Open(const std::filesystem::path& file, std::string& error);
  std::uint64_t Size() const { return size_; }
  // Reads `length` bytes at `offset` into `out`, fewer when the file ends
  // first; false with `error` set when a read fails.
  bool ReadAt(std::uint64_t offset, std::size_t length, std::vector<std::byte>& out,
              std::string& error);

 private:
#ifdef _WIN32
  std::filesystem::path path_;
#else
  int fd_ = -1;
#endif
  std::uint64_t size_ = 0;
};

// The bytes read from files by this module since the program started: what
// a reading of a large file really cost, for tests and benchmarks.
std::uint64_t FileBytesRead();

#ifndef _WIN32
// Opens `file` for reading without blocking, when it is a regular file: its
// descriptor, with `size` set; -1 with `error` set (the reason, without the
// file name) otherwise.
int OpenRegularFile(const std::filesystem::path& file, std::uint64_t& size, std::string& error);
#endif

}  // namespace orbel::platform
