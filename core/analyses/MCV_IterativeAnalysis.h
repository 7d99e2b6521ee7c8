#pragma once

#include "analyses/MCV_Analysis.h"

#include <exception>

/// Base of the analyses whose gradient-descent loop runs on the GUI thread
/// and announces after every iteration (the A-tSNE and the hierarchical SNE
/// levels): it keeps their run-state contract in one place.
///
/// Re-entrancy. Views process pending events inside analysisUpdatedSignal
/// (and inside the other notifications), so any operation may be called while
/// this analysis is already computing further down the call stack ("busy").
/// While busy, run requests, stop and requestDeletion only record the request
/// and clear the running flag; the computation on the stack honours it at
/// the start of its next iteration, unwinds that run, and then starts the
/// requested run itself. So there is never a second loop on top of the first,
/// and no buffer is replaced while a loop uses it. The last run request wins;
/// stop and requestDeletion drop a pending one.
///
/// Deletion. requestDeletion is announced exactly once with
/// readyForDeletionSignal, and that call is the analysis' very last action:
/// the owner deletes the analysis inside that slot. While busy the loop ends
/// at its next iteration and the announcement replaces the closing
/// analysisFinishedSignal once the computation has unwound; while idle it is
/// announced at once, from inside requestDeletion. Deleting the analysis any
/// other way is safe only while isBusy() is false.
class MCV_IterativeAnalysis : public MCV_Analysis
{
public:
    /// Resumes the current embedding for the set number of iterations.
    virtual void runGradientDescent() = 0;
    /// A new start of the current embedding, then the loop.
    virtual void restart() = 0;
    /// Ends a running loop at its next iteration and drops a pending run.
    void stop();
    /// See the class comment.
    void requestDeletion() override;

    /// True while the loop runs and no stop was requested.
    bool isRunning() const { return m_running; }
    /// True while a computation of this analysis is on the call stack.
    bool isBusy() const { return m_busy; }
    bool isDeletionRequested() const { return m_deletionRequested; }

    /// Stored now, used from the next run (iterations) or set-up (the others).
    void setIterations(int iterations) { m_iterations = iterations; }
    void setExaggerationIterations(int iterations) { m_exaggerationIterations = iterations; }
    void setExponentialDecayIterations(int iterations) { m_exponentialDecayIterations = iterations; }
    int iterations() const { return m_iterations; }
    int exaggerationIterations() const { return m_exaggerationIterations; }
    int exponentialDecayIterations() const { return m_exponentialDecayIterations; }

protected:
    /// Request codes are the subclass' own; 0 means none.
    static constexpr int kNoRequest = 0;

    /// Runs the request now, or records it when a computation is on the stack.
    void request(int request);
    /// Performs one request; a request recorded meanwhile is taken up after it.
    virtual void runRequest(int request) = 0;
    /// Called when runRequest threw: the computation ends with the failure's
    /// line and the analysis stays usable.
    virtual void runFailed(const std::exception& failure) = 0;

    /// The loop condition: cleared by stop, by requests while busy and by deletion.
    bool m_running = false;
    bool m_deletionRequested = false;
    /// The request recorded while busy, taken up once the current one ends.
    int m_pending = kNoRequest;
    int m_iterations = 1000;
    int m_exaggerationIterations = 250;
    int m_exponentialDecayIterations = 70;

private:
    /// The one place where computations run, one after another, until no
    /// request is pending; ends with the deletion announcement when asked.
    void drive(int request);

    bool m_busy = false;
    bool m_deletionAnnounced = false;
};
