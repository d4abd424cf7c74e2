// The player's command line, read with QCommandLineParser: `qorn [--soundfont
// PATH] [FILE]`, --help and --version. Qt's own options (-platform, -style,
// -display...) are let through for the application object.
#pragma once

#include <string>
#include <vector>

namespace qorn::app {

struct CommandLine {
    enum class Action { Run, Help, Version, Refuse };
    Action action = Action::Run;
    std::string file;      // FILE, when given
    std::string soundFont; // --soundfont PATH or --soundfont=PATH
    std::string text;      // what Help, Version or Refuse prints
};

// `args` as main receives them, program name first.
CommandLine ReadCommandLine(const std::vector<std::string>& args);

} // namespace qorn::app
