// Shared-memory blocks and the dealer that carves them from one pool.
#ifndef ANDROID_IMEMORY_H_
#define ANDROID_IMEMORY_H_

#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

#include <utils/RefBase.h>

namespace android {

class IMemoryHeap : public RefBase {
public:
    virtual int getHeapID() const = 0;
    virtual void* getBase() const = 0;
    virtual size_t getSize() const = 0;
};

class IMemory : public RefBase {
public:
    virtual sp<IMemoryHeap> getMemory(ssize_t* offset = nullptr, size_t* size = nullptr) const = 0;
    void* pointer() const;
    size_t size() const;
    ssize_t offset() const;
};

}  // namespace android

#endif  // ANDROID_IMEMORY_H_
