#pragma once
// An allocator whose resize leaves new bytes as they are instead of zeroing
// them: I/O buffers of a megabyte are filled by a read before any byte is
// used, and zeroing them first costs as much as the read for a small table.

#include <memory>
#include <new>
#include <vector>

template <typename T>
class CNoInitAllocator : public std::allocator<T> {
public:
    template <typename U>
    struct rebind {
        using other = CNoInitAllocator<U>;
    };
    CNoInitAllocator() = default;
    template <typename U>
    CNoInitAllocator(const CNoInitAllocator<U>&) noexcept
    {
    }
    // Value-initialisation (what resize asks for) becomes
    // default-initialisation: nothing for bytes.
    template <typename U>
    void construct(U* p) noexcept
    {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args)
    {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

// A byte buffer for reads and writes; resize does not clear it.
using IoBuffer = std::vector<unsigned char, CNoInitAllocator<unsigned char>>;
