// Strong pointer to a reference-counted object (incStrong / decStrong).
#ifndef UTILS_STRONG_POINTER_H
#define UTILS_STRONG_POINTER_H

#include <stddef.h>

namespace android {

template <typename T>
class wp;

template <typename T>
class sp {
public:
    sp() : m_ptr(nullptr) {}
    sp(T* other) : m_ptr(other) {
        if (other) other->incStrong(this);
    }
    sp(const sp<T>& other) : m_ptr(other.m_ptr) {
        if (m_ptr) m_ptr->incStrong(this);
    }
    sp(sp<T>&& other) noexcept : m_ptr(other.m_ptr) { other.m_ptr = nullptr; }
    template <typename U>
    sp(U* other) : m_ptr(other) {
        if (other) static_cast<T*>(other)->incStrong(this);
    }
    template <typename U>
    sp(const sp<U>& other) : m_ptr(other.get()) {
        if (m_ptr) m_ptr->incStrong(this);
    }
    ~sp() {
        if (m_ptr) m_ptr->decStrong(this);
    }

    sp& operator=(const sp<T>& other) {
        T* p = other.m_ptr;
        if (p) p->incStrong(this);
        if (m_ptr) m_ptr->decStrong(this);
        m_ptr = p;
        return *this;
    }
    sp& operator=(sp<T>&& other) noexcept {
        if (this != &other) {
            if (m_ptr) m_ptr->decStrong(this);
            m_ptr = other.m_ptr;
            other.m_ptr = nullptr;
        }
        return *this;
    }
    sp& operator=(T* other) {
        if (other) other->incStrong(this);
        if (m_ptr) m_ptr->decStrong(this);
        m_ptr = other;
        return *this;
    }
    template <typename U>
    sp& operator=(const sp<U>& other) {
        return *this = static_cast<T*>(other.get());
    }

    void clear() {
        if (m_ptr) {
            T* p = m_ptr;
            m_ptr = nullptr;
            p->decStrong(this);
        }
    }

    T& operator*() const { return *m_ptr; }
    T* operator->() const { return m_ptr; }
    T* get() const { return m_ptr; }
    explicit operator bool() const { return m_ptr != nullptr; }

    bool operator==(const sp<T>& o) const { return m_ptr == o.m_ptr; }
    bool operator!=(const sp<T>& o) const { return m_ptr != o.m_ptr; }
    bool operator==(const T* o) const { return m_ptr == o; }
    bool operator!=(const T* o) const { return m_ptr != o; }
    bool operator==(std::nullptr_t) const { return m_ptr == nullptr; }
    bool operator!=(std::nullptr_t) const { return m_ptr != nullptr; }

    // For wp<T>::promote: adopts a reference already taken.
    void force_set(T* other) { m_ptr = other; }

private:
    T* m_ptr;
};

}  // namespace android

#endif  // UTILS_STRONG_POINTER_H
