#include "MappedFile.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <utility>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qir::records {

namespace {

[[noreturn]] void fail(const std::string& path, const char* what, int error)
{
    throw std::runtime_error("cannot " + std::string(what) + " " + path + ": " + std::strerror(error));
}

constexpr uint64_t kNoCut = std::numeric_limits<uint64_t>::max();

/// A mapping the SIGBUS handler looks after. begin == 0 marks a free slot.
/// The handler only loads and compare-exchanges lock-free atomics;
/// sequentially consistent order is plenty for these rare events.
struct Region {
    std::atomic<uintptr_t> begin{ 0 };
    std::atomic<uintptr_t> end{ 0 };
    std::atomic<uint64_t> cut{ kNoCut };
};
std::array<Region, 8> g_regions;
static_assert(std::atomic<uintptr_t>::is_always_lock_free && std::atomic<uint64_t>::is_always_lock_free);

struct sigaction g_previous_bus_action { };
std::once_flag g_bus_handler_installed;
uintptr_t g_page_size = 4096;

void on_bus_error(int, siginfo_t* info, void*)
{
    const auto address = reinterpret_cast<uintptr_t>(info->si_addr);
    for (Region& region : g_regions) {
        const uintptr_t begin = region.begin.load();
        if (begin == 0 || address < begin || address >= region.end.load())
            continue;
        // Put a page of zeros where the file's page was; the faulting read
        // is repeated on return and finds it.
        const uintptr_t page = address & ~(g_page_size - 1);
        if (::mmap(reinterpret_cast<void*>(page), g_page_size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1,
                   0) == MAP_FAILED)
            break;
        const uint64_t offset = address - begin;
        uint64_t known = region.cut.load();
        while (offset < known && !region.cut.compare_exchange_weak(known, offset)) { }
        return;
    }
    // Not a mapped record file: let the fault take its usual course.
    ::sigaction(SIGBUS, &g_previous_bus_action, nullptr);
}

void install_bus_handler()
{
    std::call_once(g_bus_handler_installed, [] {
        const long page = ::sysconf(_SC_PAGESIZE);
        if (page > 0)
            g_page_size = static_cast<uintptr_t>(page);
        struct sigaction action { };
        action.sa_sigaction = on_bus_error;
        action.sa_flags = SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGBUS, &action, &g_previous_bus_action);
    });
}

int register_region(const uint8_t* data, size_t size)
{
    install_bus_handler();
    for (size_t i = 0; i < g_regions.size(); ++i) {
        Region& region = g_regions[i];
        uintptr_t expected = 0;
        // Claim the slot with a begin that matches no address (its end is
        // still 0), then fill it in.
        if (!region.begin.compare_exchange_strong(expected, 1))
            continue;
        region.cut.store(kNoCut);
        region.end.store(reinterpret_cast<uintptr_t>(data) + size);
        region.begin.store(reinterpret_cast<uintptr_t>(data));
        return static_cast<int>(i);
    }
    return -1;
}

} // namespace

MappedFile::MappedFile(const std::string& path) : path_(path)
{
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0)
        fail(path, "open", errno);
    struct stat info { };
    if (::fstat(fd_, &info) != 0) {
        const int error = errno;
        unmap();
        fail(path, "examine", error);
    }
    if (!S_ISREG(info.st_mode)) {
        unmap();
        throw std::runtime_error("cannot read " + path + ": not a regular file");
    }
    size_ = static_cast<size_t>(info.st_size);
    if (size_ == 0)
        return;
    void* mapping = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd_, 0);
    if (mapping == MAP_FAILED) {
        const int error = errno;
        size_ = 0;
        unmap();
        fail(path, "map", error);
    }
    // Records are read front to back once.
    ::madvise(mapping, size_, MADV_SEQUENTIAL);
    data_ = static_cast<const uint8_t*>(mapping);
    region_ = register_region(data_, size_);
}

MappedFile::~MappedFile()
{
    unmap();
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : path_(std::move(other.path_))
    , data_(std::exchange(other.data_, nullptr))
    , size_(std::exchange(other.size_, 0))
    , fd_(std::exchange(other.fd_, -1))
    , region_(std::exchange(other.region_, -1))
{ }

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept
{
    if (this != &other) {
        unmap();
        path_ = std::move(other.path_);
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        fd_ = std::exchange(other.fd_, -1);
        region_ = std::exchange(other.region_, -1);
    }
    return *this;
}

void MappedFile::touch(std::span<const uint8_t> range) const noexcept
{
    if (range.empty())
        return;
    const volatile uint8_t* bytes = range.data();
    for (size_t i = 0; i < range.size(); i += g_page_size)
        (void)bytes[i];
    (void)bytes[range.size() - 1];
}

std::optional<uint64_t> MappedFile::cut_at() const noexcept
{
    if (region_ < 0)
        return std::nullopt;
    const uint64_t cut = g_regions[static_cast<size_t>(region_)].cut.load();
    if (cut == kNoCut)
        return std::nullopt;
    return cut;
}

uint64_t MappedFile::current_size() const noexcept
{
    struct stat info { };
    if (fd_ < 0 || ::fstat(fd_, &info) != 0)
        return size_;
    return static_cast<uint64_t>(info.st_size);
}

void MappedFile::unmap() noexcept
{
    if (region_ >= 0) {
        Region& region = g_regions[static_cast<size_t>(region_)];
        region.end.store(0);
        region.begin.store(0);
        region_ = -1;
    }
    if (data_ != nullptr)
        ::munmap(const_cast<uint8_t*>(data_), size_);
    if (fd_ >= 0)
        ::close(fd_);
    data_ = nullptr;
    size_ = 0;
    fd_ = -1;
}

} // namespace qir::records
