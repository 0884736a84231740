#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/wait.h>
#endif
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>

#include "platform/api/PortableRegistry.h"
#include "platform/base/Text.h"
#include "platform/formats/UserFileStore.h"

namespace orbel::platform {
namespace {

namespace fs = std::filesystem;

std::vector<std::byte> Bytes(std::initializer_list<unsigned> values) {
  std::vector<std::byte> out;
  for (unsigned v : values) out.push_back(static_cast<std::byte>(v));
  return out;
}

// One running copy of the program: its own store on the shared file, behind
// its own registry API.
struct Session {
  std::shared_ptr<UserFileStore> store;
  PortableRegistry api;

  explicit Session(const fs::path& file) : store(std::make_shared<UserFileStore>(file)) {
    api.MountRoot(HKeyCurrentUser, Mount{store, store->RootNode(), std::nullopt});
  }

  Status Set(std::string_view path, std::string_view name, std::string_view text) {
    HKey key{};
    Status status = api.CreateKey(HKeyCurrentUser, path, KEY_ALL_ACCESS, key);
    if (status != kSuccess) return status;
    status = api.SetValue(key, name, REG_SZ, Utf16LeStringValue(text));
    api.CloseKey(key);
    return status;
  }

  // The value as read through a key opened from the root (which re-reads the file).
  std::optional<Value> Get(std::string_view path, std::string_view name) {
    HKey key{};
    if (api.OpenKey(HKeyCurrentUser, path, KEY_READ, key) != kSuccess) return std::nullopt;
    const auto value = Query(key, name);
    api.CloseKey(key);
    return value;
  }

  std::optional<Value> Query(HKey key, std::string_view name) {
    Value value;
    std::uint32_t size = 0;
    if (api.QueryValue(key, name, &value.type, nullptr, &size) != kSuccess) return std::nullopt;
    value.data.resize(size);
    if (api.QueryValue(key, name, &value.type, value.data.data(), &size) != kSuccess) {
      return std::nullopt;
    }
    return value;
  }

