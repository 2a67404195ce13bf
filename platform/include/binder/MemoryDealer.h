#ifndef ANDROID_MEMORY_DEALER_H_
#define ANDROID_MEMORY_DEALER_H_

#include <binder/IMemory.h>

#ifndef PLATFORM_LEVEL
#error "PLATFORM_LEVEL comes from the platform target of the build's level"
#endif

namespace android {

class MemoryDealerPool;

// Hands out blocks of one shared-memory pool of a fixed size.
class MemoryDealer : public RefBase {
public:
#if PLATFORM_LEVEL >= 21
    MemoryDealer(size_t size, const char* name = nullptr, uint32_t flags = 0);
#else
    MemoryDealer(size_t size, const char* name = nullptr);
#endif
    // Null when the pool has no room left.
    virtual sp<IMemory> allocate(size_t size);
    virtual void deallocate(size_t offset);
    sp<IMemoryHeap> getMemoryHeap() const;

protected:
    virtual ~MemoryDealer();

private:
    sp<MemoryDealerPool> mPool;
};

}  // namespace android

#endif  // ANDROID_MEMORY_DEALER_H_
