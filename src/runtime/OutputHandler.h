// The queue of digital output changes: each queued COutputState is handed to
// a member function of the owner with its index and state.
#pragma once

#include <cstdint>

#include "runtime/QueueThread.h"

namespace zentavo {

class COutputState {
public:
    COutputState(uint32_t outputIndex = 0, uint32_t outputState = 0)
        : index(outputIndex), state(outputState) {}
    virtual ~COutputState() = default;

    uint32_t index;
    uint32_t state;
};

template <class Owner, class Result = void>
class TOutputHandler : public CQueueThread<COutputState> {
public:
    typedef Result (Owner::*ItemFunction)(uint32_t index, uint32_t state);

    explicit TOutputHandler(IDebugMessage* driver = nullptr, Owner* owner = nullptr,
                            ItemFunction onItem = nullptr)
        : CQueueThread<COutputState>(driver), m_owner(owner), m_onItem(onItem) {}

    // The thread calls Process() on this object; it must end before this
    // part of the object is taken down.
    ~TOutputHandler() override { JoinThread(5000); }

    void SetTarget(Owner* owner, ItemFunction onItem) {
        m_owner = owner;
        m_onItem = onItem;
    }

    void Process(COutputState* item) override {
        if (m_owner != nullptr && m_onItem != nullptr && item != nullptr)
            (m_owner->*m_onItem)(item->index, item->state);
    }

protected:
    Owner* m_owner;
    ItemFunction m_onItem;
};

}  // namespace zentavo
