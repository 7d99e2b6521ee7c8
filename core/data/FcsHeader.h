#pragma once

#include "data/FcsParameter.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

/// What the system keeps of one FCS file's TEXT segment: file name, version,
/// event count, the parameter records and eleven descriptive keywords.
/// The two name lists are kept beside the records and are only filled by
/// buildNameLists() and extended by addChannel().
class FcsHeader
{
public:
    /// An empty header: empty strings and lists, event count 0.
    FcsHeader() = default;
    /// A full copy of another header.
    FcsHeader(const FcsHeader& other) = default;
    FcsHeader& operator=(const FcsHeader& other) = default;

    std::string fileName() const { return m_fileName; }
    void setFileName(const std::string& value) { m_fileName = value; }
    std::string version() const { return m_version; }
    void setVersion(const std::string& value) { m_version = value; }
    /// $TOT; -1 in a merged header whose samples have different counts.
    int32_t eventCount() const { return m_eventCount; }
    void setEventCount(int32_t value) { m_eventCount = value; }

    std::string btim() const { return m_btim; }
    void setBtim(const std::string& value) { m_btim = value; }
    std::string etim() const { return m_etim; }
    void setEtim(const std::string& value) { m_etim = value; }
    std::string cyt() const { return m_cyt; }
    void setCyt(const std::string& value) { m_cyt = value; }
    std::string date() const { return m_date; }
    void setDate(const std::string& value) { m_date = value; }
    std::string byteOrder() const { return m_byteOrder; }
    void setByteOrder(const std::string& value) { m_byteOrder = value; }
    std::string dataType() const { return m_dataType; }
    void setDataType(const std::string& value) { m_dataType = value; }
    std::string sys() const { return m_sys; }
    void setSys(const std::string& value) { m_sys = value; }
    std::string proj() const { return m_proj; }
    void setProj(const std::string& value) { m_proj = value; }
    std::string exp() const { return m_exp; }
    void setExp(const std::string& value) { m_exp = value; }
    std::string cells() const { return m_cells; }
    void setCells(const std::string& value) { m_cells = value; }
    std::string creator() const { return m_creator; }
    void setCreator(const std::string& value) { m_creator = value; }

    /// The parameter records themselves, modifiable in place.
    std::vector<FcsParameter>& parameters() { return m_parameters; }
    const std::vector<FcsParameter>& parameters() const { return m_parameters; }
    /// Number of parameter records.
    std::size_t parameterCount() const { return m_parameters.size(); }
    /// Resizes the record list to n (new records are empty); the name lists
    /// are left as they are.
    void setParameterCount(std::size_t n) { m_parameters.resize(n); }

    /// Appends every record's short and long name to the two name lists.
    void buildNameLists();
    /// 0: the short-name list; 1: the long-name list.
    const std::vector<std::string>& nameList(int selector) const;
    /// Appends a channel whose both names are `name`, range 0, 32 bits,
    /// exponent 1.0, and adds the name to both name lists.
    void addChannel(const std::string& name);
    /// Index of the first parameter whose short name equals `name` exactly;
    /// -1 when there is none.
    int parameterIndex(const std::string& name) const;
    /// Short name of parameter `index`; empty when the index is out of range.
    std::string parameterName(int index) const;
    /// The file-information text shown by the file-information view.
    std::string infoText() const;

private:
    std::string m_fileName;
    std::string m_version;
    std::vector<std::string> m_shortNames;
    std::vector<std::string> m_longNames;
    int32_t m_eventCount = 0;
    std::vector<FcsParameter> m_parameters;
    std::string m_btim;
    std::string m_etim;
    std::string m_cyt;
    std::string m_date;
    std::string m_byteOrder;
    std::string m_dataType;
    std::string m_sys;
    std::string m_proj;
    std::string m_exp;
    std::string m_cells;
    std::string m_creator;
};
