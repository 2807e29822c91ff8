#include "support/cli_process.h"

#include <sys/wait.h>

#include <cstdio>

namespace tarvex::test {

CliResult runCli(const std::string& args) {
    CliResult r;
    const std::string cmd = std::string(TARVEX_BIN_DIR) + "/tarvex-cli " + args + " 2>&1";
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    const int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

}  // namespace tarvex::test
