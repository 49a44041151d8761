#pragma once

#ifdef __cplusplus
extern "C" {
#endif

/* Returns the number of failed checks; report receives one line per failure. */
int halvencap_slot_check(const char* dllPath, char* report, int reportSize);

/* The capability query exports and host interfaces; with a camera port of
 * a simulated camera (0: none) also a full probe through every slot. */
int halvencap_capability_slot_check(const char* dllPath, unsigned short cameraPort, char* report, int reportSize);

#ifdef __cplusplus
}
#endif
