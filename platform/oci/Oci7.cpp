// The one OCI 7 entry the stand-in offers. It lives in a file of its own so that a second build can
// leave it out, as clients without the OCI 7 calls do.
#include "platform/oci/oci.h"

extern "C" sword opinit(ub4) {
    return OCI_SUCCESS;
}
