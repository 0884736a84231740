#include "platform/base/SafeFile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <system_error>

#ifdef _WIN32
#include <fstream>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace orbel::platform {
namespace {

std::atomic<std::uint64_t> bytesRead{0};

std::string ErrnoText(int error) { return std::generic_category().message(error); }

// "256 MiB", "1 GiB" or a number of bytes.
std::string SizeText(std::uint64_t size) {
  if (size >= (1ull << 30) && size % (1ull << 30) == 0) return std::to_string(size >> 30) + " GiB";
  if (size >= (1ull << 20) && size % (1ull << 20) == 0) return std::to_string(size >> 20) + " MiB";
  return std::to_string(size) + " bytes";
}

std::string TooLarge(std::uint64_t size, std::uint64_t maxSize) {
  return std::to_string(size) + " bytes, larger than the " + SizeText(maxSize) + " read";
}

#ifndef _WIN32

std::string KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  return "not a regular file";
}

// Reads up to `limit` bytes from `fd`, stopping early at the end of the file.
bool ReadUpTo(int fd, std::uint64_t limit, std::vector<std::byte>& out, std::string& error) {
  out.clear();
  // Grown as bytes arrive, so that a size reported falsely reserves nothing.
  constexpr std::size_t kChunk = std::size_t{1} << 20;
  std::uint64_t done = 0;
  while (done < limit) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, limit - done));
    out.resize(static_cast<std::size_t>(done) + want);
    const ssize_t got = ::pread(fd, out.data() + done, want, static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      error = "read failed after " + std::to_string(done) + " bytes: " + ErrnoText(errno);
      out.clear();
      return false;
    }
    if (got == 0) break;
    done += static_cast<std::uint64_t>(got);
  }
  out.resize(static_cast<std::size_t>(done));
  bytesRead += done;
  return true;
}

// Reads up to `length` bytes of `fd` from `offset` into `out`.
bool ReadRange(int fd, std::uint64_t offset, std::size_t length, std::vector<std::byte>& out,
               std::string& error) {
  out.resize(length);
  std::size_t done = 0;
  while (done < length) {
    const ssize_t got =
        ::pread(fd, out.data() + done, length - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      error = "read failed at offset " + std::to_string(offset + done) + ": " + ErrnoText(errno);
      out.clear();
      return false;
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  out.resize(done);
  bytesRead += done;
  return true;
}

}  // namespace

int OpenRegularFile(const std::filesystem::path& file, std::uint64_t& size, std::string& error) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    error = "cannot be opened: " + ErrnoText(errno);
    return -1;
  }
  struct stat info;
  if (::fstat(fd, &info) != 0) {
    error = "cannot be examined: " + ErrnoText(errno);
    ::close(fd);
    return -1;
  }
  if (!S_ISREG(info.st_mode)) {
    const std::string kind = KindOf(info.st_mode);
    error = kind == "not a regular file" ? kind : kind + ", not a regular file";
    ::close(fd);
    return -1;
  }
  size = static_cast<std::uint64_t>(info.st_size);
  return fd;
}

namespace {

bool Read(const std::filesystem::path& file, std::uint64_t maxSize, bool refuseLarger,
          std::vector<std::byte>& out, std::string& error) {
  std::uint64_t size = 0;
  const int fd = OpenRegularFile(file, size, error);
  if (fd < 0) return false;
  if (refuseLarger && size > maxSize) {
    error = TooLarge(size, maxSize);
    ::close(fd);
    return false;
  }
  const bool ok = ReadUpTo(fd, std::min(size, maxSize), out, error);
  ::close(fd);
  return ok;
}

#else

// Windows reads through RegularFile, below.
bool Read(const std::filesystem::path& file, std::uint64_t maxSize, bool refuseLarger,
          std::vector<std::byte>& out, std::string& error) {
  RegularFile opened;
  if (!opened.Open(file, error)) return false;
  if (refuseLarger && opened.Size() > maxSize) {
    error = TooLarge(opened.Size(), maxSize);
    return false;
  }
  const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(opened.Size(), maxSize));
  return opened.ReadAt(0, length, out, error);
}

#endif

}  // namespace

bool ReadRegularFile(const std::filesystem::path& file, std::uint64_t maxSize,
                     std::vector<std::byte>& out, std::string& error) {
  return Read(file, maxSize, true, out, error);
}

std::uint64_t FileBytesRead() { return bytesRead; }

#ifndef _WIN32

RegularFile::~RegularFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool RegularFile::Open(const std::filesystem::path& file, std::string& error) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = OpenRegularFile(file, size_, error);
  return fd_ >= 0;
}

bool RegularFile::ReadAt(std::uint64_t offset, std::size_t length, std::vector<std::byte>& out,
                         std::string& error) {
  if (fd_ < 0) {
    error = "not open";
    return false;
  }
  return ReadRange(fd_, offset, length, out, error);
}

#else

RegularFile::~RegularFile() = default;

bool RegularFile::Open(const std::filesystem::path& file, std::string& error) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec)) {
    error = ec ? "cannot be opened: " + ec.message() : "not a regular file";
    return false;
  }
  size_ = std::filesystem::file_size(file, ec);
  if (ec) {
    error = "cannot be examined: " + ec.message();
    return false;
  }
  path_ = file;
  return true;
}

bool RegularFile::ReadAt(std::uint64_t offset, std::size_t length, std::vector<std::byte>& out,
                         std::string& error) {
  std::ifstream in(path_, std::ios::binary);
  if (!in || !in.seekg(static_cast<std::streamoff>(offset))) {
    error = "cannot be read at offset " + std::to_string(offset);
    out.clear();
    return false;
  }
  out.assign(length, std::byte{0});
  in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(length));
  if (in.bad()) {
    error = "read failed at offset " + std::to_string(offset) + ": " + ErrnoText(errno);
    out.clear();
    return false;
  }
  out.resize(static_cast<std::size_t>(in.gcount()));
  bytesRead += out.size();
  return true;
}

#endif

bool ReadRegularFileHead(const std::filesystem::path& file, std::size_t count,
                         std::vector<std::byte>& out, std::string& error) {
  return Read(file, count, false, out, error);
}

}  // namespace orbel::platform
