// strata: inspect, extract from and write ZTX slides.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "strata/version.h"
#include "tools/command.h"

namespace strata::tools {

#define STRATA_COMMAND_GROUP(name) std::vector<Command> name();
#include "tools/command_groups.def"
#undef STRATA_COMMAND_GROUP

namespace {

const CommandGroup kCommandGroups[] = {
#define STRATA_COMMAND_GROUP(name) name,
#include "tools/command_groups.def"
#undef STRATA_COMMAND_GROUP
};

std::vector<Command> AllCommands() {
  std::vector<Command> commands;
  for (CommandGroup group : kCommandGroups) {
    for (Command& command : group()) commands.push_back(std::move(command));
  }
  return commands;
}

void PrintUsage(std::FILE* stream, const std::vector<Command>& commands) {
  std::fprintf(stream,
               "usage: strata COMMAND [ARGUMENTS] | strata COMMAND --help | "
               "strata --version\n\ncommands:\n");
  for (const Command& command : commands) {
    std::fprintf(stream, "  strata %s %s\n      %s\n", command.name.c_str(), command.usage.c_str(),
                 command.summary.c_str());
  }
  std::fprintf(stream,
               "\noptions are written \"--name value\" or \"--name=value\", each at most once.\n"
               "exit status: 0 success, 1 failure (the reason is printed), 2 wrong command "
               "line.\n");
}

void PrintCommandHelp(const Command& command) {
  std::printf("usage: strata %s %s\n\n%s\n", command.name.c_str(), command.usage.c_str(),
              command.summary.c_str());
  if (!command.details.empty()) std::printf("\n%s\n", command.details.c_str());
  std::printf("\nexit status: 0 success, 1 failure, 2 wrong command line.\n");
}

bool AsksForHelp(const std::vector<std::string>& words) {
  for (const std::string& word : words) {
    if (word == "--help" || word == "-h") return true;
  }
  return false;
}

int RunCommand(const Command& command, const std::vector<std::string>& words) {
  if (AsksForHelp(words)) {
    PrintCommandHelp(command);
    return kExitSuccess;
  }
  const std::string usage = " (usage: strata " + command.name + " " + command.usage + ")";
  Arguments arguments;
  std::string error;
  if (!arguments.Parse(words, command.valueOptions, command.flags, &error)) {
    return ReportUsageError(error + usage);
  }
  for (const std::string& option : command.required) {
    if (!arguments.Has(option)) return ReportUsageError("missing " + option + usage);
  }
  const int given = static_cast<int>(arguments.positional().size());
  if (command.positionalCount >= 0 ? given != command.positionalCount : given == 0) {
    return ReportUsageError("usage: strata " + command.name + " " + command.usage);
  }
  return command.run(arguments);
}

int Dispatch(int argc, char** argv) {
  const std::vector<Command> commands = AllCommands();
  if (argc < 2) {
    PrintUsage(stderr, commands);
    return kExitUsage;
  }
  const std::string name = argv[1];
  if (name == "help" || name == "--help" || name == "-h") {
    PrintUsage(stdout, commands);
    return kExitSuccess;
  }
  if (name == "--version") {
    std::printf("strata %s\n", STRATA_VERSION_STRING);
    return kExitSuccess;
  }
  for (const Command& command : commands) {
    if (command.name == name) return RunCommand(command, {argv + 2, argv + argc});
  }
  return ReportUsageError("unknown command \"" + name + "\" (try: strata help)");
}

}  // namespace
}  // namespace strata::tools

int main(int argc, char** argv) {
  try {
    return strata::tools::Dispatch(argc, argv);
  } catch (const std::exception& exception) {
    return strata::tools::ReportError(exception.what());
  }
}
