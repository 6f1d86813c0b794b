// Arbitrary job texts through the registry-path reader of the helper, which
// runs with administrator rights on text from another process: no crash,
// the three parts always give back the text, and a root number read is the
// number written.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "AdmUtils.h"

using namespace zv::adm;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const TRegistryPath path = ParseRegistryPath(text);
  const size_t first = text.find('\\');
  if (first == std::string::npos) {
    Check(!path.usable);
  } else {
    const std::string root = text.substr(0, first);
    const std::string rebuilt =
        root + "\\" + (path.subkey.empty() && text.rfind('\\') == first ? "" : path.subkey + "\\") + path.valueName;
    Check(rebuilt == text);
    Check(path.emulated == (root == "HKEU"));
    Check(!path.usable || path.emulated || path.root != 0);
  }

  int32_t number = 0;
  if (ParseRootNumber(text, number)) {
    char decimal[16], hex[16];
    std::snprintf(decimal, sizeof(decimal), "%ld", static_cast<long>(number));
    std::snprintf(hex, sizeof(hex), "$%lX", static_cast<unsigned long>(static_cast<uint32_t>(number)));
    int32_t again = 0;
    Check(ParseRootNumber(decimal, again) && again == number);
    Check(ParseRootNumber(hex, again) && again == number);
  }
  return 0;
}
