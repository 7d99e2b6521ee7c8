#pragma once

#include <cstdint>
#include <string>

class MCV_UiInterface;

/// Kinds of derived data; the registry keeps the kind of every entry as this int.
enum MCV_DerivedDataType
{
    MCV_DerivedDataTypeBase = 0,
    MCV_DerivedDataTypePoints = 1,
    MCV_DerivedDataTypeClusters = 2,
    MCV_DerivedDataTypeHierarchy = 3,
    MCV_DerivedDataTypeExploration = 4
};

/// Base of every data set derived from the loaded samples and registered by
/// name in the data registry. Holds the name, the texts that subclasses
/// produce for pages and exports, the creation time and the observer.
class MCV_DerivedData
{
public:
    MCV_DerivedData();
    virtual ~MCV_DerivedData();

    MCV_DerivedData(const MCV_DerivedData&) = delete;
    MCV_DerivedData& operator=(const MCV_DerivedData&) = delete;

    /// The JSON text, rebuilt first when stale (empty for sets without one).
    virtual const std::string& jsonString();
    /// The JSON text without line feeds and with quotes escaped for script literals.
    virtual const std::string& escapedJsonString();
    /// Rebuilds the texts when they are stale.
    virtual void refresh() = 0;
    /// Marks every cached statistic and text stale without notifying; the
    /// registry calls it on every set when the sample matrices change.
    virtual void setDirty();

    std::string name() const { return m_name; }
    void setName(const std::string& name) { m_name = name; }
    int type() const { return m_type; }

    /// Creation time in 100-nanosecond ticks since 1970.
    int64_t creationTime() const { return m_creationTime; }

    MCV_UiInterface* uiInterface() const { return m_uiInterface; }
    void setUiInterface(MCV_UiInterface* uiInterface) { m_uiInterface = uiInterface; }

    /// With an observer: records the sender and announces dataRefreshedSignal
    /// for this set. Without one nothing happens.
    void notifyDataRefreshed(void* sender);
    /// The sender given with the last change notification.
    void* lastSender() const { return m_lastSender; }

protected:
    int m_type = MCV_DerivedDataTypeBase;
    std::string m_name;
    std::string m_jsonString;
    std::string m_escapedJsonString;
    std::string m_csvString;
    int64_t m_creationTime = 0;
    MCV_UiInterface* m_uiInterface = nullptr;
    void* m_lastSender = nullptr;
};
