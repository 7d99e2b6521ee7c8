// The notification object: every operation of the core's interface becomes
// the Qt signal of the same name, once, in call order, with its argument.
#include "UI_Interface.h"

#include <QMetaMethod>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace {

const char* const operationNames[] = {
    "dimensionsAddedSignal",     "analysisInitializedSignal", "analysisUpdatedSignal",
    "analysisMilestoneSignal",   "analysisFinishedSignal",    "readyForDeletionSignal",
    "newDerivedDataAddedSignal", "dataRefreshedSignal",       "selectionRefreshedSignal",
    "highlightRefreshedSignal",  "spadeTreeRefreshedSignal",  "analysesRemovedSignal"};

} // namespace

TEST(UI_InterfaceTest, SignalsAreDeclaredInTheOrderOfTheOperations)
{
    const QMetaObject& meta = UI_Interface::staticMetaObject;
    int signalCount = 0;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
        const QMetaMethod method = meta.method(i);
        ASSERT_EQ(method.methodType(), QMetaMethod::Signal) << method.methodSignature().toStdString();
        ASSERT_LT(signalCount, 12);
        EXPECT_EQ(method.name().toStdString(), operationNames[signalCount]);
        ++signalCount;
    }
    EXPECT_EQ(signalCount, 12);
}

TEST(UI_InterfaceTest, EachOperationEmitsItsSignalOnceInOrder)
{
    qRegisterMetaType<std::vector<std::string>*>();
    UI_Interface uiInterface;
    MCV_UiInterface* core = &uiInterface;

    // One recorder for the order, receiving every signal directly.
    std::vector<std::string> received;
    std::vector<void*> arguments;
    const QMetaObject& meta = UI_Interface::staticMetaObject;
    std::vector<std::unique_ptr<QSignalSpy>> spies;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
        const QMetaMethod method = meta.method(i);
        spies.push_back(std::make_unique<QSignalSpy>(&uiInterface, ("2" + method.methodSignature()).constData()));
        ASSERT_TRUE(spies.back()->isValid()) << method.methodSignature().toStdString();
    }
    auto record = [&](const char* name, void* argument) {
        received.push_back(name);
        arguments.push_back(argument);
    };
    QObject::connect(&uiInterface, &UI_Interface::dimensionsAddedSignal, [&] { record("dimensionsAddedSignal", nullptr); });
    QObject::connect(&uiInterface, &UI_Interface::analysisInitializedSignal, [&](void* a) { record("analysisInitializedSignal", a); });
    QObject::connect(&uiInterface, &UI_Interface::analysisUpdatedSignal, [&](void* a) { record("analysisUpdatedSignal", a); });
    QObject::connect(&uiInterface, &UI_Interface::analysisMilestoneSignal, [&](void* a) { record("analysisMilestoneSignal", a); });
    QObject::connect(&uiInterface, &UI_Interface::analysisFinishedSignal, [&](void* a) { record("analysisFinishedSignal", a); });
    QObject::connect(&uiInterface, &UI_Interface::readyForDeletionSignal, [&](void* a) { record("readyForDeletionSignal", a); });
    QObject::connect(&uiInterface, &UI_Interface::newDerivedDataAddedSignal, [&] { record("newDerivedDataAddedSignal", nullptr); });
    QObject::connect(&uiInterface, &UI_Interface::dataRefreshedSignal, [&](void* d) { record("dataRefreshedSignal", d); });
    QObject::connect(&uiInterface, &UI_Interface::selectionRefreshedSignal, [&](void* c) { record("selectionRefreshedSignal", c); });
    QObject::connect(&uiInterface, &UI_Interface::highlightRefreshedSignal, [&](void* c) { record("highlightRefreshedSignal", c); });
    QObject::connect(&uiInterface, &UI_Interface::spadeTreeRefreshedSignal, [&](void* c) { record("spadeTreeRefreshedSignal", c); });
    QObject::connect(&uiInterface, &UI_Interface::analysesRemovedSignal,
                     [&](std::vector<std::string>* names) { record("analysesRemovedSignal", names); });

    int objects[10];
    std::vector<std::string> names{"A-tSNE Analysis"};
    core->dimensionsAddedSignal();
    core->analysisInitializedSignal(&objects[0]);
    core->analysisUpdatedSignal(&objects[1]);
    core->analysisMilestoneSignal(&objects[2]);
    core->analysisFinishedSignal(&objects[3]);
    core->readyForDeletionSignal(&objects[4]);
    core->newDerivedDataAddedSignal();
    core->dataRefreshedSignal(&objects[5]);
    core->selectionRefreshedSignal(&objects[6]);
    core->highlightRefreshedSignal(&objects[7]);
    core->spadeTreeRefreshedSignal(&objects[8]);
    core->analysesRemovedSignal(&names);

    // Direct connections: every slot has run when the operation returns.
    ASSERT_EQ(received.size(), 12u);
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(received[i], operationNames[i]);
        EXPECT_EQ(spies[i]->count(), 1) << operationNames[i];
    }
    const std::vector<void*> expected{nullptr,     &objects[0], &objects[1], &objects[2],
                                      &objects[3], &objects[4], nullptr,     &objects[5],
                                      &objects[6], &objects[7], &objects[8], &names};
    EXPECT_EQ(arguments, expected);
}
