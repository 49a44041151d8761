#pragma once

#ifdef __cplusplus
extern "C" {
#endif

/* Returns the number of failed checks; report receives one line per failure. */
int halvencap_slot_check(const char* dllPath, char* report, int reportSize);

#ifdef __cplusplus
}
#endif
