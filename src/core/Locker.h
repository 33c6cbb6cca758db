// Scoped QMutex lock. In ThreadSanitizer builds it also tells TSan about the
// lock, because TSan cannot see into the uninstrumented QtCore.
#ifndef MAROVIN_LOCKER_H
#define MAROVIN_LOCKER_H

#include <QMutex>

#if defined(__SANITIZE_THREAD__)
#define MAROVIN_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define MAROVIN_TSAN 1
#endif
#endif

#ifdef MAROVIN_TSAN
#include <sanitizer/tsan_interface.h>
#endif

namespace marovin {

inline void lockMutex(QMutex &m)
{
    m.lock();
#ifdef MAROVIN_TSAN
    __tsan_acquire(&m);
#endif
}

inline void unlockMutex(QMutex &m)
{
#ifdef MAROVIN_TSAN
    __tsan_release(&m);
#endif
    m.unlock();
}

class Locker {
public:
    explicit Locker(QMutex &m) : m_(&m) { lockMutex(m); }
    ~Locker() { unlock(); }
    void unlock()
    {
        if (m_) {
            unlockMutex(*m_);
            m_ = nullptr;
        }
    }

private:
    Locker(const Locker &);
    Locker &operator=(const Locker &);
    QMutex *m_;
};

}  // namespace marovin

#endif
