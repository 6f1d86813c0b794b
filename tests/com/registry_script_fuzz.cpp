// Any script text: parsed without a crash; one that parses applies in both
// modes, and registering it a second time changes nothing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "com/registry_script.h"
#include "memory_registry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An odd first byte wraps the rest in a root block, so that mutations
  // reach the key grammar sooner than from bare bytes.
  std::string text(reinterpret_cast<const char*>(data), size);
  if (size > 0 && (data[0] & 1)) text = "HKCR {\n" + text.substr(1) + "\n}";
  zv::com::ScriptError error;
  const auto script = zv::com::ParseRegistryScript(text, {{"MODULE", "C:\\a 'b'\\m.dll"}}, &error);
  if (!script) {
    if (error.message.empty()) std::abort();  // a failure always says why
    return 0;
  }
  zv::test::MemoryRegistry registry;
  if (zv::com::RegisterScript(*script, registry) != 0) std::abort();
  const auto once = registry.Dump();
  if (zv::com::RegisterScript(*script, registry) != 0) std::abort();
  if (registry.Dump() != once) std::abort();
  zv::com::UnregisterScript(*script, registry, {{zv::com::RootKey::kClassesRoot, "PROTOCOLS\\Handler"}});
  return 0;
}
