// Loads the installed plug-in with its installed default table, feeds it a
// tool request and a drill cycle, and checks what comes back. Prints what
// went wrong and exits 1 on any difference.
#include <dlfcn.h>
#include <ncdrill/ncdrill.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct Seen {
  std::string definitionPath;
  int drillBlocks = 0;
  std::int32_t terminal = 0;
  std::uint32_t selections = 0;
  Selection first{};
};

Seen& Of(void* context) { return *static_cast<Seen*>(context); }

void PutDefinitionPath(void* context, const char* path) { Of(context).definitionPath = path; }

void PutRecordChain(void* context, const ChainRecord* record) {
  while (record->next != nullptr) record = record->next;
  Of(context).terminal = record->number;
}

void PutLabelledList(void* context, const char*, const SelectionList* list) {
  Of(context).selections = list->count;
  if (list->count > 0) Of(context).first = list->sentinel->next->selection;
}

void EndBlock(void* context) { ++Of(context).drillBlocks; }

int Check(bool ok, const char* what) {
  if (!ok) std::fprintf(stderr, "installed plug-in: %s\n", what);
  return ok ? 0 : 1;
}

}  // namespace

int main() {
  void* library = dlopen(NCDRILL_PLUGIN_FILE, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return Check(false, dlerror());
  auto getInterpreter = reinterpret_cast<GetInterpreterFn>(dlsym(library, "GetInterpreter"));
  if (getInterpreter == nullptr) return Check(false, "no GetInterpreter");

  Seen seen;
  HostCallbacks host{};
  host.context = &seen;
  host.putDefinitionPath = &PutDefinitionPath;
  host.putRecordChain = &PutRecordChain;
  host.putLabelledList = &PutLabelledList;
  host.endBlock = &EndBlock;
  Interpreter* interpreter = getInterpreter(&host, nullptr, nullptr);
  if (interpreter == nullptr) return Check(false, "no interpreter");
  const bool requested = interpreter->InterpretBlock("T15 M6", 6);
  interpreter->InterpretBlock("G83 Z-5.", 8);
  delete interpreter;
  dlclose(library);

  return Check(seen.definitionPath == NCDRILL_PLUGIN_DIR "/VONDRIX_4.xml", "definition path") |
         Check(requested, "T15 M6 returned false") |
         Check(seen.drillBlocks == 1 && seen.terminal == -83, "no G83 drill block: table?") |
         Check(seen.selections == 1 && seen.first.slot == 12 && seen.first.requested == 15,
               "T15 did not resolve to tool 12");
}
