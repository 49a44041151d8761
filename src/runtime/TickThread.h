// Periodic work on a thread of its own: Tick() every m_periodMs until the
// stop event is set, optionally once right at the start.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/BaseThread.h"

namespace zentavo {

class CTickThread : public CBaseThread {
public:
    explicit CTickThread(IDebugMessage* driver = nullptr, uint32_t periodMs = 1500)
        : CBaseThread(driver), m_periodMs(periodMs), m_tickAtStart(false) {}

    virtual void Tick() = 0;

    // Ticks at once, then every period. Later starts tick at once too.
    bool StartImmediate(const std::string& name) {
        m_tickAtStart = true;
        return StartThread(name);
    }

    void SetPeriod(uint32_t periodMs) { m_periodMs = periodMs; }
    uint32_t Period() const { return m_periodMs; }

    void Run() override {
        if (m_tickAtStart) Tick();
        while (!m_stopEvent.Wait(m_periodMs)) Tick();
    }

protected:
    uint32_t m_periodMs;
    bool m_tickAtStart;
};

// Forwards each tick to a member function of its owner. Result lets the
// owner's function return a value, which is ignored.
template <class Owner, class Result = void>
class TTickThread : public CTickThread {
public:
    typedef Result (Owner::*TickFunction)();

    explicit TTickThread(IDebugMessage* driver = nullptr, Owner* owner = nullptr,
                         TickFunction onTick = nullptr, uint32_t periodMs = 1500)
        : CTickThread(driver, periodMs), m_owner(owner), m_onTick(onTick) {}

    // The thread calls Tick() on this object; it must end before this part
    // of the object is taken down.
    ~TTickThread() override { StopThread(2000); }

    void SetTarget(Owner* owner, TickFunction onTick) {
        m_owner = owner;
        m_onTick = onTick;
    }

    void Tick() override {
        if (m_owner != nullptr && m_onTick != nullptr) (m_owner->*m_onTick)();
    }

protected:
    Owner* m_owner;
    TickFunction m_onTick;
};

}  // namespace zentavo
