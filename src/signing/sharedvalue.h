#pragma once

#include <mutex>

// One value that several threads read and write whole: each get() is a copy
// taken under the value's own lock, each set() or update() a change made
// under it. Sequences of calls that must not interleave are ordered by the
// code that makes them.
template <typename T>
class SharedValue
{
public:
    SharedValue() = default;
    SharedValue(const SharedValue &) = delete;
    SharedValue &operator=(const SharedValue &) = delete;
    // A writer thread may have ended unseen by this one: QThread::wait() on a
    // thread that has already finished synchronises through Qt's own futex,
    // which ThreadSanitizer cannot see. Taking the lock orders the last write
    // before the value's end.
    ~SharedValue() { std::lock_guard<std::mutex> lock(m_mutex); }

    T get() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_value;
    }
    void set(const T &value)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_value = value;
    }
    template <typename Change>
    void update(Change change)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        change(m_value);
    }

private:
    mutable std::mutex m_mutex;
    T m_value{};
};
