#pragma once

#include "analyses/MCV_UiInterface.h"

#include <QMetaType>
#include <QObject>

#include <string>
#include <vector>

/// Turns every notification of the core into the Qt signal of the same name.
/// Each signal is itself the override of the interface's operation: calling
/// the operation emits the signal with the same argument, and with direct
/// connections every receiving slot has run when the call returns.
class UI_Interface : public QObject, public MCV_UiInterface
{
    Q_OBJECT

public:
    explicit UI_Interface(QObject* parent = nullptr);

signals:
    void dimensionsAddedSignal();
    void analysisInitializedSignal(void* analysis);
    void analysisUpdatedSignal(void* analysis);
    void analysisMilestoneSignal(void* analysis);
    void analysisFinishedSignal(void* analysis);
    void readyForDeletionSignal(void* analysis);
    void newDerivedDataAddedSignal();
    void dataRefreshedSignal(void* data);
    void selectionRefreshedSignal(void* clusters);
    void highlightRefreshedSignal(void* clusters);
    void spadeTreeRefreshedSignal(void* clusters);
    void analysesRemovedSignal(std::vector<std::string>* analysisNames);
};

Q_DECLARE_METATYPE(std::vector<std::string>*)
