#include <gtest/gtest.h>

#include <optional>

#include "host/SlotCheck.h"
#include "support/CamSim.h"
#include "support/DriverLibrary.h"

TEST(DriverSlotCheck, ExportsAndVtableSlotsByIndex) {
    char report[4096] = {};
    const int failures = halvencap_slot_check(halvencap_test::DriverDllPath().c_str(), report, sizeof report);
    EXPECT_EQ(failures, 0) << report;
}

TEST(DriverSlotCheck, CapabilityQueryByIndex) {
    std::optional<halvencap_test::Camera> camera;
    if (halvencap_test::CamSim::Available()) camera = halvencap_test::CamSim().NewCamera();
    char report[8192] = {};
    const int failures = halvencap_capability_slot_check(halvencap_test::DriverDllPath().c_str(),
                                                         camera ? camera->port : 0, report, sizeof report);
    EXPECT_EQ(failures, 0) << report;
    if (!camera) GTEST_SKIP() << "camera simulator not running: no full probe";
}
