// A thread that owns a queue of heap items and hands them to Process() one
// by one. Items are deleted after processing, when discarded at stop, and
// when refused by Post.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "runtime/BaseThread.h"
#include "runtime/Event.h"
#include "runtime/RecursiveLock.h"

namespace zentavo {

template <class Item>
class CQueueThread : public CBaseThread {
public:
    explicit CQueueThread(IDebugMessage* driver = nullptr) : CBaseThread(driver), m_itemEvent(false) {}

    ~CQueueThread() override {
        JoinThread(5000);
        DeleteAll(TakeAll());
    }

    virtual void Process(Item* item) = 0;

    virtual bool StartQueue(const std::string& name) {
        m_itemEvent.Reset();
        const bool started = StartThread(name);
        // Items already queued (posted before the first start, or waiting
        // for a run that is still alive) would otherwise sit until the next
        // Post wakes the thread.
        CLockGuard guard(m_queueLock);
        if (!m_queue.empty()) m_itemEvent.Set();
        return started;
    }

    virtual bool StopQueue(unsigned ms) {
        m_stopEvent.Set();
        DeleteAll(TakeAll());
        return JoinThread(ms);
    }

    // Takes ownership in every case. False (item deleted) once the queue is
    // stopping.
    bool Post(Item* item) {
        if (item == nullptr) return false;
        {
            // Checked under the queue lock, so an item can never slip in
            // after StopQueue emptied the queue.
            CLockGuard guard(m_queueLock);
            if (!m_stopEvent.Wait(0)) {
                m_queue.push_back(item);
                m_itemEvent.Set();
                return true;
            }
        }
        delete item;
        return false;
    }

    size_t Pending() {
        CLockGuard guard(m_queueLock);
        return m_queue.size();
    }

    void Run() override {
        CEvent* const events[2] = {&m_stopEvent, &m_itemEvent};
        while (!m_stopEvent.Wait(0)) {
            if (WaitAny(events, 2, 1000) != 1) continue;
            for (;;) {
                Item* item = nullptr;
                {
                    CLockGuard guard(m_queueLock);
                    if (m_queue.empty()) break;
                    item = m_queue.front();
                    m_queue.pop_front();
                }
                if (m_stopEvent.Wait(0)) {
                    delete item;
                    break;
                }
                try {
                    Process(item);
                } catch (...) {
                    // A failing item must not end the queue.
                }
                delete item;
            }
        }
    }

protected:
    CEvent m_itemEvent;
    CRecursiveLock m_queueLock;
    std::deque<Item*> m_queue;

private:
    std::vector<Item*> TakeAll() {
        CLockGuard guard(m_queueLock);
        std::vector<Item*> items(m_queue.begin(), m_queue.end());
        m_queue.clear();
        return items;
    }
    static void DeleteAll(const std::vector<Item*>& items) {
        for (Item* item : items) delete item;
    }
};

}  // namespace zentavo
