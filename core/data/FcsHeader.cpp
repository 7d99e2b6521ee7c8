#include "data/FcsHeader.h"

#include <locale>
#include <sstream>

void FcsHeader::buildNameLists()
{
    for (const FcsParameter& parameter : m_parameters) {
        m_shortNames.push_back(parameter.shortName);
        m_longNames.push_back(parameter.longName);
    }
}

const std::vector<std::string>& FcsHeader::nameList(int selector) const
{
    return selector == 0 ? m_shortNames : m_longNames;
}

void FcsHeader::addChannel(const std::string& name)
{
    FcsParameter parameter;
    parameter.shortName = name;
    parameter.longName = name;
    parameter.range = 0;
    parameter.bits = 32;
    parameter.exponent = 1.0;
    m_parameters.push_back(parameter);
    m_shortNames.push_back(name);
    m_longNames.push_back(name);
}

int FcsHeader::parameterIndex(const std::string& name) const
{
    for (std::size_t i = 0; i < m_parameters.size(); ++i) {
        if (m_parameters[i].shortName == name)
            return static_cast<int>(i);
    }
    return -1;
}

std::string FcsHeader::parameterName(int index) const
{
    if (index < 0 || static_cast<std::size_t>(index) >= m_parameters.size())
        return std::string();
    return m_parameters[static_cast<std::size_t>(index)].shortName;
}

std::string FcsHeader::infoText() const
{
    std::ostringstream text;
    text.imbue(std::locale::classic());  // plain decimals whatever the user's locale
    text << m_fileName << "\n" << m_version << "\n\n";
    if (m_eventCount < 0)
        text << "different numbers of Events\n";
    else
        text << m_eventCount << " Events\n";
    text << m_parameters.size() << " Variables\n\n";

    const struct { const std::string& value; const char* label; const char* ending; } keywords[] = {
        {m_btim, "Start Time: ", "\n"},     {m_etim, "Stop Time: ", "\n"},
        {m_date, "Date: ", "\n\n"},         {m_byteOrder, "Byte Order: ", "\n"},
        {m_dataType, "Datatype: ", "\n\n"}, {m_cyt, "Cytometry: ", "\n"},
        {m_sys, "System: ", "\n"},          {m_proj, "Project: ", "\n"},
        {m_exp, "Experiment: ", "\n"},      {m_cells, "Cells: ", "\n\n"},
        {m_creator, "Creator: ", "\n\n\n"},
    };
    for (const auto& keyword : keywords) {
        if (!keyword.value.empty())
            text << keyword.label << keyword.value << keyword.ending;
    }

    if (!m_parameters.empty())
        text << "========== Variables ==========\n";
    for (const FcsParameter& parameter : m_parameters) {
        text << "\n--" << parameter.shortName << " // " << parameter.longName << " --\n"
             << "Range: " << parameter.range << "\n"
             << parameter.bits << " bits\n"
             << "Exponent: " << parameter.exponent << "\n";
    }
    return text.str();
}
