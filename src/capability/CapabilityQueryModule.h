// One capability probe of one device, on a thread of its own: login,
// property reads, result writing, then OnCompleted or OnFailed on the
// host's callback. A module runs at most one probe in its life. Destroying
// it aborts the probe and gives the thread twice the request time-out to
// end before it is killed (the host then hears OnThreadTerminated).
#pragma once

#include <cstdint>
#include <string>

#include "capability/BaseCameraProperties.h"
#include "capability/IIPCapabilityQuery.h"
#include "host/DeviceInfo.h"
#include "runtime/PlatformTypes.h"
#include "runtime/RecursiveLock.h"
#include "streaming/SmartPtr.h"

namespace zentavo {

using CameraPropertiesPtr = TSmartPtr<CBaseCameraProperties>;

class CCapabilityQueryModule : public ipcapture::IIPCapabilityQuery {
public:
    CCapabilityQueryModule(ipcapture::ICapabilityQueryCallback* callback, bool videoStandard);
    CCapabilityQueryModule(const CCapabilityQueryModule&) = delete;
    CCapabilityQueryModule& operator=(const CCapabilityQueryModule&) = delete;

    void* DeletingDestructor(unsigned flags) override;
    int32_t Start(const char* address, uint32_t port, const char* userName, const char* password,
                  ipcapture::ICapabilityResults* results) override;
    void Terminate() override;
    // A new properties object for the device record, owned by the caller;
    // null when none could be made.
    virtual CBaseCameraProperties* CreateProperties() = 0;
    // The probe thread's body.
    virtual void Run();

    virtual ~CCapabilityQueryModule();

    static const char* const kInvalidAddressMessage;
    static const char* const kInternalErrorMessage;
    static const char* const kSaveFailedMessage;
    static const char* const kFetchFailedMessage;

protected:
    bool m_videoStandard;
    DEVICE_INFO m_deviceInfo;
    ipcapture::ICapabilityQueryCallback* m_callback;
    ipcapture::ICapabilityResults* m_results = nullptr;
    CameraPropertiesPtr m_properties;
    CRecursiveLock m_lock;
    HANDLE m_thread;
    uint32_t m_threadId = 0;

private:
    static DWORD WINAPI Entry(LPVOID self);
    bool HasThread() const { return m_thread != nullptr && m_thread != INVALID_HANDLE_VALUE; }
    CameraPropertiesPtr SharedProperties();
    // Runs the probe; false with code and message when it failed.
    bool Probe(int32_t& code, std::string& message);
    void Report(bool succeeded, int32_t code, const std::string& message);
    void StopThread();

    // Guards m_properties only, briefly: Terminate may come from any thread,
    // including the probe thread's own callbacks, and must never wait behind
    // a destruction that is waiting for that thread.
    CRecursiveLock m_propertiesLock;
};

// Text appended to the fetch failure message for a failure code.
std::string FetchFailureMessage(int32_t code, const std::string& errorText);

// True when the address holds a character no host name or IP address has
// (a port, path, credentials or list written into it).
bool HasForbiddenAddressCharacter(const std::string& address);

}  // namespace zentavo
