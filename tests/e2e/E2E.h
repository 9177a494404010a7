#pragma once

#include "tests/fixtures/Process.h"
#include "tests/fixtures/Sandbox.h"

#include <map>
#include <string>
#include <vector>

namespace vek::test {

// A client base directory pointed at a zebd, and vek-cli runs inside it.
struct CliClient
{
    CliClient(const Sandbox& box, std::uint16_t port, const std::string& extraConfig = {})
        : dir(box.path().string())
    {
        writeFile(box.path() / "vek.INI",
                  "[Defaults]\r\nServidorInternet=127.0.0.1\r\nPortaServico=" + std::to_string(port) + "\r\n" +
                      extraConfig);
    }

    ProcessResult run(std::vector<std::string> args, std::map<std::string, std::string> env = {}) const
    {
        args.insert(args.begin(), binPath("vek-cli"));
        env["VEK_DIR"] = dir;
        if (env.count("VEK_SENHA") == 0) {
            env["VEK_SENHA"] = "demo";
        }
        return runProcess(args, env, {"TMPDIR"});
    }

    std::string dir;
};

}  // namespace vek::test
