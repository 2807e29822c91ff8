#pragma once
// Runs the built tarvex-cli as a separate process, the way a user or a cron job does.
#include <string>

namespace tarvex::test {

struct CliResult {
    int status = -1;  // exit code; -1 when the process did not exit normally
    std::string out;  // standard output and standard error together
};

// `args` are appended to the tarvex-cli path as shell words.
CliResult runCli(const std::string& args);

}  // namespace tarvex::test
