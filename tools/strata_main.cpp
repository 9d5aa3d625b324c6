// strata: inspect, extract from and write ZTX slides.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

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
  std::fprintf(stream, "usage: strata COMMAND [ARGUMENTS]\n\ncommands:\n");
  for (const Command& command : commands) {
    std::fprintf(stream, "  strata %s %s\n      %s\n", command.name.c_str(), command.usage.c_str(),
                 command.summary.c_str());
  }
}

int Dispatch(int argc, char** argv) {
  const std::vector<Command> commands = AllCommands();
  if (argc < 2) {
    PrintUsage(stderr, commands);
    return 2;
  }
  const std::string name = argv[1];
  if (name == "help" || name == "--help" || name == "-h") {
    PrintUsage(stdout, commands);
    return 0;
  }
  for (const Command& command : commands) {
    if (command.name != name) continue;
    const std::vector<std::string> words(argv + 2, argv + argc);
    Arguments arguments;
    std::string error;
    if (!arguments.Parse(words, command.valueOptions, command.flags, &error)) {
      return ReportError(error + " (usage: strata " + command.name + " " + command.usage + ")");
    }
    const int given = static_cast<int>(arguments.positional().size());
    if (command.positionalCount >= 0 ? given != command.positionalCount : given == 0) {
      return ReportError("usage: strata " + command.name + " " + command.usage);
    }
    return command.run(arguments);
  }
  ReportError("unknown command \"" + name + "\" (try: strata help)");
  return 2;
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
