#include "analyses/MCV_IterativeAnalysis.h"

#include "analyses/MCV_UiInterface.h"

void MCV_IterativeAnalysis::stop()
{
    m_running = false;
    m_pending = kNoRequest;
}

void MCV_IterativeAnalysis::requestDeletion()
{
    if (m_deletionAnnounced)
        return;
    m_deletionRequested = true;
    m_running = false;
    m_pending = kNoRequest;
    if (m_busy)
        return; // drive() announces once the computation has unwound
    m_deletionAnnounced = true;
    if (m_uiInterface)
        m_uiInterface->readyForDeletionSignal(this); // the owner may delete us here
}

void MCV_IterativeAnalysis::request(int request)
{
    if (m_deletionRequested)
        return;
    if (m_busy)
    {
        // A computation further down the stack picks this up at its next iteration.
        m_pending = request;
        m_running = false;
        return;
    }
    drive(request);
}

void MCV_IterativeAnalysis::drive(int request)
{
    m_busy = true;
    try
    {
        while (request != kNoRequest && !m_deletionRequested)
        {
            m_pending = kNoRequest;
            runRequest(request);
            request = m_pending;
        }
    }
    catch (const std::exception& failure)
    {
        m_running = false;
        runFailed(failure);
    }
    m_pending = kNoRequest;
    m_busy = false;
    if (m_deletionRequested && !m_deletionAnnounced)
    {
        m_deletionAnnounced = true;
        if (m_uiInterface)
            m_uiInterface->readyForDeletionSignal(this); // last action: the owner may delete us here
    }
}
