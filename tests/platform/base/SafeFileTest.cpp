#include "platform/base/SafeFile.h"

#include <gtest/gtest.h>

// FIFOs and devices are what this refuses; Windows has neither by name.
#ifndef _WIN32

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace orbel::platform {
namespace {

namespace fs = std::filesystem;

// Only regular files are read; a FIFO with no writer must be refused at
// once, not block the reader on open.
TEST(SafeFileTest, ReadsRegularFilesOnly) {
  const fs::path dir = fs::temp_directory_path() / ("orbel-safe-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "file") << "regf and more";
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  struct Case {
    fs::path path;
    std::uint64_t maxSize;
    const char* error;  // nullptr: read
  };
  const Case cases[] = {
      {dir / "file", 64, nullptr},
      {dir / "file", 4, "larger than the 4 bytes read"},
      {dir / "fifo", 64, "a FIFO, not a regular file"},
      {dir, 64, "a folder, not a regular file"},
      {"/dev/null", 64, "a device, not a regular file"},
      {dir / "missing", 64, "cannot be opened"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path.string() + " " + std::to_string(c.maxSize));
    std::vector<std::byte> bytes;
    std::string error;
    const bool ok = ReadRegularFile(c.path, c.maxSize, bytes, error);
    EXPECT_EQ(ok, c.error == nullptr) << error;
    if (c.error) {
      EXPECT_NE(error.find(c.error), std::string::npos) << error;
    } else {
      EXPECT_EQ(bytes.size(), 13u);
    }
  }
  std::vector<std::byte> head;
  std::string error;
  ASSERT_TRUE(ReadRegularFileHead(dir / "file", 4, head, error)) << error;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(head.data()), head.size()), "regf");
  EXPECT_FALSE(ReadRegularFileHead(dir / "fifo", 4, head, error));
  fs::remove_all(dir);
}

}  // namespace
}  // namespace orbel::platform

#endif  // _WIN32
