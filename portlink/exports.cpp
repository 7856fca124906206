// Placeholder until the port library lands.
#include "portlink.h"
extern "C" {
int32_t initcom(PortlinkWindow *) { return 1; }
int32_t destroycom(void) { return 1; }
int32_t opencom(int32_t) { return 1; }
int32_t setcom(int32_t, int32_t, int32_t) { return 2; }
int32_t setmdm(int32_t, int32_t) { return 2; }
int32_t flowcom(int32_t, int32_t) { return 2; }
int32_t ondata(int32_t, int32_t) { return 2; }
int32_t closecom(int32_t) { return 2; }
int32_t writecom(int32_t, const uint8_t *, int32_t) { return 2; }
int32_t readcom(int32_t, uint8_t *, int32_t *) { return 2; }
int32_t clearbfr(int32_t, int32_t) { return 2; }
int32_t checkbfr(int32_t, int32_t, int32_t) { return 2; }
}
