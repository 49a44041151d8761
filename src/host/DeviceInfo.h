// The one description of which camera to use and how to reach it.
#pragma once

#include <cstdint>
#include <string>

namespace zentavo {

struct DEVICE_INFO {
    uint32_t requestTimeoutMs = 5000;
    uint32_t streamTimeoutMs = 5000;
    std::string address;
    uint16_t port = 80;
    std::string userName;
    std::string password;
    std::string model;

    DEVICE_INFO() = default;
    DEVICE_INFO(const std::string& addr, uint16_t p, const std::string& user,
                const std::string& pass)
        : address(addr), port(p), userName(user), password(pass) {}
    DEVICE_INFO(const DEVICE_INFO&) = default;
    DEVICE_INFO& operator=(const DEVICE_INFO&) = default;
    virtual ~DEVICE_INFO() = default;
};

}  // namespace zentavo
