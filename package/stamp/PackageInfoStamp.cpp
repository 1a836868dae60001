// qir-pck-stamp: appends the information block to a package file.
//
// Usage: qir-pck-stamp FILE ENTRY...
//   ENTRY is KEY=VALUE, or DATE alone for the build date (YYYYMMDD, UTC; the
//   environment variable SOURCE_DATE_EPOCH overrides "now" for reproducible
//   builds). A block the file already ends with is replaced.

#include "info/PackageInfoBlock.h"
#include "info/PackageInfoReader.h"
#include "info/PackageInfoWriter.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string buildDate()
{
    std::time_t now = std::time(nullptr);
    if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"))
        now = static_cast<std::time_t>(std::strtoll(epoch, nullptr, 10));
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[16];
    std::strftime(text, sizeof text, "%Y%m%d", &utc);
    return text;
}

void printUsage(std::FILE* to, const char* program)
{
    std::fprintf(to,
                 "usage: %s FILE KEY=VALUE|DATE ...\n"
                 "Appends the information block to the package FILE (a block it already ends\n"
                 "with is replaced). KEY=VALUE gives one entry; DATE alone gives the build date\n"
                 "(YYYYMMDD, UTC; SOURCE_DATE_EPOCH overrides now). Exit 0 done, 1 failure,\n"
                 "2 usage error.\n",
                 program);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && (std::string(argv[1]) == "-h" || std::string(argv[1]) == "--help")) {
        printUsage(stdout, argv[0]);
        return 0;
    }
    if (argc < 3) {
        printUsage(stderr, argv[0]);
        return 2;
    }
    const std::string path = argv[1];
    try {
        std::vector<std::pair<std::string, std::string>> entries;
        for (int i = 2; i < argc; ++i) {
            const std::string argument = argv[i];
            if (argument == "DATE") {
                entries.emplace_back("DATE", buildDate());
                continue;
            }
            const size_t equals = argument.find('=');
            if (equals == std::string::npos || equals == 0) {
                std::fprintf(stderr, "%s: argument %d (\"%s\") is neither KEY=VALUE nor DATE\n", argv[0], i,
                             argument.c_str());
                return 2;
            }
            entries.emplace_back(argument.substr(0, equals), argument.substr(equals + 1));
        }

        std::ifstream in(path, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "%s: cannot open %s\n", argv[0], path.c_str());
            return 1;
        }
        std::vector<uint8_t> image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        in.close();
        std::string ignored;
        if (const auto old = PackageInfo::ParseTrailingBlock(image, ignored))
            image.resize(image.size() - old->blockLength - PackageInfo::LengthFieldSize);

        const std::vector<uint8_t> block = PackageInfo::BuildTrailingBlock(entries);
        image.insert(image.end(), block.begin(), block.end());

        const std::string temporary = path + ".stamping";
        {
            std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
            if (!out) {
                std::fprintf(stderr, "%s: cannot write %s\n", argv[0], temporary.c_str());
                return 1;
            }
        }
        std::filesystem::permissions(temporary, std::filesystem::status(path).permissions());
        std::filesystem::rename(temporary, path);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s: %s\n", argv[0], path.c_str(), e.what());
        return 1;
    }
    return 0;
}
