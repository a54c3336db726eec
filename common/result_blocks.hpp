// New result arrays whose memory outlives them for a while.
//
// glibc hands a freed block of more than 128 KiB back to the system (it is
// mapped on its own, or trimmed off the top of the heap), so a function
// called again with the same size and no out= page-faults its whole result
// in again: five times the cost of the computation at 10^4 matrices. Large
// results therefore take their memory from a small pool of the blocks of
// results freed before; the array is an ordinary numpy array whose base is
// the capsule that gives the block back when the array goes.
#ifndef KESTREL_NATIVE_RESULT_BLOCKS_HPP
#define KESTREL_NATIVE_RESULT_BLOCKS_HPP

#include "numpy_module.hpp"

#include <cstdlib>
#include <mutex>

namespace kestrel_native {

// Results smaller than this come from numpy itself: the heap reuses them.
constexpr std::size_t kPooledBytes = std::size_t(128) << 10;
// At most this many freed blocks, and this many bytes in all, are kept.
constexpr std::size_t kPoolBlocks = 4;
constexpr std::size_t kPoolMostBytes = std::size_t(256) << 20;
// The block's size sits in front of its values, which stay 64-byte aligned.
constexpr std::size_t kBlockHeader = 64;

const char kBlockCapsuleName[] = "kestrel result block";

struct BlockPool {
    std::mutex lock;  // the GIL guards it too, but not in a free-threaded build
    char* blocks[kPoolBlocks + 1];  // oldest first
    std::size_t count = 0;
    std::size_t bytes = 0;

    void remove(std::size_t k) {
        bytes -= blockSize(blocks[k]);
        for (std::size_t j = k + 1; j < count; ++j) {
            blocks[j - 1] = blocks[j];
        }
        --count;
    }

    static std::size_t blockSize(const char* block) { return *reinterpret_cast<const std::size_t*>(block); }
};

inline BlockPool gBlockPool;

// A block of exactly size bytes of values: a pooled one, or a new one (null
// when there is no memory).
inline char* takeBlock(std::size_t size) {
    {
        std::lock_guard<std::mutex> guard(gBlockPool.lock);
        for (std::size_t k = gBlockPool.count; k-- > 0;) {
            char* const block = gBlockPool.blocks[k];
            if (BlockPool::blockSize(block) == size) {
                gBlockPool.remove(k);
                return block;
            }
        }
    }
    void* memory = nullptr;
    if (posix_memalign(&memory, kBlockHeader, kBlockHeader + size) != 0) {
        return nullptr;
    }
    char* const block = static_cast<char*>(memory);
    *reinterpret_cast<std::size_t*>(block) = size;
    return block;
}

// Keeps the block for a later result, the oldest ones freed beyond the
// pool's limits.
inline void giveBackBlock(char* block) {
    char* surplus[kPoolBlocks + 1];
    std::size_t surplusCount = 0;
    {
        std::lock_guard<std::mutex> guard(gBlockPool.lock);
        gBlockPool.blocks[gBlockPool.count++] = block;
        gBlockPool.bytes += BlockPool::blockSize(block);
        while (gBlockPool.count > kPoolBlocks || gBlockPool.bytes > kPoolMostBytes) {
            surplus[surplusCount++] = gBlockPool.blocks[0];
            gBlockPool.remove(0);
        }
    }
    for (std::size_t k = 0; k < surplusCount; ++k) {
        std::free(surplus[k]);
    }
}

inline void releaseBlockCapsule(PyObject* capsule) {
    giveBackBlock(static_cast<char*>(PyCapsule_GetPointer(capsule, kBlockCapsuleName)));
}

// A new C-contiguous array of the given shape and type (native byte order,
// uninitialised; itemSize the type's size); null with an error set when it
// cannot be made.
inline OwnedRef newResultArray(int dimensions, const npy_intp* dims, int typenum, std::size_t itemSize) {
    std::size_t size = itemSize;
    for (int d = 0; d < dimensions; ++d) {
        size *= static_cast<std::size_t>(dims[d]);
    }
    if (size < kPooledBytes) {
        return OwnedRef(PyArray_SimpleNew(dimensions, const_cast<npy_intp*>(dims), typenum));
    }
    char* const block = takeBlock(size);
    if (block == nullptr) {
        PyErr_NoMemory();
        return OwnedRef();
    }
    OwnedRef capsule(PyCapsule_New(block, kBlockCapsuleName, releaseBlockCapsule));
    if (!capsule) {
        giveBackBlock(block);
        return OwnedRef();
    }
    OwnedRef array(PyArray_New(&PyArray_Type, dimensions, const_cast<npy_intp*>(dims), typenum, nullptr,
                               block + kBlockHeader, 0, NPY_ARRAY_CARRAY, nullptr));
    // The array takes the capsule's reference, even when it refuses it (the
    // block then goes back to the pool before the array is gone, which never
    // reads it).
    if (!array || PyArray_SetBaseObject(asArray(array.get()), capsule.release()) != 0) {
        return OwnedRef();
    }
    return array;
}

}  // namespace kestrel_native

#endif
