#pragma once

#include "analyses/MCV_UiInterface.h"

#include <string>
#include <vector>

/// A notification object that ignores every announcement: tests and
/// benchmarks override only those they pass on to a view or time.
class SilentUiInterface : public MCV_UiInterface
{
public:
    void dimensionsAddedSignal() override {}
    void analysisInitializedSignal(void*) override {}
    void analysisUpdatedSignal(void*) override {}
    void analysisMilestoneSignal(void*) override {}
    void analysisFinishedSignal(void*) override {}
    void readyForDeletionSignal(void*) override {}
    void newDerivedDataAddedSignal() override {}
    void dataRefreshedSignal(void*) override {}
    void selectionRefreshedSignal(void*) override {}
    void highlightRefreshedSignal(void*) override {}
    void spadeTreeRefreshedSignal(void*) override {}
    void analysesRemovedSignal(std::vector<std::string>*) override {}
};
