// Shared-memory pool (memfd) carved into blocks in allocation order.
#include <binder/MemoryDealer.h>

#include <sys/mman.h>
#include <unistd.h>

#include <mutex>

namespace android {

void* IMemory::pointer() const {
    ssize_t offset;
    sp<IMemoryHeap> heap = getMemory(&offset);
    void* base = heap != nullptr ? heap->getBase() : nullptr;
    return base ? (uint8_t*)base + offset : nullptr;
}

size_t IMemory::size() const {
    size_t size;
    getMemory(nullptr, &size);
    return size;
}

ssize_t IMemory::offset() const {
    ssize_t offset;
    getMemory(&offset);
    return offset;
}

class MemoryHeap : public IMemoryHeap {
public:
    MemoryHeap(size_t size, const char* name) : mFd(-1), mBase(nullptr), mSize(size) {
        mFd = memfd_create(name ? name : "MemoryDealer", MFD_CLOEXEC);
        if (mFd >= 0 && ftruncate64(mFd, size > 0 ? (off64_t)size : 1) == 0) {
            void* p = mmap(nullptr, size > 0 ? size : 1, PROT_READ | PROT_WRITE, MAP_SHARED, mFd, 0);
            if (p != MAP_FAILED) mBase = p;
        }
    }
    ~MemoryHeap() override {
        if (mBase) munmap(mBase, mSize > 0 ? mSize : 1);
        if (mFd >= 0) close(mFd);
    }
    int getHeapID() const override { return mFd; }
    void* getBase() const override { return mBase; }
    size_t getSize() const override { return mBase ? mSize : 0; }

private:
    int mFd;
    void* mBase;
    size_t mSize;
};

class MemoryDealerPool : public RefBase {
public:
    MemoryDealerPool(size_t size, const char* name) : mHeap(new MemoryHeap(size, name)), mUsed(0) {}
    sp<MemoryHeap> mHeap;
    std::mutex mLock;
    size_t mUsed;
};

namespace {

class Allocation : public IMemory {
public:
    Allocation(const sp<MemoryDealerPool>& pool, ssize_t offset, size_t size)
        : mPool(pool), mOffset(offset), mSize(size) {}
    sp<IMemoryHeap> getMemory(ssize_t* offset, size_t* size) const override {
        if (offset) *offset = mOffset;
        if (size) *size = mSize;
        return mPool->mHeap;
    }

private:
    sp<MemoryDealerPool> mPool;  // keeps the mapping alive while the block is
    ssize_t mOffset;
    size_t mSize;
};

}  // namespace

#if PLATFORM_LEVEL >= 21
MemoryDealer::MemoryDealer(size_t size, const char* name, uint32_t /*flags*/)
#else
MemoryDealer::MemoryDealer(size_t size, const char* name)
#endif
    : mPool(new MemoryDealerPool(size, name)) {
}

MemoryDealer::~MemoryDealer() {}

sp<IMemory> MemoryDealer::allocate(size_t size) {
    std::lock_guard<std::mutex> guard(mPool->mLock);
    // The pool is sized for exactly its blocks, so they are packed.
    size_t offset = mPool->mUsed;
    if (mPool->mHeap->getBase() == nullptr || offset + size > mPool->mHeap->getSize()) {
        return nullptr;
    }
    mPool->mUsed = offset + size;
    return new Allocation(mPool, offset, size);
}

void MemoryDealer::deallocate(size_t /*offset*/) {}

sp<IMemoryHeap> MemoryDealer::getMemoryHeap() const { return mPool->mHeap; }

}  // namespace android
