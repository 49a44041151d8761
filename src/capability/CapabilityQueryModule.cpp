#include "capability/CapabilityQueryModule.h"

#include <new>

#include "runtime/SystemErrorText.h"
#include "runtime/TextUtils.h"
#include "runtime/ThreadFactory.h"

namespace zentavo {

namespace {

const DWORD kNoObjectExitCode = 0x123456;
// After a forced termination the thread ends asynchronously; wait this long
// so that it no longer runs when the module goes.
const DWORD kTerminationWaitMs = 5000;
const char kForbiddenAddressCharacters[] = "@#$%^&*(){}[]/\\+=|:;,~'\"!?";
const char* const kThreadName = "capability query";

// The host hands the capability query no debug sink (its callback has no
// slot for text besides OnFailed, which belongs to a probe that ran), so the
// system's debug output is the one place where the cause can be read: a
// debugger or a debug-output viewer attached to the host process.
void ReportNoThread(const DEVICE_INFO& device, unsigned long error) {
    try {
        // An address the probe would refuse may hold credentials written
        // into it ("user:password@host"): it is not repeated.
        const std::string name = HasForbiddenAddressCharacter(device.address)
                                     ? std::string("with an invalid address")
                                     : FormatString("%s:%u", device.address.c_str(), static_cast<unsigned>(device.port));
        const std::string line =
            FormatString("%s: could not start %s \"%s\" for device %s: %s\n", "zentavo::CCapabilityQueryModule::Start",
                         "thread", kThreadName, name.c_str(), SystemErrorText(error).c_str());
        OutputDebugStringA(line.c_str());
    } catch (...) {
        // Out of memory for the line: Start still returns 0.
    }
}

}  // namespace

const char* const CCapabilityQueryModule::kInvalidAddressMessage =
    "Failed to start capability fetching thread. Device address is invalid!";
const char* const CCapabilityQueryModule::kInternalErrorMessage =
    "Failed to start capability fetching thread. Internal error occurs";
const char* const CCapabilityQueryModule::kSaveFailedMessage = "Failed to save capability query results";
const char* const CCapabilityQueryModule::kFetchFailedMessage = "Failed to get camera properties";

bool HasForbiddenAddressCharacter(const std::string& address) {
    return address.find_first_of(kForbiddenAddressCharacters) != std::string::npos;
}

std::string FetchFailureMessage(int32_t code, const std::string& errorText) {
    std::string message = CCapabilityQueryModule::kFetchFailedMessage;
    switch (code) {
        case ipcapture::CAPABILITY_LOGIN_REFUSED:
            message += errorText.empty() ? ", login failed (invalid credentials)" : ": " + errorText;
            break;
        case ipcapture::CAPABILITY_UNREACHABLE:
            message += ", device is offline or is located in unaccessible subnet";
            break;
        case ipcapture::CAPABILITY_OTHER_FAILURE:
            if (!errorText.empty()) message += ": " + errorText;
            break;
        default:
            break;
    }
    return message;
}

CCapabilityQueryModule::CCapabilityQueryModule(ipcapture::ICapabilityQueryCallback* callback, bool videoStandard)
    : m_videoStandard(videoStandard),
      m_deviceInfo(std::string(), 80, std::string(), std::string()),
      m_callback(callback),
      m_thread(INVALID_HANDLE_VALUE) {
    m_deviceInfo.requestTimeoutMs = 5000;
    m_deviceInfo.streamTimeoutMs = 5000;
}

CCapabilityQueryModule::~CCapabilityQueryModule() {
    Terminate();
    CLockGuard guard(m_lock);
    StopThread();
    // The probe thread is gone (or is this thread): nothing else touches
    // the properties now.
    m_properties.Release();
    m_results = nullptr;
}

void* CCapabilityQueryModule::DeletingDestructor(unsigned flags) {
    if (flags & 1) {
        delete this;
    } else {
        this->~CCapabilityQueryModule();
    }
    return this;
}

void CCapabilityQueryModule::StopThread() {
    if (!HasThread()) return;
    if (GetCurrentThreadId() != m_threadId) {
        const DWORD bound = 2 * m_deviceInfo.requestTimeoutMs;
        if (WaitForSingleObject(m_thread, bound) == WAIT_TIMEOUT) {
            TerminateThread(m_thread, 0);
            WaitForSingleObject(m_thread, kTerminationWaitMs);
            if (m_callback != nullptr) {
                try {
                    m_callback->OnThreadTerminated();
                } catch (...) {
                }
            }
        }
    }
    CloseHandle(m_thread);
    m_thread = nullptr;
    m_threadId = 0;
}

CameraPropertiesPtr CCapabilityQueryModule::SharedProperties() {
    CLockGuard guard(m_propertiesLock);
    return m_properties;
}

int32_t CCapabilityQueryModule::Start(const char* address, uint32_t port, const char* userName,
                                      const char* password, ipcapture::ICapabilityResults* results) {
    CLockGuard guard(m_lock);
    if (HasThread()) return 0;
    m_results = results;
    if (address == nullptr || userName == nullptr || password == nullptr) return 0;
    CBaseCameraProperties* properties = nullptr;
    try {
        m_deviceInfo.address = address;
        m_deviceInfo.port = static_cast<uint16_t>(port & 0xFFFF);
        m_deviceInfo.userName = userName;
        m_deviceInfo.password = password;
        if (m_deviceInfo.requestTimeoutMs == 0) return 0;
        properties = CreateProperties();
    } catch (...) {
        properties = nullptr;
    }
    {
        CLockGuard propertiesGuard(m_propertiesLock);
        m_properties.Assign(properties);
    }
    if (properties == nullptr) return 0;
    DWORD id = 0;
    HANDLE thread = CThreadFactory::Create(&CCapabilityQueryModule::Entry, this, false, &id);
    if (thread == nullptr || thread == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        {
            // No probe will run: the properties made for it go now, not
            // with the module.
            CLockGuard propertiesGuard(m_propertiesLock);
            m_properties.Assign(nullptr);
        }
        ReportNoThread(m_deviceInfo, error);
        return 0;
    }
    m_thread = thread;
    m_threadId = id;
    return 1;
}

void CCapabilityQueryModule::Terminate() {
    CameraPropertiesPtr properties = SharedProperties();
    if (properties) properties->Abort();
}

DWORD WINAPI CCapabilityQueryModule::Entry(LPVOID self) {
    if (self == nullptr) return kNoObjectExitCode;
    // An exception escaping a thread would end the host process.
    try {
        static_cast<CCapabilityQueryModule*>(self)->Run();
    } catch (...) {
        return kNoObjectExitCode;
    }
    return 0;
}

bool CCapabilityQueryModule::Probe(int32_t& code, std::string& message) {
    code = ipcapture::CAPABILITY_OTHER_FAILURE;
    if (HasForbiddenAddressCharacter(m_deviceInfo.address)) {
        code = ipcapture::CAPABILITY_BAD_ADDRESS;
        message = kInvalidAddressMessage;
        return false;
    }
    CameraPropertiesPtr properties = SharedProperties();
    if (!properties || m_results == nullptr) {
        message = kInternalErrorMessage;
        return false;
    }
    if (!properties->FetchProperties(code)) {
        message = FetchFailureMessage(code, properties->GetErrorText());
        return false;
    }
    bool saved = false;
    try {
        saved = properties->SaveResults(m_results);
    } catch (...) {
        saved = false;
    }
    if (!saved) {
        message = kSaveFailedMessage;
        return false;
    }
    return true;
}

void CCapabilityQueryModule::Report(bool succeeded, int32_t code, const std::string& message) {
    if (m_callback == nullptr) return;
    try {
        if (succeeded) {
            m_callback->OnCompleted();
        } else {
            m_callback->OnFailed(code, message.c_str());
        }
    } catch (...) {
    }
}

void CCapabilityQueryModule::Run() {
    int32_t code = ipcapture::CAPABILITY_OTHER_FAILURE;
    std::string message;
    bool succeeded = false;
    try {
        succeeded = Probe(code, message);
    } catch (...) {
        // Out of memory somewhere in the probe: the host still hears the end.
        succeeded = false;
        code = ipcapture::CAPABILITY_OTHER_FAILURE;
        message = kInternalErrorMessage;
    }
    // The host may destroy the module from inside its callback: nothing of
    // this object is touched after it.
    Report(succeeded, code, message);
}

}  // namespace zentavo
