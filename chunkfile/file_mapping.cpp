// SPDX-License-Identifier: GPL-3.0-or-later
// File mappings and the bus error handler that keeps them safe. A read of a mapped page
// past the file's end raises SIGBUS; the handler looks the address up among the mappings
// in use and, when it belongs to one, puts anonymous zero pages over the rest of that
// mapping, so that the read is retried and sees zeros. Faults elsewhere go to the handler
// that was installed before, or end the process as they would have.
#include "chunkfile/file_mapping.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <csignal>
#include <mutex>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sonvex {

namespace {

// Mappings guarded at once; a mapping that finds no free slot is not made.
constexpr size_t kSlots = 64;
// The bytes around a read fault that the kernel maps with it.
constexpr uintptr_t kFaultAround = 64 * 1024;

struct Slot {
    std::atomic<uintptr_t> begin{0}; // 0: free
    std::atomic<uintptr_t> end{0};
    std::atomic<bool> patched{false};
};

std::array<Slot, kSlots> g_slots;
uintptr_t g_pageSize = 4096;
struct sigaction g_previous {};
std::once_flag g_installed;

void OnBusError(int signal, siginfo_t* info, void* context) {
    const auto address = reinterpret_cast<uintptr_t>(info->si_addr);
    for (Slot& slot : g_slots) {
        const uintptr_t begin = slot.begin.load(std::memory_order_acquire);
        const uintptr_t end = slot.end.load(std::memory_order_acquire);
        if (begin == 0 || address < begin || address >= end) {
            continue;
        }
        const uintptr_t page = address & ~(g_pageSize - 1);
        void* zeros = ::mmap(reinterpret_cast<void*>(page), end - page, PROT_READ,
                             MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
        if (zeros != MAP_FAILED) {
            slot.patched.store(true, std::memory_order_release);
            return;
        }
        break;
    }
    if ((g_previous.sa_flags & SA_SIGINFO) != 0 && g_previous.sa_sigaction != nullptr) {
        g_previous.sa_sigaction(signal, info, context);
        return;
    }
    if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN &&
        g_previous.sa_handler != nullptr) {
        g_previous.sa_handler(signal);
        return;
    }
    // Not a mapped file's page: the default action, when the access is retried.
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    sigemptyset(&standard.sa_mask);
    ::sigaction(SIGBUS, &standard, nullptr);
}

bool InstallHandler() {
    static bool installed = false;
    std::call_once(g_installed, [] {
        const long page = ::sysconf(_SC_PAGESIZE);
        if (page > 0) {
            g_pageSize = static_cast<uintptr_t>(page);
        }
        struct sigaction action {};
        action.sa_sigaction = OnBusError;
        action.sa_flags = SA_SIGINFO | SA_NODEFER;
        sigemptyset(&action.sa_mask);
        installed = ::sigaction(SIGBUS, &action, &g_previous) == 0;
    });
    return installed;
}

} // namespace

FileMapping::FileMapping(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0 || !InstallHandler()) {
        return;
    }
    for (size_t i = 0; i < kSlots && slot_ < 0; ++i) {
        uintptr_t free = 0;
        // Taken with a placeholder address that no fault matches until the mapping is in.
        if (g_slots[i].begin.compare_exchange_strong(free, 1, std::memory_order_acq_rel)) {
            slot_ = static_cast<int>(i);
        }
    }
    if (slot_ < 0) {
        return;
    }
    const auto length = static_cast<size_t>(st.st_size);
    void* mapped = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, 0);
    Slot& slot = g_slots[static_cast<size_t>(slot_)];
    if (mapped == MAP_FAILED) {
        slot.begin.store(0, std::memory_order_release);
        slot_ = -1;
        return;
    }
    ::madvise(mapped, length, MADV_SEQUENTIAL);
    const auto begin = reinterpret_cast<uintptr_t>(mapped);
    // Whole pages: the tail of the last page is part of the mapping as well.
    const uintptr_t end = (begin + length + g_pageSize - 1) & ~(g_pageSize - 1);
    // The start first: while the end is 0 no address matches the slot.
    slot.patched.store(false, std::memory_order_relaxed);
    slot.begin.store(begin, std::memory_order_release);
    slot.end.store(end, std::memory_order_release);
    data_ = static_cast<const uint8_t*>(mapped);
    size_ = st.st_size;
}

FileMapping::~FileMapping() {
    if (slot_ < 0) {
        return;
    }
    Slot& slot = g_slots[static_cast<size_t>(slot_)];
    // Out of the table first: a fault at this address after the unmap is not ours.
    slot.end.store(0, std::memory_order_release);
    if (data_ != nullptr) {
        ::munmap(const_cast<uint8_t*>(data_), static_cast<size_t>(size_));
    }
    slot.begin.store(0, std::memory_order_release);
}

void FileMapping::Prepare(int64_t offset, int64_t length) const {
    if (data_ == nullptr || offset >= size_ || length <= 0) {
        return;
    }
    const uintptr_t first =
        (reinterpret_cast<uintptr_t>(data_) + static_cast<uintptr_t>(offset)) & ~(g_pageSize - 1);
    const uintptr_t end = reinterpret_cast<uintptr_t>(data_) +
                          static_cast<uintptr_t>(std::min(offset + length, size_));
    // One read in every window that a read fault maps at once (the pages around it that
    // the page cache holds: 64 KiB by default). For a file held in small pages that costs
    // half what filling the page tables page by page does (MADV_POPULATE_READ). Pages a
    // fault leaves out are mapped when they are read. A file that has shrunk since it was
    // mapped reads as zeros past its end here as anywhere.
    for (uintptr_t at = first; at < end; at = (at | (kFaultAround - 1)) + 1) {
        (void)*reinterpret_cast<const volatile uint8_t*>(at);
    }
}

void FileMapping::Release(int64_t offset, int64_t length) const {
    if (data_ == nullptr || offset >= size_ || length <= 0) {
        return;
    }
    const uintptr_t base = reinterpret_cast<uintptr_t>(data_);
    const uintptr_t first =
        (base + static_cast<uintptr_t>(offset) + g_pageSize - 1) & ~(g_pageSize - 1);
    const uintptr_t end =
        (base + static_cast<uintptr_t>(std::min(offset + length, size_))) & ~(g_pageSize - 1);
    if (first < end) {
        ::madvise(reinterpret_cast<void*>(first), end - first, MADV_DONTNEED);
    }
}

bool FileMapping::LostPages() const {
    return slot_ >= 0 &&
           g_slots[static_cast<size_t>(slot_)].patched.load(std::memory_order_acquire);
}

} // namespace sonvex
