// A host built against an installed ncdrill with the host helper: loads the
// installed plug-in with its installed default table, feeds it a tool request
// and a drill cycle, and checks what comes back. Prints what went wrong and
// exits 1 on any difference.
#include <ncdrill/host.hpp>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Seen : ncdrill::Handler {
  void OnDefinitionPath(std::string_view path) override { definitionPath = path; }
  void OnDrillBlock(const ncdrill::DrillBlock& block) override {
    ++drillBlocks;
    terminal = block.terminalNumber();
    records = block.records().size();
    selections.assign(block.selections().begin(), block.selections().end());
  }
  std::string definitionPath;
  int drillBlocks = 0;
  std::int32_t terminal = 0;
  std::size_t records = 0;
  std::vector<Selection> selections;
};

int Check(bool ok, const char* what) {
  if (!ok) std::fprintf(stderr, "installed plug-in: %s\n", what);
  return ok ? 0 : 1;
}

}  // namespace

int main() {
  Seen seen;
  bool requested = false;
  try {
    ncdrill::Session session = ncdrill::Plugin(NCDRILL_PLUGIN_FILE).Open(seen);
    requested = session.Interpret("T15 M6");
    session.Interpret("G83 Z-5.");
  } catch (const std::exception& e) {
    return Check(false, e.what());
  }
  return Check(seen.definitionPath == NCDRILL_PLUGIN_DIR "/VONDRIX_4.xml", "definition path") |
         Check(requested, "T15 M6 returned false") |
         Check(seen.drillBlocks == 1 && seen.terminal == -83 && seen.records == 25,
               "no G83 drill block: table?") |
         Check(seen.selections.size() == 1 && seen.selections[0].slot == 12 &&
                   seen.selections[0].requested == 15,
               "T15 did not resolve to tool 12");
}
