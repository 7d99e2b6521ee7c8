#include "data/FcsHeader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

FcsParameter parameter(const std::string& shortName, const std::string& longName, int range, int bits,
                       double exponent)
{
    FcsParameter p;
    p.shortName = shortName;
    p.longName = longName;
    p.range = range;
    p.bits = bits;
    p.exponent = exponent;
    return p;
}

} // namespace

TEST(FcsHeaderTest, InfoTextOfAnEmptyHeaderHoldsOnlyTheFirstFourItems)
{
    FcsHeader header;
    header.setFileName("/data/a.fcs");
    header.setVersion("FCS3.0");
    header.setEventCount(12);
    EXPECT_EQ(header.infoText(), "/data/a.fcs\nFCS3.0\n\n12 Events\n0 Variables\n\n");

    header.setEventCount(-1);
    EXPECT_EQ(header.infoText(), "/data/a.fcs\nFCS3.0\n\ndifferent numbers of Events\n0 Variables\n\n");
}

TEST(FcsHeaderTest, InfoTextListsKeywordsAndParametersInOrder)
{
    FcsHeader header;
    header.setFileName("f.fcs");
    header.setVersion("FCS3.1");
    header.setEventCount(5);
    header.setBtim("10:00");
    header.setEtim("11:00");
    header.setDate("01-JAN-2020");
    header.setByteOrder("1,2,3,4");
    header.setDataType("F");
    header.setCyt("Cyt");
    header.setSys("Sys");
    header.setProj("Proj");
    header.setExp("Exp");
    header.setCells("Cells");
    header.setCreator("Me");
    header.parameters().push_back(parameter("CD3", "CD3 long", 1024, 32, 0.0));
    header.parameters().push_back(parameter("CD4", "", -5, 32, 2.5));

    EXPECT_EQ(header.infoText(),
              "f.fcs\nFCS3.1\n\n5 Events\n2 Variables\n\n"
              "Start Time: 10:00\nStop Time: 11:00\nDate: 01-JAN-2020\n\n"
              "Byte Order: 1,2,3,4\nDatatype: F\n\n"
              "Cytometry: Cyt\nSystem: Sys\nProject: Proj\nExperiment: Exp\nCells: Cells\n\n"
              "Creator: Me\n\n\n"
              "========== Variables ==========\n"
              "\n--CD3 // CD3 long --\nRange: 1024\n32 bits\nExponent: 0\n"
              "\n--CD4 //  --\nRange: -5\n32 bits\nExponent: 2.5\n");

    header.setBtim("");
    header.setCreator("");
    const std::string text = header.infoText();
    EXPECT_EQ(text.find("Start Time"), std::string::npos);
    EXPECT_EQ(text.find("Creator"), std::string::npos);
    EXPECT_NE(text.find("Stop Time: 11:00\n"), std::string::npos);
}

TEST(FcsHeaderTest, AddedChannelCarriesBothNamesAndFixedFields)
{
    FcsHeader header;
    header.parameters().push_back(parameter("A", "Along", 7, 32, 0.0));
    header.buildNameLists();
    header.addChannel("VSRNE_ST");

    ASSERT_EQ(header.parameterCount(), 2u);
    EXPECT_EQ(header.nameList(0), (std::vector<std::string>{"A", "VSRNE_ST"}));
    EXPECT_EQ(header.nameList(1), (std::vector<std::string>{"Along", "VSRNE_ST"}));
    const std::string text = header.infoText();
    EXPECT_NE(text.find("\n--VSRNE_ST // VSRNE_ST --\nRange: 0\n32 bits\nExponent: 1\n"), std::string::npos);
}

TEST(FcsHeaderTest, NameListsAreFilledOnlyByBuildNameLists)
{
    FcsHeader header;
    header.setParameterCount(2);
    header.parameters()[0] = parameter("x", "X", 0, 32, 0);
    header.parameters()[1] = parameter("y", "Y", 0, 32, 0);
    EXPECT_TRUE(header.nameList(0).empty());
    header.buildNameLists();
    EXPECT_EQ(header.nameList(0), (std::vector<std::string>{"x", "y"}));
    EXPECT_EQ(header.nameList(1), (std::vector<std::string>{"X", "Y"}));

    FcsHeader copy(header);
    EXPECT_EQ(copy.nameList(1), header.nameList(1));
    EXPECT_EQ(copy.parameters()[1].longName, "Y");
}

TEST(FcsHeaderTest, ParameterLookupIsExactAndBounded)
{
    FcsHeader header;
    EXPECT_EQ(header.parameterIndex("CD3"), -1);
    header.parameters().push_back(parameter("CD3", "", 0, 32, 0));
    header.parameters().push_back(parameter("CD4", "", 0, 32, 0));
    header.parameters().push_back(parameter("CD3", "", 0, 32, 0));
    EXPECT_EQ(header.parameterIndex("CD3"), 0);
    EXPECT_EQ(header.parameterIndex("CD4"), 1);
    EXPECT_EQ(header.parameterIndex("cd4"), -1);
    EXPECT_EQ(header.parameterIndex("CD"), -1);
    EXPECT_EQ(header.parameterName(1), "CD4");
    EXPECT_EQ(header.parameterName(-1), "");
    EXPECT_EQ(header.parameterName(3), "");
}

TEST(FcsHeaderTest, ParametersDifferInShortNameBitsOrExponentOnly)
{
    const FcsParameter a = parameter("CD3", "long", 10, 32, 1.0);
    EXPECT_FALSE(a.differs(parameter("CD3", "other", 99, 32, 1.0)));
    EXPECT_TRUE(a.differs(parameter("CD4", "long", 10, 32, 1.0)));
    EXPECT_TRUE(a.differs(parameter("CD3", "long", 10, 16, 1.0)));
    EXPECT_TRUE(a.differs(parameter("CD3", "long", 10, 32, 0.0)));

    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_TRUE(parameter("A", "", 0, 32, 0.0).differs(parameter("A", "", 0, 32, nan)));
    EXPECT_TRUE(parameter("A", "", 0, 32, nan).differs(parameter("A", "", 0, 32, nan)));
}
