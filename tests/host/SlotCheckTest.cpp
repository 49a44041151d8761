#include <gtest/gtest.h>

#include "host/SlotCheck.h"
#include "support/DriverLibrary.h"

TEST(DriverSlotCheck, ExportsAndVtableSlotsByIndex) {
    char report[4096] = {};
    const int failures = halvencap_slot_check(halvencap_test::DriverDllPath().c_str(), report, sizeof report);
    EXPECT_EQ(failures, 0) << report;
}
