// Turns exceptions inside an entry point into an OCI status and an error record. Every call starts
// with a clean record, as with a real client: a record read after a successful call is no stale one.
#pragma once

#include <new>

#include "platform/oci/StandIn.h"

namespace oci {

template <class F>
sword guarded(Error* err, F&& f) {
    if (err) err->clear();
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
