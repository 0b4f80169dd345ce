#include "repair/RepairOutcome.h"

const char* RepairOutcomeText(RepairOutcome outcome)
{
    switch (outcome) {
    case RepairOutcome::Done:
        return "Done";
    case RepairOutcome::Stopped:
        return "Stopped";
    case RepairOutcome::Failed:
        break;
    }
    return "Failed";
}
