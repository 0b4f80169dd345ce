#pragma once
// How one repair run ended, as the front ends tell it.

enum class RepairOutcome { Done, Failed, Stopped };

// The word printed and saved for the outcome: "Done", "Failed" or "Stopped".
const char* RepairOutcomeText(RepairOutcome outcome);
