#include "plugin_instance.h"

#include <new>

#include "resource.h"

namespace zv::npzorvex {
namespace {

// String ids in the order of `texts`: the state is the index.
constexpr UINT kTextIds[] = {IDS_HANDOFF_FAILED, IDS_HANDOFF_DONE, IDS_PLEASE_WAIT};

}  // namespace

const char* PluginInstance::CurrentText() const {
  if (state < 0 || state >= static_cast<int32_t>(texts.size()) || !texts[state]) return nullptr;
  return texts[state].get();
}

std::unique_ptr<PluginInstance> ConstructInstance(NPP instance, HINSTANCE module) {
  std::unique_ptr<PluginInstance> record(new (std::nothrow) PluginInstance);
  if (!record) return nullptr;
  record->instance = instance;
  record->module = module;
  for (size_t i = 0; i < record->texts.size(); ++i) {
    record->texts[i].reset(new (std::nothrow) char[kTextBufferSize]);
    if (!record->texts[i]) return nullptr;
    // A missing entry leaves an empty line rather than stale bytes.
    record->texts[i][0] = '\0';
    LoadStringA(module, kTextIds[i], record->texts[i].get(), static_cast<int>(kTextBufferSize));
  }
  record->icon = LoadIconA(module, MAKEINTRESOURCEA(IDI_PLUGIN));
  return record;
}

PluginInstance* RecordOf(NPP instance) { return instance ? static_cast<PluginInstance*>(instance->pdata) : nullptr; }

}  // namespace zv::npzorvex
