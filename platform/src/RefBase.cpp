#include <utils/RefBase.h>

#include <android/log.h>

namespace android {

class RefBase::weakref_impl : public RefBase::weakref_type {
public:
    explicit weakref_impl(RefBase* base) : mStrong(kInitialStrong), mWeak(0), mBase(base) {}

    static const int32_t kInitialStrong = 1 << 28;

    std::atomic<int32_t> mStrong;
    std::atomic<int32_t> mWeak;
    RefBase* const mBase;
};

RefBase::RefBase() : mRefs(new weakref_impl(this)) {}

RefBase::~RefBase() {
    // An object that never had a strong reference owns its record; otherwise
    // the last weak reference frees it.
    if (mRefs->mStrong.load() == weakref_impl::kInitialStrong || mRefs->mWeak.load() == 0) {
        delete mRefs;
    }
}

void RefBase::onFirstRef() {}
void RefBase::onLastStrongRef(const void*) {}

void RefBase::incStrong(const void* id) const {
    mRefs->incWeak(id);
    int32_t c = mRefs->mStrong.fetch_add(1, std::memory_order_relaxed);
    if (c != weakref_impl::kInitialStrong) return;
    mRefs->mStrong.fetch_sub(weakref_impl::kInitialStrong, std::memory_order_relaxed);
    const_cast<RefBase*>(this)->onFirstRef();
}

void RefBase::decStrong(const void* id) const {
    weakref_impl* const refs = mRefs;
    int32_t c = refs->mStrong.fetch_sub(1, std::memory_order_acq_rel);
    if (c == 1) {
        const_cast<RefBase*>(this)->onLastStrongRef(id);
        delete this;
    }
    refs->decWeak(id);
}

int32_t RefBase::getStrongCount() const { return mRefs->mStrong.load(); }

RefBase::weakref_type* RefBase::createWeak(const void* id) const {
    mRefs->incWeak(id);
    return mRefs;
}

RefBase::weakref_type* RefBase::getWeakRefs() const { return mRefs; }

RefBase* RefBase::weakref_type::refBase() const {
    return static_cast<const weakref_impl*>(this)->mBase;
}

void RefBase::weakref_type::incWeak(const void*) {
    static_cast<weakref_impl*>(this)->mWeak.fetch_add(1, std::memory_order_relaxed);
}

void RefBase::weakref_type::decWeak(const void*) {
    weakref_impl* impl = static_cast<weakref_impl*>(this);
    int32_t c = impl->mWeak.fetch_sub(1, std::memory_order_acq_rel);
    if (c != 1) return;
    // The object is gone (or was never strongly held and is deleted by its
    // owner); the record goes with the last weak reference.
    if (impl->mStrong.load() != weakref_impl::kInitialStrong) delete impl;
}

bool RefBase::weakref_type::attemptIncStrong(const void* id) {
    weakref_impl* impl = static_cast<weakref_impl*>(this);
    incWeak(id);
    int32_t c = impl->mStrong.load(std::memory_order_relaxed);
    while (c > 0 && c != weakref_impl::kInitialStrong) {
        if (impl->mStrong.compare_exchange_weak(c, c + 1, std::memory_order_relaxed)) return true;
    }
    decWeak(id);
    return false;
}

int32_t RefBase::weakref_type::getWeakCount() const {
    return static_cast<const weakref_impl*>(this)->mWeak.load();
}

}  // namespace android
