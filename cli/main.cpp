// tessaron-cli: the library's operations without a window, one command per file.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/CliCommon.h"
#include "video/ExceptionText.h"

#define TESSARON_COMMAND(name, function, summary) int function(const std::vector<std::string>& args);
#include "cli/commands.def"
#undef TESSARON_COMMAND

namespace {

struct Command {
    const char* name;
    int (*run)(const std::vector<std::string>& args);
    const char* summary;
};

const Command kCommands[] = {
#define TESSARON_COMMAND(name, function, summary) {name, function, summary},
#include "cli/commands.def"
#undef TESSARON_COMMAND
};

void PrintUsage(FILE* out) {
    std::fprintf(out, "usage: tessaron-cli COMMAND [ARGS...]\n\ncommands:\n");
    for (const Command& c : kCommands) std::fprintf(out, "  %-8s %s\n", c.name, c.summary);
    std::fprintf(out,
                 "\n'tessaron-cli COMMAND --help' describes a command.\n"
                 "Videos are read through FFmpeg; with TESSARON_MEDIA_DETECTOR=0 only uncompressed AVI files are\n"
                 "read, by Tessaron's own AVI reader.\n"
                 "\nExit status: 0 done; 1 a video cannot be used (unreadable or damaged; running again gives the\n"
                 "same); 2 a wrong command line; 75 an output could not be written (a full disk, a folder not\n"
                 "writable) or a signal stopped the run: worth running again.\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "tessaron-cli: no command given; try 'tessaron-cli --help'\n");
        return cli::kExitUsage;
    }
    std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        PrintUsage(stdout);
        return 0;
    }
    for (const Command& c : kCommands) {
        if (name == c.name) {
            // Commands report their own failures; this is for what they do not expect.
            try {
                std::vector<std::string> args(argv + 2, argv + argc);
                return c.run(args);
            } catch (...) {
                std::fprintf(stderr, "tessaron-cli %s: %s\n", c.name, CurrentExceptionText().c_str());
                return 1;
            }
        }
    }
    std::fprintf(stderr, "tessaron-cli: unknown command '%s'; try 'tessaron-cli --help'\n", name.c_str());
    return cli::kExitUsage;
}
