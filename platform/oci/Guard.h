// Turns exceptions inside an entry point into an OCI status and an error record.
#pragma once

#include <new>

#include "platform/oci/StandIn.h"

namespace oci {

template <class F>
sword guarded(Error* err, F&& f) {
    try {
        return f();
    } catch (const OraException& e) {
        if (err) err->set(e.code(), e.what());
    } catch (const std::bad_alloc&) {
        if (err) err->set(4030, "out of process memory");
    } catch (const std::exception& e) {
        if (err) err->set(600, std::string("internal error code, arguments: [") + e.what() + "]");
    }
    return OCI_ERROR;
}

}  // namespace oci
