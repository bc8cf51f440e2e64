#include "replay.h"

#include <chrono>
#include <cstdint>
#include <cstdio>

#include "explain_table.h"
#include "plugin.h"
#include "program_source.h"
#include "replay_host.h"
#include "report.h"

namespace ncdrill_replay {
namespace {

constexpr const char* kDefaultTableName = "VONDRIX_4.txt";

// Feeds every block of the program to the interpreter. Returns kExitOk, or
// kExitFailed with `error` set.
int FeedProgram(BlockSource& source, ncdrill::Session& session, ReplayHandler& handler,
                std::string& error) {
  RunSummary& summary = handler.summary();
  std::size_t line = 0;
  std::string_view text;
  while (source.Next(line, text, error)) {
    handler.SetBlock(line, text);
    ++summary.blocks;
    if (session.Interpret(text)) ++summary.returnedTrue;
  }
  return error.empty() ? kExitOk : kExitFailed;
}

}  // namespace

std::string PluginPath(const Options& options) {
  return options.plugin ? *options.plugin : DefaultPluginPath();
}

std::string PluginTablePath(const Options& options) {
  const std::string name =
      options.tableName && !options.tableName->empty() ? *options.tableName : kDefaultTableName;
  return FolderOf(AsLoadablePath(PluginPath(options))) + name;
}

const char* OrNull(const std::optional<std::string>& name) {
  return name ? name->c_str() : nullptr;
}

int Replay(const Options& options, std::string& error) {
  const std::vector<Program> programs = ProgramsOf(options);
  BlockSource source;
  if (!source.Open(programs.front(), error)) return kExitFailed;
  const std::optional<ncdrill::Plugin> plugin = LoadPlugin(PluginPath(options), error);
  if (!plugin) return kExitFailed;

  std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
  EventWriter writer(options.json ? Format::kJson : Format::kText, false, stdout);
  const std::unique_ptr<Reporter> reporter = MakeReporter(writer, options.quiet);
  ReplayHandler handler(*reporter);
  const auto start = std::chrono::steady_clock::now();
  int status = kExitFailed;
  {
    std::optional<ncdrill::Session> session = OpenSession(
        *plugin, handler, OrNull(options.definitionName), OrNull(options.tableName), error);
    if (!session) return kExitFailed;
    status = FeedProgram(source, *session, handler, error);
  }
  if (status != kExitOk) return status;
  handler.summary().seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  reporter->Summary(handler.summary());
  return kExitOk;
}

int Explain(const Options& options, std::string& error) {
  const std::string table = options.files.empty() ? PluginTablePath(options) : options.files[0];
  return ExplainTable(table, stdout, error) ? kExitOk : kExitFailed;
}

}  // namespace ncdrill_replay
