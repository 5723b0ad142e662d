#include "web/drawjobs.h"

#include "signing/signingstate.h"

#include <algorithm>
#include <chrono>

bool DrawJobs::push(int flag)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (flag == -1 && waitingPicturesAtTheEnd() >= kMaxWaitingPictures)
        return false;
    m_queued.push_back(flag);
    return true;
}

bool DrawJobs::startNext()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_queued.empty())
            return false;
        ExcCommFlag = m_queued.front();
        m_queued.pop_front();
        ++isOnDrawing;
    }
    m_changed.notify_all();
    return true;
}

void DrawJobs::finish()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        --isOnDrawing;
    }
    m_changed.notify_all();
}

bool DrawJobs::waitWhileOneRuns(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [] { return isOnDrawing == 0; });
}

bool DrawJobs::waitUntilAllDone(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [this] { return isOnDrawing == 0 && m_queued.empty(); });
}

bool DrawJobs::waitUntilNoPictureQueued(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return !pictureQueued(); });
}

int DrawJobs::waitingPicturesAtTheEnd() const
{
    const auto lastCommand = std::find_if(m_queued.rbegin(), m_queued.rend(), [](int flag) { return flag != -1; });
    return int(std::distance(m_queued.rbegin(), lastCommand));
}

bool DrawJobs::pictureQueued() const
{
    return std::find(m_queued.begin(), m_queued.end(), -1) != m_queued.end();
}
