// Share modes among cooperating openers, kept as advisory locks on bytes far beyond any data.
// Internal to the runtime's file code.
#pragma once

#include <string>

namespace rtl::fileshare {

// What an opener does and what it denies to others.
struct TShareClaim {
    bool read = false;
    bool write = false;
    bool denyRead = false;
    bool denyWrite = false;
};

// Checks the claim against every other holder and, when it fits, records it on fd (until fd is
// closed). Returns false on a conflict. File systems without lock support accept every claim.
bool Claim(int fd, const TShareClaim& claim);

// True when any opener holds a claim on the file behind fd (other than fd itself).
bool AnyHolder(int fd);

// The message for an open refused by a sharing conflict.
inline const char* SharingViolationText() {
    return "The process cannot access the file because it is being used by another process.";
}

}  // namespace rtl::fileshare
