#include "portlink_api.h"

const PortlinkApi &RealPortlink() {
    static const PortlinkApi api{initcom, destroycom, opencom,  setcom,  setmdm,   flowcom,
                                 ondata,  closecom,   writecom, readcom, clearbfr, checkbfr};
    return api;
}
