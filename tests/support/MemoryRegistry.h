// A registry for tests: a PortableRegistry whose roots are in-memory trees
// that the test fills.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/api/PortableRegistry.h"
#include "platform/store/MemoryStore.h"

namespace orbel::testing {

struct MemoryRegistry {
  std::shared_ptr<platform::MemoryStore> machine = std::make_shared<platform::MemoryStore>();
  std::shared_ptr<platform::MemoryStore> user = std::make_shared<platform::MemoryStore>();
  platform::PortableRegistry api;

  MemoryRegistry() {
    api.MountRoot(platform::HKeyLocalMachine, {machine, machine->RootNode(), std::nullopt});
    api.MountRoot(platform::HKeyCurrentUser, {user, user->RootNode(), std::nullopt});
  }

  // Sets the default value (empty name) or a named string value of a
  // machine key, creating the key.
  platform::Store::Node Text(std::string_view path, std::string_view name,
                             std::string_view text) {
    const auto node = machine->EnsurePath(path);
    machine->PutString(node, name, text);
    return node;
  }
};

}  // namespace orbel::testing
