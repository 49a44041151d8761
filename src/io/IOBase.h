// Device-independent digital I/O: caches of the last known input and output
// states, an output thread applying queued changes one by one, an input
// thread polling the inputs, and error reporting around the two device
// operations a camera family supplies.
#pragma once

#include <cstdint>
#include <map>

#include "host/IDriver.h"
#include "io/ICaptureIOApi.h"
#include "runtime/OutputHandler.h"
#include "runtime/RecursiveLock.h"
#include "runtime/TickThread.h"

namespace zentavo {

enum OutputStateValue : uint32_t { OUTPUT_OFF = 1, OUTPUT_ON = 2 };
enum InputStateValue : uint32_t { INPUT_UNKNOWN = 0, INPUT_INACTIVE = 1, INPUT_ACTIVE = 2 };

class CIOBase : public ICaptureIOApi {
public:
    explicit CIOBase(IDriver* driver);
    CIOBase(const CIOBase&) = delete;
    CIOBase& operator=(const CIOBase&) = delete;

    void* DeletingDestructor(unsigned flags) override;
    bool SetCallback(ipcapture::IIOCallback* callback) override;
    bool StartIO() override;
    bool StopIO() override;
    uint32_t GetInputCount() override;
    uint32_t GetOutputCount() override;
    bool SetOutputState(uint32_t index, uint32_t state) override;

    virtual void ApplyOutputState(uint32_t index, uint32_t state);
    virtual bool ChangeOutputState(uint32_t index, uint32_t state) = 0;
    virtual bool GetInputStates(uint32_t count) = 0;
    virtual void OnStart() {}
    virtual void OnStop() = 0;

    virtual ~CIOBase();

    // Polling period of the input thread; set it before StartIO.
    void SetPollPeriod(uint32_t periodMs) { m_inputThread.SetPeriod(periodMs); }
    bool IsInputThreadRunning() const { return m_inputThread.IsRunning(); }
    bool IsOutputThreadRunning() const { return m_outputThread.IsRunning(); }

protected:
    void GetInputStatesWrapper();
    void SetOutputStateWrapper(uint32_t index, uint32_t state);
    void OnInputState(uint32_t index, uint32_t state);
    void ResetCaches();
    // Both threads must be gone before a subclass's members are.
    void ShutDownThreads();
    bool StartThreads(bool& outputStarted, bool& inputStarted);

    CManualEvent& InputStopEvent() { return m_inputThread.StopEvent(); }
    CManualEvent& OutputStopEvent() { return m_outputThread.StopEvent(); }

    IDriver* m_driver;

private:
    ipcapture::IIOCallback* Callback();
    void NotifyFailure();
    bool ReadInputsGuarded();

    TTickThread<CIOBase> m_inputThread;
    TOutputHandler<CIOBase> m_outputThread;
    CRecursiveLock m_stateLock;
    ipcapture::IIOCallback* m_callback = nullptr;
    std::map<uint32_t, uint32_t> m_inputCache;
    std::map<uint32_t, uint32_t> m_outputCache;
    bool m_inputErrorArmed = true;
    bool m_outputErrorArmed = true;
};

}  // namespace zentavo
