/*
 * Reference counting with strong and weak pointers (host stand-in for the
 * platform's RefBase). The object is destroyed when its last strong
 * reference goes; its weak-reference record lives until the last weak one.
 */
#ifndef UTILS_REFBASE_H
#define UTILS_REFBASE_H

#include <stdint.h>
#include <sys/types.h>

#include <atomic>

#include <utils/StrongPointer.h>

namespace android {

class RefBase {
public:
    void incStrong(const void* id) const;
    void decStrong(const void* id) const;
    int32_t getStrongCount() const;

    class weakref_type {
    public:
        RefBase* refBase() const;
        void incWeak(const void* id);
        void decWeak(const void* id);
        // Takes a strong reference when the object is still alive.
        bool attemptIncStrong(const void* id);
        int32_t getWeakCount() const;
    };

    weakref_type* createWeak(const void* id) const;
    weakref_type* getWeakRefs() const;

protected:
    RefBase();
    virtual ~RefBase();
    virtual void onFirstRef();
    virtual void onLastStrongRef(const void* id);

private:
    friend class weakref_type;
    class weakref_impl;

    RefBase(const RefBase&) = delete;
    RefBase& operator=(const RefBase&) = delete;

    weakref_impl* const mRefs;
};

// Light-weight counted base for objects never held weakly.
template <typename T>
class LightRefBase {
public:
    LightRefBase() : mCount(0) {}
    void incStrong(const void*) const { mCount.fetch_add(1, std::memory_order_relaxed); }
    void decStrong(const void*) const {
        if (mCount.fetch_sub(1, std::memory_order_acq_rel) == 1) delete static_cast<const T*>(this);
    }
    int32_t getStrongCount() const { return mCount.load(); }

protected:
    ~LightRefBase() {}

private:
    mutable std::atomic<int32_t> mCount;
};

template <typename T>
class wp {
public:
    typedef typename RefBase::weakref_type weakref_type;

    wp() : m_ptr(nullptr), m_refs(nullptr) {}
    wp(T* other) : m_ptr(other), m_refs(other ? other->createWeak(this) : nullptr) {}
    wp(const wp<T>& other) : m_ptr(other.m_ptr), m_refs(other.m_refs) {
        if (m_ptr) m_refs->incWeak(this);
    }
    wp(const sp<T>& other) : m_ptr(other.get()), m_refs(m_ptr ? m_ptr->createWeak(this) : nullptr) {}
    ~wp() {
        if (m_ptr) m_refs->decWeak(this);
    }

    wp& operator=(T* other) {
        weakref_type* newRefs = other ? other->createWeak(this) : nullptr;
        if (m_ptr) m_refs->decWeak(this);
        m_ptr = other;
        m_refs = newRefs;
        return *this;
    }
    wp& operator=(const wp<T>& other) {
        weakref_type* newRefs = other.m_refs;
        if (other.m_ptr) newRefs->incWeak(this);
        if (m_ptr) m_refs->decWeak(this);
        m_ptr = other.m_ptr;
        m_refs = newRefs;
        return *this;
    }
    wp& operator=(const sp<T>& other) { return *this = other.get(); }

    sp<T> promote() const {
        sp<T> result;
        if (m_ptr && m_refs->attemptIncStrong(&result)) result.force_set(m_ptr);
        return result;
    }
    void clear() {
        if (m_ptr) {
            m_refs->decWeak(this);
            m_ptr = nullptr;
            m_refs = nullptr;
        }
    }
    T* unsafe_get() const { return m_ptr; }
    bool operator==(const wp<T>& o) const { return m_ptr == o.m_ptr; }
    bool operator!=(const wp<T>& o) const { return m_ptr != o.m_ptr; }

private:
    T* m_ptr;
    weakref_type* m_refs;
};

}  // namespace android

#endif  // UTILS_REFBASE_H
