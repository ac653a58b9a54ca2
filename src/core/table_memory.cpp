#include "core/table_memory.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace varkon {

namespace {

// Tables from this size on are mapped on their own, aligned to large pages.
constexpr std::size_t LARGE_PAGE = std::size_t{2} << 20;
constexpr std::size_t CACHE_LINE = 64;

std::size_t mapped_size(std::size_t bytes) { return (bytes + LARGE_PAGE - 1) / LARGE_PAGE * LARGE_PAGE; }

}  // namespace

void* table_alloc(std::size_t bytes) {
    if (bytes < LARGE_PAGE) {
        // Cache-line aligned, so that a 64-byte bucket never straddles two lines.
        const std::size_t size = (bytes + CACHE_LINE - 1) / CACHE_LINE * CACHE_LINE;
        void* p = std::aligned_alloc(CACHE_LINE, size == 0 ? CACHE_LINE : size);
        if (p != nullptr) std::memset(p, 0, size);
        return p;
    }
    // Map a large page more than needed, so that the table can start on a large-page
    // boundary, and give the slack back.
    const std::size_t size = mapped_size(bytes);
    void* raw = ::mmap(nullptr, size + LARGE_PAGE, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (start + LARGE_PAGE - 1) & ~(LARGE_PAGE - 1);
    if (aligned > start) ::munmap(raw, aligned - start);
    if (const std::size_t tail = start + size + LARGE_PAGE - (aligned + size); tail > 0)
        ::munmap(reinterpret_cast<void*>(aligned + size), tail);
    void* p = reinterpret_cast<void*>(aligned);
#ifdef MADV_HUGEPAGE
    ::madvise(p, size, MADV_HUGEPAGE);
#endif
    // The mapping reads as zeros already; writing them faults every page in now.
    std::memset(p, 0, size);
    return p;
}

void table_free(void* p, std::size_t bytes) {
    if (p == nullptr) return;
    if (bytes < LARGE_PAGE)
        std::free(p);
    else
        ::munmap(p, mapped_size(bytes));
}

}  // namespace varkon
