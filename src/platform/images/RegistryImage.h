// Registry images: what a name or path given by the user resolves to, and how
// it appears as HKEY_LOCAL_MACHINE of another machine.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/formats/HiveStore.h"
#include "platform/store/Store.h"

namespace orbel::platform {

// Presents a store below a path of virtual keys, so that a SOFTWARE hive
// appears at Software and a classes hive at Software\Classes of a machine.
class PrefixStore : public Store {
 public:
  PrefixStore(std::vector<std::string> prefix, std::shared_ptr<Store> inner);

  Node RootNode() const override;
  Status FindChild(Node parent, std::string_view name, Node& out) override;
  Status Figures(Node node, KeyFigures& out) override;
  Status SubkeyName(Node node, std::uint32_t index, std::string& out) override;
  Status GetValue(Node node, std::string_view name, Value& out) override;
  Status GetValueInfo(Node node, std::string_view name, std::uint32_t& type,
                      std::uint32_t& size) override;
  Status ValueName(Node node, std::uint32_t index, std::string& out) override;
  std::string Notice() const override { return inner_->Notice(); }
  std::optional<LogRecovery> Recovery() const override { return inner_->Recovery(); }
  std::string Damage() const override { return inner_->Damage(); }

 private:
  static constexpr Node kVirtual = Node{1} << 63;
  bool IsVirtual(Node node) const { return (node & kVirtual) != 0; }

  std::vector<std::string> prefix_;
  std::shared_ptr<Store> inner_;
};

enum class ImageKind { WinePrefix, WindowsFolder, SoftwareHive, ClassesHive, RegistryFile };

struct RegistryImage {
  ImageKind kind = ImageKind::RegistryFile;
  std::filesystem::path source;                      // what was opened
  std::shared_ptr<Store> machine;                    // the image's HKEY_LOCAL_MACHINE
  std::optional<std::filesystem::path> driveFolder;  // the folder standing for C:\ .
  std::vector<std::string> warnings;                 // parts that could not be read
};

// How an image is opened: whether a hive is read as its transaction logs
// bring it (the default) or as stored.
struct ImageOptions {
  HiveLogs hiveLogs = HiveLogs::Apply;
};

// Resolves a path to a registry image: a Wine prefix folder (its system.reg),
// a Windows volume or Windows folder (its System32\config\SOFTWARE, names
// matched without regard to case), a SOFTWARE hive, a classes hive such as
// UsrClass.dat (it holds CLSID at its root), or a text registry file. Gives
// nothing and sets `error` when the path is none of these.
std::optional<RegistryImage> OpenRegistryImage(const std::filesystem::path& path,
                                               std::string& error,
                                               const ImageOptions& options = {});

// Finds `relative` (components separated by "/") below `folder`, each
// component matched without regard to case.
std::optional<std::filesystem::path> FindNoCase(const std::filesystem::path& folder,
                                                const std::filesystem::path& relative);

}  // namespace orbel::platform
