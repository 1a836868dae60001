// OutputFile: the final path shows nothing until commit, keeps what it had
// when the writer fails, and is refused when it is an input.

#include "OutputFile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include <sys/stat.h>

namespace qir::tools {
namespace {

namespace fs = std::filesystem;

class Folder {
public:
    Folder()
    {
        std::string pattern = (fs::temp_directory_path() / "output-file-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
        path_ = pattern;
    }
    ~Folder()
    {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    size_t entries() const { return static_cast<size_t>(std::distance(fs::directory_iterator(path_), {})); }

private:
    fs::path path_;
};

std::string readText(const std::string& path)
{
    std::ifstream in(path);
    return { std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>() };
}

void writeText(const std::string& path, const std::string& text)
{
    std::ofstream(path) << text;
}

TEST(OutputFile, ShowsTheContentUnderItsNameOnlyAfterCommit)
{
    Folder folder;
    writeText(folder.file("out.txt"), "old");
    OutputFile file(folder.file("out.txt"), "output");
    file.write(std::string_view("new content"));
    EXPECT_EQ(readText(folder.file("out.txt")), "old");
    EXPECT_EQ(fs::path(file.temporary_path()).parent_path(), fs::path(folder.file("out.txt")).parent_path());
    file.commit();
    EXPECT_EQ(readText(folder.file("out.txt")), "new content");
    EXPECT_EQ(folder.entries(), 1u);
}

TEST(OutputFile, LeavesTheOldFileAndNoTemporaryWhenNotCommitted)
{
    Folder folder;
    writeText(folder.file("out.txt"), "old");
    {
        OutputFile file(folder.file("out.txt"), "output");
        file.write(std::string_view("half"));
        // An exception or an early return ends here without commit().
    }
    EXPECT_EQ(readText(folder.file("out.txt")), "old");
    EXPECT_EQ(folder.entries(), 1u);
}

TEST(OutputFile, KeepsThePermissionsOfTheFileItReplaces)
{
    Folder folder;
    writeText(folder.file("out.txt"), "old");
    fs::permissions(folder.file("out.txt"), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    OutputFile file(folder.file("out.txt"), "output");
    file.commit();
    EXPECT_EQ(fs::status(folder.file("out.txt")).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST(OutputFile, ReplacesTheFileASymbolicLinkNamesAndKeepsTheLink)
{
    Folder folder;
    writeText(folder.file("target.txt"), "old");
    fs::create_symlink(folder.file("target.txt"), folder.file("link.txt"));
    OutputFile file(folder.file("link.txt"), "output");
    file.write(std::string_view("new"));
    file.commit();
    EXPECT_TRUE(fs::is_symlink(folder.file("link.txt")));
    EXPECT_EQ(readText(folder.file("target.txt")), "new");
}

struct Refusal {
    const char* name;
    const char* output; ///< in the test folder; "in.rec" is the input
    const char* says;
};

void PrintTo(const Refusal& value, std::ostream* out)
{
    *out << value.name;
}

class RefusedOutputs : public ::testing::TestWithParam<Refusal> { };

TEST_P(RefusedOutputs, AreRefusedBeforeAnythingIsWrittenNamingTheCause)
{
    Folder folder;
    writeText(folder.file("in.rec"), "input");
    fs::create_directory(folder.file("folder"));
    fs::create_hard_link(folder.file("in.rec"), folder.file("hard.rec"));
    fs::create_symlink(folder.file("in.rec"), folder.file("soft.rec"));
    const std::string inputs[] = { folder.file("in.rec") };
    try {
        OutputFile file(folder.file(GetParam().output), "output", inputs);
        ADD_FAILURE() << "accepted";
    } catch (const OutputFileError& error) {
        EXPECT_NE(std::string(error.what()).find(GetParam().says), std::string::npos) << error.what();
    }
    EXPECT_EQ(readText(folder.file("in.rec")), "input");
    EXPECT_EQ(folder.entries(), 4u);
}

INSTANTIATE_TEST_SUITE_P(Table, RefusedOutputs,
                         ::testing::Values(Refusal{ "TheInput", "in.rec", "is the input file" },
                                           Refusal{ "AHardLinkToTheInput", "hard.rec", "is the input file" },
                                           Refusal{ "ASymbolicLinkToTheInput", "soft.rec", "is the input file" },
                                           Refusal{ "AFolder", "folder", "is a folder" },
                                           Refusal{ "AFileInAMissingFolder", "missing/out",
                                                    "No such file or directory" },
                                           Refusal{ "AFileUnderAFile", "in.rec/out", "is not a folder" }),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(OutputFile, ReportsAWriteThatFailsNamingTheFile)
{
    Folder folder;
    OutputFile file(folder.file("out.txt"), "summary file");
    file.commit();
    try {
        file.write(std::string_view("late"));
        ADD_FAILURE() << "accepted";
    } catch (const OutputFileError& error) {
        EXPECT_NE(std::string(error.what()).find("summary file " + folder.file("out.txt")), std::string::npos)
            << error.what();
    }
}

} // namespace
} // namespace qir::tools
