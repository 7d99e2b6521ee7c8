#pragma once

#include "analyses/MCV_UiInterface.h"

#include <functional>
#include <string>
#include <vector>

/// An MCV_UiInterface that records every call, in order, for tests to
/// inspect. An optional hook runs inside each call, the way a view's slot
/// runs inside the notification (it may re-enter the core).
class RecordingUiInterface : public MCV_UiInterface
{
public:
    struct Call
    {
        std::string operation;
        void* argument = nullptr;
    };

    std::vector<Call> calls;
    std::vector<std::vector<std::string>> removedAnalysisNames;
    std::function<void(const Call&)> onCall;

    void dimensionsAddedSignal() override { record("dimensionsAddedSignal", nullptr); }
    void analysisInitializedSignal(void* a) override { record("analysisInitializedSignal", a); }
    void analysisUpdatedSignal(void* a) override { record("analysisUpdatedSignal", a); }
    void analysisMilestoneSignal(void* a) override { record("analysisMilestoneSignal", a); }
    void analysisFinishedSignal(void* a) override { record("analysisFinishedSignal", a); }
    void readyForDeletionSignal(void* a) override { record("readyForDeletionSignal", a); }
    void newDerivedDataAddedSignal() override { record("newDerivedDataAddedSignal", nullptr); }
    void dataRefreshedSignal(void* d) override { record("dataRefreshedSignal", d); }
    void selectionRefreshedSignal(void* c) override { record("selectionRefreshedSignal", c); }
    void highlightRefreshedSignal(void* c) override { record("highlightRefreshedSignal", c); }
    void spadeTreeRefreshedSignal(void* c) override { record("spadeTreeRefreshedSignal", c); }
    void analysesRemovedSignal(std::vector<std::string>* names) override
    {
        removedAnalysisNames.push_back(names ? *names : std::vector<std::string>{});
        record("analysesRemovedSignal", names);
    }

    /// Number of recorded calls of one operation (optionally with one argument).
    int count(const std::string& operation, void* argument = nullptr) const;
    /// The operations in call order.
    std::vector<std::string> operations() const;
    void clear() { calls.clear(); removedAnalysisNames.clear(); }

private:
    void record(const char* operation, void* argument);
};
