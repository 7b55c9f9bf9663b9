// The metadata dataset of an Oracle session.
#pragma once

#include "dataaccess/components/Ora.h"

namespace dac {

// ORA-24344: a stored unit was created with compilation errors.
inline constexpr int kCompilationErrorCode = 24344;

class TOraMetaData : public TDAMetaData {
public:
    explicit TOraMetaData(rtl::TComponent* owner = nullptr) : TDAMetaData(owner) {}

    TOraSession* Session() const { return static_cast<TOraSession*>(Connection()); }
    void SetSession(TOraSession* value) { SetConnection(value); }
};

}  // namespace dac
