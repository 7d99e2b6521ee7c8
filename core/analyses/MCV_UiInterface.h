#pragma once

#include <string>
#include <vector>

/// The one channel through which the core tells the user interface what
/// changed. Holders (registry, derived data, analyses) keep a non-owning
/// pointer; a null pointer means nobody listens (headless use).
/// Every call is synchronous: the receivers have run when it returns, and
/// they may re-enter the core.
class MCV_UiInterface
{
public:
    virtual ~MCV_UiInterface() = default;

    virtual void dimensionsAddedSignal() = 0;
    virtual void analysisInitializedSignal(void* analysis) = 0;
    virtual void analysisUpdatedSignal(void* analysis) = 0;
    virtual void analysisMilestoneSignal(void* analysis) = 0;
    virtual void analysisFinishedSignal(void* analysis) = 0;
    virtual void readyForDeletionSignal(void* analysis) = 0;
    virtual void newDerivedDataAddedSignal() = 0;
    virtual void dataRefreshedSignal(void* data) = 0;
    virtual void selectionRefreshedSignal(void* clusters) = 0;
    virtual void highlightRefreshedSignal(void* clusters) = 0;
    virtual void spadeTreeRefreshedSignal(void* clusters) = 0;
    virtual void analysesRemovedSignal(std::vector<std::string>* analysisNames) = 0;
};
