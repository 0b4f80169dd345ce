#pragma once
// What the engine's parts poll while they work: a run's stop flag, behind
// its pause gate. A part is handed the token of the run it works for; an
// empty token never stops (a part used on its own).

#include "repair/RepairState.h"

class CStopToken {
public:
    CStopToken() = default;
    explicit CStopToken(CRepairRunState& state) : m_pState(&state) {}

    // One poll: waits while the gate is closed, then tells whether a stop
    // was asked for.
    bool Requested() const
    {
        if (m_pState == nullptr)
            return false;
        m_pState->Gate().Wait();
        return m_pState->IsStopSet();
    }

private:
    CRepairRunState* m_pState = nullptr;
};
