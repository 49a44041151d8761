#include "io/IOBase.h"

#include <new>

#include "runtime/TextUtils.h"

namespace zentavo {

CIOBase::CIOBase(IDriver* driver)
    : m_driver(driver),
      m_inputThread(driver, this, &CIOBase::GetInputStatesWrapper),
      m_outputThread(driver, this, &CIOBase::ApplyOutputState) {
    // Every line known and unknown from the start, as after any reset.
    ResetCaches();
}

CIOBase::~CIOBase() { ShutDownThreads(); }

void CIOBase::ShutDownThreads() {
    const uint32_t t = m_driver != nullptr ? m_driver->GetDeviceInfo()->requestTimeoutMs : 5000;
    m_outputThread.StopEvent().Set();
    m_inputThread.StopEvent().Set();
    m_outputThread.StopQueue(t);
    m_inputThread.StopThread(t);
}

void* CIOBase::DeletingDestructor(unsigned flags) {
    if (flags & 1) {
        delete this;
    } else {
        this->~CIOBase();
    }
    return this;
}

bool CIOBase::SetCallback(ipcapture::IIOCallback* callback) {
    if (callback == nullptr) return false;
    CLockGuard guard(m_stateLock);
    m_callback = callback;
    return true;
}

ipcapture::IIOCallback* CIOBase::Callback() {
    CLockGuard guard(m_stateLock);
    return m_callback;
}

uint32_t CIOBase::GetInputCount() { return m_driver != nullptr ? m_driver->GetIOCounts().first : 0; }

uint32_t CIOBase::GetOutputCount() { return m_driver != nullptr ? m_driver->GetIOCounts().second : 0; }

bool CIOBase::StartIO() {
    // The host's call: an allocation that fails in here must not reach it.
    bool outputStarted = false, inputStarted = false;
    bool result = false;
    try {
        result = StartThreads(outputStarted, inputStarted);
    } catch (...) {
        result = false;
    }
    // Half-started I/O would poll or switch for a device the host believes
    // has none: what this call started is taken down again (threads of an
    // earlier start that still run are not this call's to stop).
    if (!result) {
        const uint32_t t = m_driver != nullptr ? m_driver->GetDeviceInfo()->requestTimeoutMs : 5000;
        if (outputStarted) m_outputThread.StopQueue(t);
        if (inputStarted) m_inputThread.StopThread(t);
    }
    return result;
}

bool CIOBase::StartThreads(bool& outputStarted, bool& inputStarted) {
    ResetCaches();
    OnStart();
    bool result = true;
    const std::string driverName = m_driver != nullptr ? m_driver->GetDriverName() : std::string();
    const std::string deviceName = m_driver != nullptr ? m_driver->GetDeviceName() : std::string();

    const uint32_t outputs = GetOutputCount();
    if (outputs != 0) {
        const std::string name =
            FormatString("Digital Output thread (%s: %s)", driverName.c_str(), deviceName.c_str());
        if (m_outputThread.StartQueue(name)) {
            outputStarted = true;
            for (uint32_t i = 0; i < outputs; ++i) SetOutputState(i, OUTPUT_OFF);
        } else {
            if (m_driver != nullptr)
                m_driver->Message(LOG_ERROR, "%s: Starting of %s failed!", "zentavo::CIOBase::StartIO", name.c_str());
            result = false;
        }
    }
    if (GetInputCount() != 0) {
        const std::string name =
            FormatString("Digital Input thread (%s: %s)", driverName.c_str(), deviceName.c_str());
        if (m_inputThread.StartImmediate(name)) {
            inputStarted = true;
        } else {
            if (m_driver != nullptr)
                m_driver->Message(LOG_ERROR, "%s: Starting of %s failed!", "zentavo::CIOBase::StartIO", name.c_str());
            result = false;
        }
    }
    return result;
}

bool CIOBase::StopIO() {
    const uint32_t t = m_driver != nullptr ? m_driver->GetDeviceInfo()->requestTimeoutMs : 5000;
    m_outputThread.StopEvent().Set();
    m_inputThread.StopEvent().Set();
    OnStop();
    bool result = true;
    if (!m_outputThread.StopQueue(t)) {
        if (m_driver != nullptr)
            m_driver->Message(LOG_ERROR, "%s: Stop Output thread failed! Device %s", "zentavo::CIOBase::StopIO",
                              m_driver->GetDeviceName().c_str());
        result = false;
    }
    if (!m_inputThread.JoinThread(t)) {
        if (m_driver != nullptr)
            m_driver->Message(LOG_ERROR, "%s: Stop Input thread failed! Device %s", "zentavo::CIOBase::StopIO",
                              m_driver->GetDeviceName().c_str());
        result = false;
    }
    ResetCaches();
    return result;
}

bool CIOBase::SetOutputState(uint32_t index, uint32_t state) {
    COutputState* item = new (std::nothrow) COutputState(index, state);
    return item != nullptr && m_outputThread.Post(item);
}

void CIOBase::ResetCaches() {
    const uint32_t outputs = GetOutputCount();
    const uint32_t inputs = GetInputCount();
    CLockGuard guard(m_stateLock);
    m_outputCache.clear();
    for (uint32_t i = 0; i < outputs; ++i) m_outputCache[i] = 0;
    m_inputCache.clear();
    for (uint32_t i = 0; i < inputs; ++i) m_inputCache[i] = 0;
}

void CIOBase::ApplyOutputState(uint32_t index, uint32_t state) {
    {
        CLockGuard guard(m_stateLock);
        auto it = m_outputCache.find(index);
        if (it == m_outputCache.end() || it->second == state) return;
        it->second = state;
    }
    SetOutputStateWrapper(index, state);
}

void CIOBase::NotifyFailure() {
    ipcapture::IIOCallback* callback = Callback();
    if (callback == nullptr) return;
    try {
        callback->OnIOFailure();
    } catch (...) {
        // The host's trouble must not stop the I/O threads.
    }
}

void CIOBase::SetOutputStateWrapper(uint32_t index, uint32_t state) {
    if (ChangeOutputState(index, state)) {
        m_outputErrorArmed = true;
        return;
    }
    ResetCaches();
    // An exchange cut short by StopIO says nothing about the device.
    if (m_outputThread.IsStopRequested()) return;
    NotifyFailure();
    if (m_outputErrorArmed) {
        m_outputErrorArmed = false;
        const DEVICE_INFO* device = m_driver != nullptr ? m_driver->GetDeviceInfo() : nullptr;
        if (device != nullptr)
            m_driver->Message(LOG_ERROR, "%s: Unable to change output state for device %s:%u (output index %u)",
                              "zentavo::CIOBase::SetOutputStateWrapper", device->address.c_str(),
                              static_cast<unsigned>(device->port), index);
    }
}

bool CIOBase::ReadInputsGuarded() {
    // An exception leaving the tick would end the input thread for good and
    // the inputs would silently never be reported again; count it as a
    // failed read instead.
    try {
        return GetInputStates(GetInputCount());
    } catch (...) {
        return false;
    }
}

void CIOBase::GetInputStatesWrapper() {
    if (ReadInputsGuarded()) {
        m_inputErrorArmed = true;
        return;
    }
    ResetCaches();
    if (m_inputThread.IsStopRequested()) return;
    NotifyFailure();
    if (m_inputErrorArmed) {
        m_inputErrorArmed = false;
        const DEVICE_INFO* device = m_driver != nullptr ? m_driver->GetDeviceInfo() : nullptr;
        if (device != nullptr)
            m_driver->Message(LOG_ERROR, "%s: GetInputStates() method failed! Device %s:%hu",
                              "zentavo::CIOBase::GetInputStatesWrapper", device->address.c_str(), device->port);
    }
}

void CIOBase::OnInputState(uint32_t index, uint32_t state) {
    bool changed = false;
    {
        CLockGuard guard(m_stateLock);
        auto it = m_inputCache.find(index);
        if (it != m_inputCache.end() && it->second != state) {
            it->second = state;
            changed = true;
        }
    }
    if (!changed) return;
    ipcapture::IIOCallback* callback = Callback();
    if (callback == nullptr) return;
    try {
        callback->OnInputChanged(index, state);
    } catch (...) {
    }
}

}  // namespace zentavo
