#include "arguments.h"

namespace tvx::cli {

namespace {

struct CommandWord {
  const char* word;
  Command command;
};

constexpr CommandWord kCommands[] = {
    {"list", Command::kList},       {"l", Command::kList},     {"test", Command::kTest},
    {"t", Command::kTest},          {"extract", Command::kExtract}, {"x", Command::kExtract},
    {"add", Command::kAdd},         {"a", Command::kAdd},      {"delete", Command::kDelete},
    {"d", Command::kDelete},        {"help", Command::kHelp},  {"version", Command::kVersion}};

Command CommandFromWord(const std::string& word) {
  for (const CommandWord& c : kCommands)
    if (word == c.word) return c.command;
  return Command::kNone;
}

// The option's value from "--opt=VALUE" or the next argument.
bool TakeValue(const std::vector<std::string>& args, size_t& i, const std::string& inline_value,
               bool has_inline, std::string& value) {
  if (has_inline) {
    value = inline_value;
    return true;
  }
  if (i + 1 >= args.size()) return false;
  value = args[++i];
  return true;
}

// Which command an option belongs to; kNone for the global ones.
bool OptionFits(Command option_command, Command command) {
  return option_command == Command::kNone || option_command == command;
}

}  // namespace

const char* CommandName(Command command) {
  switch (command) {
    case Command::kHelp: return "help";
    case Command::kVersion: return "version";
    case Command::kList: return "list";
    case Command::kTest: return "test";
    case Command::kExtract: return "extract";
    case Command::kAdd: return "add";
    case Command::kDelete: return "delete";
    case Command::kNone: break;
  }
  return "";
}

ParsedArguments ParseArguments(const std::vector<std::string>& args) {
  ParsedArguments parsed;
  Options& o = parsed.options;
  bool want_help = false;
  bool want_version = false;
  bool options_done = false;
  // Options seen, with the command each one needs, checked once the command is known.
  std::vector<std::pair<std::string, Command>> seen;

  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (options_done || arg.empty() || arg[0] != '-' || arg == "-") {
      if (o.command == Command::kNone) {
        o.command = CommandFromWord(arg);
        if (o.command == Command::kNone) {
          parsed.error = "unknown command: " + arg;
          return parsed;
        }
      } else {
        o.operands.push_back(arg);
      }
      continue;
    }
    if (arg == "--") {
      options_done = true;
      continue;
    }
    std::string name = arg;
    std::string inline_value;
    bool has_inline = false;
    const size_t eq = arg.find('=');
    if (arg.compare(0, 2, "--") == 0 && eq != std::string::npos) {
      name = arg.substr(0, eq);
      inline_value = arg.substr(eq + 1);
      has_inline = true;
    }
    std::string* value_target = nullptr;
    Command owner = Command::kNone;
    if (name == "-h" || name == "--help") {
      want_help = true;
    } else if (name == "-V" || name == "--version") {
      want_version = true;
    } else if (name == "-q" || name == "--quiet") {
      o.quiet = true;
    } else if (name == "--plugin") {
      value_target = &o.plugin;
    } else if (name == "--json") {
      o.json = true;
      owner = Command::kList;
    } else if (name == "-C" || name == "--directory") {
      value_target = &o.directory;
      owner = Command::kExtract;
    } else if (name == "-o" || name == "--overwrite") {
      o.overwrite = true;
      owner = Command::kExtract;
    } else if (name == "-m" || name == "--move") {
      o.move = true;
      owner = Command::kAdd;
    } else if (name == "--into") {
      value_target = &o.into;
      owner = Command::kAdd;
    } else {
      parsed.error = "unknown option: " + arg;
      return parsed;
    }
    if (value_target) {
      if (!TakeValue(args, i, inline_value, has_inline, *value_target)) {
        parsed.error = "option " + name + " needs a value";
        return parsed;
      }
    } else if (has_inline) {
      parsed.error = "option " + name + " takes no value";
      return parsed;
    }
    seen.emplace_back(name, owner);
  }

  if (want_version) {
    o.command = Command::kVersion;
    return parsed;
  }
  if (want_help || o.command == Command::kHelp) {
    if (o.command == Command::kHelp) {
      o.help_topic = o.operands.empty() ? std::string() : o.operands.front();
    } else {
      o.help_topic = CommandName(o.command);
    }
    o.command = Command::kHelp;
    return parsed;
  }
  if (o.command == Command::kNone) {
    parsed.error = "no command given";
    return parsed;
  }
  for (const auto& [option, owner] : seen) {
    const bool json_for_test = option == "--json" && o.command == Command::kTest;
    if (!OptionFits(owner, o.command) && !json_for_test) {
      parsed.error = "option " + option + " does not apply to " + CommandName(o.command);
      return parsed;
    }
  }
  const size_t needed = o.command == Command::kList || o.command == Command::kTest || o.command == Command::kExtract ? 1
                        : o.command == Command::kAdd || o.command == Command::kDelete ? 2 : 0;
  if (o.operands.size() < needed) {
    parsed.error = o.operands.empty() ? "no archive given"
                   : o.command == Command::kAdd ? "nothing to add: name files or folders after the archive"
                                                : "nothing to delete: name entries after the archive";
    return parsed;
  }
  if ((o.command == Command::kList || o.command == Command::kTest) && o.operands.size() > 1) {
    parsed.error = std::string("too many operands for ") + CommandName(o.command) + ": " + o.operands[1];
    return parsed;
  }
  if (o.command == Command::kExtract && o.directory.empty() && !seen.empty()) {
    for (const auto& s : seen)
      if (s.first == "-C" || s.first == "--directory") {
        parsed.error = "option -C needs a folder";
        return parsed;
      }
  }
  return parsed;
}

}  // namespace tvx::cli
