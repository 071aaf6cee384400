#include "arguments.h"

namespace tvx::cli {

namespace {

struct CommandWord {
  const char* word;
  Command command;
};

constexpr CommandWord kCommands[] = {
    {"list", Command::kList},       {"l", Command::kList},    {"test", Command::kTest}, {"t", Command::kTest},
    {"extract", Command::kExtract}, {"x", Command::kExtract}, {"add", Command::kAdd},   {"a", Command::kAdd},
    {"delete", Command::kDelete},   {"d", Command::kDelete},  {"help", Command::kHelp}, {"version", Command::kVersion}};

Command CommandFromWord(const std::string& word) {
  for (const CommandWord& c : kCommands)
    if (word == c.word) return c.command;
  return Command::kNone;
}

// Which commands an option belongs to: a bit per command; none set for the global ones.
constexpr unsigned Bit(Command command) { return 1u << static_cast<unsigned>(command); }
constexpr unsigned kEveryCommand = 0;

// What seeing an option does: set a flag, take a value, or ask for help or the version.
enum class Effect { kFlag, kValue, kHelp, kVersion };

struct OptionRow {
  const char* shortName;  // "" when there is none
  const char* longName;
  Effect effect;
  bool Options::*flag;
  std::string Options::*value;
  unsigned commands;
  const char* valueKind = "";  // what an empty value fails to name
};

constexpr OptionRow kOptions[] = {
    {"-h", "--help", Effect::kHelp, nullptr, nullptr, kEveryCommand},
    {"-V", "--version", Effect::kVersion, nullptr, nullptr, kEveryCommand},
    {"-q", "--quiet", Effect::kFlag, &Options::quiet, nullptr, kEveryCommand},
    {"", "--plugin", Effect::kValue, nullptr, &Options::plugin, kEveryCommand, "a module"},
    {"", "--json", Effect::kFlag, &Options::json, nullptr, Bit(Command::kList) | Bit(Command::kTest)},
    {"-C", "--directory", Effect::kValue, nullptr, &Options::directory, Bit(Command::kExtract), "a folder"},
    {"-o", "--overwrite", Effect::kFlag, &Options::overwrite, nullptr, Bit(Command::kExtract)},
    {"-m", "--move", Effect::kFlag, &Options::move, nullptr, Bit(Command::kAdd)},
    {"", "--into", Effect::kValue, nullptr, &Options::into, Bit(Command::kAdd), "a folder"},
};

const OptionRow* FindOption(const std::string& name) {
  for (const OptionRow& row : kOptions)
    if (name == row.longName || (row.shortName[0] != '\0' && name == row.shortName)) return &row;
  return nullptr;
}

bool OptionFits(const OptionRow& row, Command command) {
  return row.commands == kEveryCommand || (row.commands & Bit(command)) != 0;
}

// How many operands a command needs at least: the archive, and for add and delete something more.
size_t OperandsNeeded(Command command) {
  switch (command) {
    case Command::kList:
    case Command::kTest:
    case Command::kExtract: return 1;
    case Command::kAdd:
    case Command::kDelete: return 2;
    default: return 0;
  }
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

// Reads every argument; the first usage error found in order is the one shown.
ParsedArguments ParseArguments(const std::vector<std::string>& args) {
  ParsedArguments parsed;
  Options& o = parsed.options;
  bool wantHelp = false;
  bool wantVersion = false;
  bool optionsDone = false;
  // Options seen, with the name as typed, checked against the command once it is known.
  std::vector<std::pair<std::string, const OptionRow*>> seen;

  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsDone || arg.empty() || arg[0] != '-' || arg == "-") {
      if (o.command != Command::kNone) {
        o.operands.push_back(arg);
        continue;
      }
      o.command = CommandFromWord(arg);
      if (o.command == Command::kNone) {
        parsed.error = "unknown command: " + arg;
        return parsed;
      }
      continue;
    }
    if (arg == "--") {
      optionsDone = true;
      continue;
    }
    // Only long options carry a value after '='.
    const size_t eq = arg.compare(0, 2, "--") == 0 ? arg.find('=') : std::string::npos;
    const bool hasInline = eq != std::string::npos;
    const std::string name = hasInline ? arg.substr(0, eq) : arg;
    const OptionRow* row = FindOption(name);
    if (!row) {
      parsed.error = "unknown option: " + arg;
      return parsed;
    }
    if (row->effect == Effect::kValue) {
      if (!hasInline && i + 1 >= args.size()) {
        parsed.error = "option " + name + " needs a value";
        return parsed;
      }
      o.*(row->value) = hasInline ? arg.substr(eq + 1) : args[++i];
    } else if (hasInline) {
      parsed.error = "option " + name + " takes no value";
      return parsed;
    }
    if (row->effect == Effect::kFlag) o.*(row->flag) = true;
    wantHelp = wantHelp || row->effect == Effect::kHelp;
    wantVersion = wantVersion || row->effect == Effect::kVersion;
    seen.emplace_back(name, row);
  }

  if (wantVersion) {
    o.command = Command::kVersion;
    return parsed;
  }
  if (wantHelp || o.command == Command::kHelp) {
    if (o.command == Command::kHelp) {
      o.helpTopic = o.operands.empty() ? std::string() : o.operands.front();
    } else {
      o.helpTopic = CommandName(o.command);
    }
    o.command = Command::kHelp;
    return parsed;
  }
  if (o.command == Command::kNone) {
    parsed.error = "no command given";
    return parsed;
  }
  for (const auto& [name, row] : seen) {
    if (!OptionFits(*row, o.command)) {
      parsed.error = "option " + name + " does not apply to " + CommandName(o.command);
      return parsed;
    }
  }
  if (o.operands.size() < OperandsNeeded(o.command)) {
    parsed.error = o.operands.empty()           ? "no archive given"
                   : o.command == Command::kAdd ? "nothing to add: name files or folders after the archive"
                                                : "nothing to delete: name entries after the archive";
    return parsed;
  }
  if ((o.command == Command::kList || o.command == Command::kTest) && o.operands.size() > 1) {
    parsed.error = std::string("too many operands for ") + CommandName(o.command) + ": " + o.operands[1];
    return parsed;
  }
  // "" names no archive, file or entry (a script's unset variable, say).
  for (size_t k = 0; k < o.operands.size(); ++k) {
    if (!o.operands[k].empty()) continue;
    parsed.error = k == 0                       ? "the archive name is empty"
                   : o.command == Command::kAdd ? "an empty path: name a file or folder to add"
                                                : "an empty name: name an entry or folder of the archive";
    return parsed;
  }
  // "-C ''" or "--directory=" names no folder.
  for (const auto& [name, row] : seen) {
    if (row->effect == Effect::kValue && (o.*(row->value)).empty()) {
      parsed.error = std::string("option ") + (row->shortName[0] != '\0' ? row->shortName : row->longName) +
                     " needs " + row->valueKind;
      return parsed;
    }
  }
  return parsed;
}

}  // namespace tvx::cli