  std::string Text(std::string_view path, std::string_view name) {
    const auto value = Get(path, name);
    return value ? Utf16LeToUtf8(value->data) : "<missing>";
  }
};

class UserFileStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() /
              ("orbel-userfile-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    file_ = folder_ / "orbel" / "user.reg";
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(folder_ / "orbel", fs::perms::owner_all, ec);
    fs::remove_all(folder_);
  }
  std::string Contents() const {
    std::ifstream in(file_, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  void Write(std::string_view text) const {
    fs::create_directories(file_.parent_path());
    std::ofstream(file_, std::ios::binary) << text;
  }

  fs::path folder_;
  fs::path file_;
};

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00\r\n\r\n";

TEST_F(UserFileStoreTest, WritesRegistryTextBelowHkeyCurrentUser) {
  Session session(file_);
  ASSERT_EQ(session.Set("Software\\Vell Inc.\\Orbel\\1.0\\View", "Name Width", "150"), kSuccess);
  ASSERT_EQ(session.Set("Software\\Vell Inc.\\Orbel\\1.0\\General", "First Start", "0"), kSuccess);
  HKey view{};
  ASSERT_EQ(session.api.OpenKey(HKeyCurrentUser, "software\\VELL INC.\\orbel\\1.0\\view",
                                KEY_ALL_ACCESS, view),
            kSuccess);
  ASSERT_EQ(session.api.SetValue(view, "Count", REG_DWORD, Bytes({0x2a, 0, 0, 0})), kSuccess);
  ASSERT_EQ(session.api.SetValue(view, "", REG_SZ, Utf16LeStringValue("C:\\dir \"q\"")), kSuccess);
  HKey window{};
  ASSERT_EQ(session.api.CreateKey(HKeyCurrentUser, "Software\\Vell Inc.\\Orbel\\1.0\\Window",
                                  KEY_ALL_ACCESS, window),
            kSuccess);
  EXPECT_EQ(session.store->LastError(), "");
  EXPECT_EQ(Contents(), std::string(kHeader) +
                            "[HKEY_CURRENT_USER\\Software\\Vell Inc.\\Orbel\\1.0\\General]\r\n"
                            "\"First Start\"=\"0\"\r\n\r\n"
                            "[HKEY_CURRENT_USER\\Software\\Vell Inc.\\Orbel\\1.0\\View]\r\n"
                            "\"Name Width\"=\"150\"\r\n"
                            "\"Count\"=dword:0000002a\r\n"
                            "@=\"C:\\\\dir \\\"q\\\"\"\r\n\r\n"
                            "[HKEY_CURRENT_USER\\Software\\Vell Inc.\\Orbel\\1.0\\Window]\r\n\r\n");
  // The folder was created, and no temporary file is left in it.
  EXPECT_EQ(std::distance(fs::directory_iterator(file_.parent_path()), {}), 1);
  EXPECT_EQ(session.api.CloseKey(view), kSuccess);
  EXPECT_EQ(session.api.CloseKey(window), kSuccess);
}

TEST_F(UserFileStoreTest, TwoCopiesKeepEachOthersValuesAndTheLastWriterWins) {
  Session first(file_);
  Session second(file_);
  HKey view{};
  ASSERT_EQ(first.api.CreateKey(HKeyCurrentUser, "App\\View", KEY_ALL_ACCESS, view), kSuccess);
  ASSERT_EQ(second.Set("App\\View", "Width", "10"), kSuccess);
  // The first copy writes through the key it held all along, without reopening it.
  ASSERT_EQ(first.api.SetValue(view, "Height", REG_SZ, Utf16LeStringValue("20")), kSuccess);
  Session third(file_);
  EXPECT_EQ(third.Text("App\\View", "Width"), "10");
  EXPECT_EQ(third.Text("App\\View", "Height"), "20");

  ASSERT_EQ(second.Set("App\\View", "Height", "21"), kSuccess);
  ASSERT_EQ(first.api.SetValue(view, "Height", REG_SZ, Utf16LeStringValue("22")), kSuccess);
  EXPECT_EQ(third.Text("App\\View", "Height"), "22");
  EXPECT_EQ(third.Text("App\\View", "Width"), "10");
  // A key opened afresh sees what the other copy wrote.
  EXPECT_EQ(second.Text("App\\View", "Height"), "22");
}

TEST_F(UserFileStoreTest, HandWrittenTypesSurviveARewrite) {
  Write(std::string(kHeader) +
        "[HKEY_CURRENT_USER\\App\\Window]\r\n"
        "\"Left\"=dword:0000002a\r\n"
        "\"Path\"=hex(2):25,00,41,00,25,00,00,00\r\n"
        "\"Raw\"=hex:01,02\r\n");
  Session session(file_);
  ASSERT_EQ(session.Set("App\\Window", "Top", "x"), kSuccess);
  EXPECT_EQ(Contents(), std::string(kHeader) +
                            "[HKEY_CURRENT_USER\\App\\Window]\r\n"
                            "\"Left\"=dword:0000002a\r\n"
                            "\"Path\"=hex(2):25,00,41,00,25,00,00,00\r\n"
                            "\"Raw\"=hex:01,02\r\n"
                            "\"Top\"=\"x\"\r\n\r\n");
  Session later(file_);
  const auto left = later.Get("App\\Window", "Left");
  ASSERT_TRUE(left);
  EXPECT_EQ(left->type, REG_DWORD);
  EXPECT_EQ(left->data, Bytes({0x2a, 0, 0, 0}));
  const auto path = later.Get("App\\Window", "Path");
  ASSERT_TRUE(path);
  EXPECT_EQ(path->type, REG_EXPAND_SZ);
}

TEST_F(UserFileStoreTest, ReadsAUtf16FileAsRegeditWritesIt) {
  std::string bytes = "\xFF\xFE";
  for (char c : std::string(kHeader) + "[HKEY_CURRENT_USER\\App]\r\n\"Name\"=\"v\"\r\n") {
    bytes += c;
    bytes += '\0';
  }
  Write(bytes);
  Session session(file_);
  EXPECT_EQ(session.Text("App", "Name"), "v");
}

TEST_F(UserFileStoreTest, FolderThatCannotBeCreatedFailsTheWrite) {
  std::ofstream(folder_ / "blocker") << "a file, not a folder";
  Session session(folder_ / "blocker" / "orbel" / "user.reg");
  HKey key{};
  EXPECT_EQ(session.api.CreateKey(HKeyCurrentUser, "App", KEY_ALL_ACCESS, key), kAccessDenied);
  EXPECT_NE(session.store->LastError().find("cannot create the folder"), std::string::npos)
      << session.store->LastError();
  EXPECT_EQ(session.api.OpenKey(HKeyCurrentUser, "App", KEY_READ, key), kFileNotFound);
}

TEST_F(UserFileStoreTest, ReadOnlyFolderFailsTheWriteAndKeepsTheOldFile) {
#ifdef _WIN32
  GTEST_SKIP() << "folder permission bits and forked children are POSIX's";
#else
  const std::string old = std::string(kHeader) + "[HKEY_CURRENT_USER\\App]\r\n\"Old\"=\"1\"\r\n";
  Write(old);
  fs::permissions(file_.parent_path(), fs::perms::owner_read | fs::perms::owner_exec |
                                           fs::perms::group_read | fs::perms::group_exec |
                                           fs::perms::others_read | fs::perms::others_exec);
  // Permissions do not bind root, so the write runs in a child as an ordinary user.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(77);
    Session session(file_);
    HKey app{};
    if (session.api.OpenKey(HKeyCurrentUser, "App", KEY_ALL_ACCESS, app) != kSuccess) ::_exit(10);
    if (session.api.SetValue(app, "New", REG_SZ, Utf16LeStringValue("2")) != kAccessDenied) {
      ::_exit(11);
    }
    if (session.store->LastError().find(file_.string()) == std::string::npos) ::_exit(12);
    // The tree in memory stays what the file holds.
    if (session.Query(app, "New")) ::_exit(13);
    if (session.Text("App", "Old") != "1") ::_exit(14);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "cannot drop root privileges here";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "failed check number " << WEXITSTATUS(status);
  EXPECT_EQ(Contents(), old);
  EXPECT_EQ(std::distance(fs::directory_iterator(file_.parent_path()), {}), 1);
#endif
}

TEST_F(UserFileStoreTest, OpenKeysFollowTheirPathAcrossRereads) {
  Write(std::string(kHeader) + "[HKEY_CURRENT_USER\\App\\Zeta]\r\n\"Name\"=\"zeta\"\r\n");
  Session session(file_);
  HKey zeta{};
  ASSERT_EQ(session.api.OpenKey(HKeyCurrentUser, "App\\Zeta", KEY_ALL_ACCESS, zeta), kSuccess);
  // Another copy adds keys that come before Zeta in the file, which renumbers the tree.
  Session other(file_);
  ASSERT_EQ(other.Set("App\\Alpha", "Name", "alpha"), kSuccess);
  ASSERT_EQ(other.Set("App\\Beta\\Deep", "Name", "deep"), kSuccess);
  HKey app{};
  ASSERT_EQ(session.api.OpenKey(HKeyCurrentUser, "App", KEY_READ, app), kSuccess);
  const auto name = session.Query(zeta, "Name");
  ASSERT_TRUE(name);
  EXPECT_EQ(Utf16LeToUtf8(name->data), "zeta");
  std::vector<std::string> subkeys;
  std::string subkey;
  for (std::uint32_t i = 0; session.api.EnumKey(app, i, subkey) == kSuccess; ++i) {
    subkeys.push_back(subkey);
  }
  EXPECT_EQ(subkeys, (std::vector<std::string>{"Alpha", "Beta", "Zeta"}));

  // Zeta is removed by hand: the open key answers "not found", and a write re-creates it.
  Write(std::string(kHeader) + "[HKEY_CURRENT_USER\\App\\Alpha]\r\n");
  session.store->Refresh();
  EXPECT_FALSE(session.Query(zeta, "Name"));
  KeyFigures figures;
  EXPECT_EQ(session.api.QueryInfoKey(zeta, figures), kFileNotFound);
  ASSERT_EQ(session.api.SetValue(zeta, "Name", REG_SZ, Utf16LeStringValue("back")), kSuccess);
  EXPECT_EQ(Contents(), std::string(kHeader) + "[HKEY_CURRENT_USER\\App\\Alpha]\r\n\r\n" +
                            "[HKEY_CURRENT_USER\\App\\Zeta]\r\n\"Name\"=\"back\"\r\n\r\n");
}

TEST_F(UserFileStoreTest, NodeIdsNamePathsWithoutRegardToCase) {
  Write(std::string(kHeader) + "[HKEY_CURRENT_USER\\App\\Key]\r\n");
  UserFileStore store(file_);
  Store::Node app = 0, key = 0, again = 0, appAgain = 0;
  ASSERT_EQ(store.FindChild(store.RootNode(), "App", app), kSuccess);
  ASSERT_EQ(store.FindChild(app, "Key", key), kSuccess);
  EXPECT_NE(app, key);
  store.Refresh();
  ASSERT_EQ(store.FindChild(store.RootNode(), "APP", appAgain), kSuccess);
  ASSERT_EQ(store.FindChild(appAgain, "kEY", again), kSuccess);
  EXPECT_EQ(appAgain, app);
  EXPECT_EQ(again, key);
  KeyFigures figures;
  EXPECT_EQ(store.Figures(12345, figures), kInvalidHandle);
  Store::Node out = 0;
  EXPECT_EQ(store.FindChild(app, "Key\\Deeper", out), kFileNotFound);
  EXPECT_EQ(store.CreateChild(app, "Bad\nName", out), kInvalidParameter);
  EXPECT_EQ(store.SetValue(key, "Bad\rName", REG_SZ, Utf16LeStringValue("x")), kInvalidParameter);
  EXPECT_EQ(Contents(), std::string(kHeader) + "[HKEY_CURRENT_USER\\App\\Key]\r\n");
}

TEST_F(UserFileStoreTest, MalformedFileKeepsWhatReads) {
  Write(std::string(kHeader) +
        "[HKEY_CURRENT_USER\\App]\r\n"
        "\"Good\"=\"yes\"\r\n"
        "this is not a value\r\n"
        "\"Bad\"=dword:xyz\r\n"
        "\"Also\"=\"kept\"\r\n"
        "[HKEY_LOCAL_MACHINE\\Software]\r\n"
        "\"Foreign\"=\"x\"\r\n");
  Session session(file_);
  EXPECT_EQ(session.Text("App", "Good"), "yes");
  EXPECT_EQ(session.Text("App", "Also"), "kept");
  EXPECT_FALSE(session.Get("App", "Bad"));
  const std::string& problem = session.store->ReadProblem();
  EXPECT_NE(problem.find(file_.string() + ": line 5: "), std::string::npos) << problem;
  EXPECT_NE(problem.find(file_.string() + ": line 6: "), std::string::npos) << problem;
  EXPECT_NE(problem.find("1 keys outside HKEY_CURRENT_USER"), std::string::npos) << problem;
  ASSERT_EQ(session.Set("App", "New", "1"), kSuccess);
  EXPECT_EQ(Contents(), std::string(kHeader) +
                            "[HKEY_CURRENT_USER\\App]\r\n"
                            "\"Good\"=\"yes\"\r\n\"Also\"=\"kept\"\r\n\"New\"=\"1\"\r\n\r\n");
  EXPECT_EQ(session.store->ReadProblem(), "");
}

TEST_F(UserFileStoreTest, FileThatIsNoRegistryTextIsNeitherReadNorOverwritten) {
  Write("hello\n");
  Session session(file_);
  HKey key{};
  EXPECT_EQ(session.api.OpenKey(HKeyCurrentUser, "App", KEY_READ, key), kCantRead);
  EXPECT_EQ(session.api.CreateKey(HKeyCurrentUser, "App", KEY_ALL_ACCESS, key), kCantRead);
  EXPECT_EQ(session.api.SetValue(HKeyCurrentUser, "Top", REG_SZ, Utf16LeStringValue("x")),
            kCantRead);
  EXPECT_NE(session.store->LastError().find("not a registry file"), std::string::npos)
      << session.store->LastError();
  EXPECT_NE(session.store->ReadProblem().find(file_.string()), std::string::npos);
  EXPECT_EQ(Contents(), "hello\n");
}

TEST_F(UserFileStoreTest, MissingOrEmptyFileIsAnEmptyTree) {
  {
    Session session(file_);
    HKey key{};
    EXPECT_EQ(session.api.OpenKey(HKeyCurrentUser, "App", KEY_READ, key), kFileNotFound);
    EXPECT_EQ(session.store->ReadProblem(), "");
    EXPECT_FALSE(fs::exists(file_.parent_path())) << "reading created the folder";
  }
  Write("");
  Session session(file_);
  ASSERT_EQ(session.Set("App", "A", "1"), kSuccess);
  EXPECT_EQ(session.Text("App", "A"), "1");
}

TEST(UserFileStoreDefaultFile, FollowsXdgConfigHomeThenHome) {
#ifdef _WIN32
  GTEST_SKIP() << "the cases are POSIX absolute paths, which Windows takes as relative";
#endif
  using Env = std::map<std::string, std::string>;
  const struct {
    Env environment;
    fs::path expected;
  } cases[] = {
      {{{"XDG_CONFIG_HOME", "/x/cfg"}, {"HOME", "/home/u"}}, "/x/cfg/orbel/user.reg"},
      {{{"HOME", "/home/u"}}, "/home/u/.config/orbel/user.reg"},
      {{{"XDG_CONFIG_HOME", ""}, {"HOME", "/home/u"}}, "/home/u/.config/orbel/user.reg"},
      {{{"XDG_CONFIG_HOME", "relative"}, {"HOME", "/home/u"}}, "/home/u/.config/orbel/user.reg"},
      {{{"XDG_CONFIG_HOME", "/x/cfg"}}, "/x/cfg/orbel/user.reg"},
      {{{"HOME", ""}}, ""},
      {{}, ""},
  };
  for (const auto& c : cases) {
    const auto lookup = [&](const char* name) -> std::optional<std::string> {
      const auto it = c.environment.find(name);
      return it == c.environment.end() ? std::nullopt : std::optional(it->second);
    };
    EXPECT_EQ(UserFileStore::DefaultFile(lookup), c.expected) << c.expected;
  }
}

}  // namespace
}  // namespace orbel::platform
