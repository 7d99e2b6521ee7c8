#include "data/MCV_DerivedData.h"

#include "analyses/MCV_UiInterface.h"
#include "helpers/clock.h"

MCV_DerivedData::MCV_DerivedData()
    : m_creationTime(orb::currentTicks())
{
}

MCV_DerivedData::~MCV_DerivedData() = default;

const std::string& MCV_DerivedData::jsonString()
{
    refresh();
    return m_jsonString;
}

const std::string& MCV_DerivedData::escapedJsonString()
{
    refresh();
    return m_escapedJsonString;
}

void MCV_DerivedData::setDirty()
{
}

void MCV_DerivedData::notifyDataRefreshed(void* sender)
{
    if (!m_uiInterface)
        return;
    m_lastSender = sender;
    m_uiInterface->dataRefreshedSignal(this);
}
