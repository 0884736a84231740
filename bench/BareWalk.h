// The least work libhivex needs to read what the catalogue reads of a
// generated hive: every class key's default value and the default value of
// each of its subkeys. Shared by load_benchmark (in process) and bare_walk
// (as a process of its own).
#pragma once

#include <hivex.h>

#include <cstdlib>
#include <cstring>

namespace orbel::bench {

// Reads a key's default value the cheapest way; its size, 0 when it has none.
inline std::size_t ReadDefault(hive_h* hive, hive_node_h node) {
  const hive_value_h value = hivex_node_get_value(hive, node, "");
  if (value == 0) return 0;
  hive_type type = hive_t_REG_NONE;
  std::size_t length = 0;
  if (hivex_value_type(hive, value, &type, &length) != 0) return 0;
  if (type == hive_t_REG_SZ || type == hive_t_REG_EXPAND_SZ) {
    char* text = hivex_value_string(hive, value);
    const std::size_t size = text ? std::strlen(text) : 0;
    std::free(text);
    return size;
  }
  char* data = hivex_value_value(hive, value, &type, &length);
  std::free(data);
  return length;
}

struct WalkResult {
  bool opened = false;
  std::size_t classes = 0;
  std::size_t bytes = 0;
};

// Opens the hive, walks Classes\CLSID and closes it again.
inline WalkResult BareWalk(const char* path) {
  WalkResult result;
  hive_h* h = hivex_open(path, 0);
  if (!h) return result;
  result.opened = true;
  const hive_node_h root = hivex_root(h);
  const hive_node_h classes = root ? hivex_node_get_child(h, root, "Classes") : 0;
  const hive_node_h clsid = classes ? hivex_node_get_child(h, classes, "CLSID") : 0;
  hive_node_h* keys = clsid ? hivex_node_children(h, clsid) : nullptr;
  for (hive_node_h* key = keys; key && *key; ++key, ++result.classes) {
    result.bytes += ReadDefault(h, *key);
    hive_node_h* subkeys = hivex_node_children(h, *key);
    for (hive_node_h* subkey = subkeys; subkey && *subkey; ++subkey) {
      result.bytes += ReadDefault(h, *subkey);
    }
    std::free(subkeys);
  }
  std::free(keys);
  hivex_close(h);
  return result;
}

}  // namespace orbel::bench
