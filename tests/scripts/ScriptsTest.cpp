// The scripts answer -h/--help with their options and refuse bad arguments
// with exit 2, before they build or install anything.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

extern char** environ;

namespace qir::scripts {
namespace {

namespace fs = std::filesystem;

struct ScriptRun {
    int exitCode = -1;
    std::string output; ///< standard output and error
};

/// A folder of stand-ins for cmake, ctest and apt-get that fail with 99, put
/// first in PATH: a script that would build or install is caught at once
/// instead of starting a build.
class Guard {
public:
    Guard()
    {
        std::string pattern = (fs::temp_directory_path() / "scripts-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
        dir_ = pattern;
        for (const char* tool : { "cmake", "ctest", "apt-get", "ninja" }) {
            const fs::path path = dir_ / tool;
            std::ofstream(path) << "#!/bin/sh\necho \"" << tool << " must not run here\" >&2\nexit 99\n";
            fs::permissions(path, fs::perms::owner_all);
        }
    }
    ~Guard()
    {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    ScriptRun run(const std::string& script, const std::vector<std::string>& args) const
    {
        const std::string outPath = (dir_ / "output.txt").string();
        std::vector<std::string> all{ std::string(QIR_SOURCE_DIR) + "/scripts/" + script };
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<std::string> env{ "PATH=" + dir_.string() + ":" + std::getenv("PATH") };
        for (char** e = environ; *e != nullptr; ++e) {
            if (std::strncmp(*e, "PATH=", 5) != 0)
                env.emplace_back(*e);
        }
        std::vector<char*> envp;
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        pid_t pid = 0;
        const int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        ScriptRun result;
        if (rc != 0) {
            result.output = "cannot start " + all[0] + ": " + std::strerror(rc);
            return result;
        }
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
        if (WIFEXITED(status))
            result.exitCode = WEXITSTATUS(status);
        std::ifstream in(outPath);
        std::ostringstream text;
        text << in.rdbuf();
        result.output = text.str();
        return result;
    }

private:
    fs::path dir_;
};

struct ScriptCase {
    const char* name;
    const char* script;
    std::vector<std::string> args;
    int exitCode;
    const char* says;
};

void PrintTo(const ScriptCase& value, std::ostream* out)
{
    *out << value.name;
}

class ScriptArguments : public ::testing::TestWithParam<ScriptCase> { };

TEST_P(ScriptArguments, AreAnsweredBeforeAnythingIsBuilt)
{
    const Guard guard;
    const ScriptRun run = guard.run(GetParam().script, GetParam().args);
    EXPECT_EQ(run.exitCode, GetParam().exitCode) << run.output;
    EXPECT_NE(run.output.find(GetParam().says), std::string::npos) << run.output;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ScriptArguments,
    ::testing::Values(ScriptCase{ "TestHelp", "test.sh", { "--help" }, 0, "Usage: scripts/test.sh" },
                      ScriptCase{ "TestShortHelp", "test.sh", { "-h" }, 0, "ThreadSanitizer" },
                      ScriptCase{ "TestArgument", "test.sh", { "all" }, 2, "unexpected argument \"all\"" },
                      ScriptCase{ "FuzzHelp", "fuzz.sh", { "--help" }, 0, "whole seconds, 1 to 86400 (default 60)" },
                      ScriptCase{ "FuzzHelpAfterArguments", "fuzz.sh", { "30", "-h" }, 0, "Usage: scripts/fuzz.sh" },
                      ScriptCase{ "FuzzZeroSeconds", "fuzz.sh", { "0" }, 2, "0 seconds per target is out of range" },
                      ScriptCase{ "FuzzHugeSeconds", "fuzz.sh", { "99999999999999999999" }, 2, "out of range" },
                      ScriptCase{ "FuzzNotANumber", "fuzz.sh", { "ten" }, 2, "\"ten\" is neither a number of seconds" },
                      ScriptCase{ "FuzzUnknownOption", "fuzz.sh", { "--max-len" }, 2, "unknown option \"--max-len\"" },
                      ScriptCase{ "BenchHelp", "bench.sh", { "--help" }, 0, "Usage: scripts/bench.sh" },
                      ScriptCase{ "BenchPath", "bench.sh", { "../x" }, 2, "is not a benchmark program name" },
                      ScriptCase{ "InstallDepsHelp", "install-deps.sh", { "-h" }, 0, "Usage: scripts/install-deps.sh" },
                      ScriptCase{ "InstallDepsArgument", "install-deps.sh", { "tshark" }, 2, "unexpected argument" }),
    [](const auto& testCase) { return std::string(testCase.param.name); });

} // namespace
} // namespace qir::scripts
