#include "helpers/CoutLog.h"
#include "helpers/ScopedTimer.h"
#include "helpers/initialization_helper.h"
#include "helpers/logValue.h"
#include "support/logicErrorText.h"
#include "vel/utils/CoutLog.h"
#include "vel/utils/LogProgress.h"
#include "vel/utils/ScopedTimer.h"
#include "vel/utils/Timer.h"
#include "vel/utils/logValue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <omp.h>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

/// Captures standard output for the lifetime of the object.
class CaptureCout
{
public:
    CaptureCout() : previous_(std::cout.rdbuf(buffer_.rdbuf())) {}
    ~CaptureCout() { std::cout.rdbuf(previous_); }
    std::string text() const { return buffer_.str(); }

private:
    std::stringstream buffer_;
    std::streambuf* previous_;
};

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> result;
    std::stringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        result.push_back(line);
    return result;
}

TEST(EngineChecks, CheckAndThrowNamesMessageFileAndLine)
{
    EXPECT_NO_THROW(orb::checkAndThrow(true, "never", "file.cpp", 1));
    EXPECT_EQ(logicErrorText([] { orb::checkAndThrow(false, "Broken", "some/file.cpp", 42); }),
              "Broken\nFile: some/file.cpp\nLine: 42\n");
}

TEST(EngineChecks, FlagsRefuseDoubleInitialisationAndUninitialisation)
{
    bool flag = false;
    orb::initialize(flag);
    EXPECT_TRUE(flag);
    const std::string twice = logicErrorText([&] { orb::initialize(flag); });
    EXPECT_EQ(twice.rfind("A precondition has been violated!\nFile: ", 0), 0u) << twice;
    EXPECT_NE(twice.find("initialization_helper-inl"), std::string::npos) << twice;
    orb::uninitialize(flag);
    EXPECT_FALSE(flag);
    EXPECT_EQ(logicErrorText([&] { orb::uninitialize(flag); }).rfind("A precondition has been violated!\n", 0), 0u);
    EXPECT_EQ(logicErrorText([&] { orb::checkInitialized(flag); }), "Initialization check failed!!");
    flag = true;
    EXPECT_EQ(logicErrorText([&] { orb::checkUninitialized(flag); }), "Uninitialization check failed!!");
}

TEST(EngineTimers, VelTimerRefusesWrongOrderAndTimersMeasureForward)
{
    vel::utils::Timer timer;
    timer.reset();
    timer.start();
    EXPECT_EQ(logicErrorText([&] { timer.start(); }), "Timer is already started...");
    timer.stop();
    EXPECT_EQ(logicErrorText([&] { timer.stop(); }), "Timer is not running...");
    EXPECT_GE(timer.elapsedSeconds(), 0.0);

    // A sleep lasts at least its length; the upper bounds only catch a wrong
    // unit, so a busy machine cannot reach them.
    double milliseconds = -1;
    float seconds = -1;
    {
        orb::ScopedTimer orbTimer(milliseconds);
        vel::utils::ScopedTimer velTimer(seconds);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_GE(milliseconds, 49.0);
    EXPECT_LT(milliseconds, 20000.0);
    EXPECT_GE(seconds, 0.049f);
    EXPECT_LT(seconds, 20.0f);
}

TEST(EngineLogs, LinesAndTimeStamps)
{
    CaptureCout capture;
    orb::CoutLog orbLog;
    orb::logValue(&orbLog, "knn", 1234.56789, true);
    orb::logValue(&orbLog, "hidden", 1.0, false);
    orb::logValue(nullptr, "nobody", 1.0, true);
    vel::utils::CoutLog velLog;
    EXPECT_EQ(velLog.display("plain", false), 6);
    velLog.display("stamped", true);
    vel::utils::logValue(&velLog, "Points", uint64_t(12), true, 2);
    vel::utils::logValue(&velLog, "Ratio", 0.5f, true, 1);
    vel::utils::logValue(&velLog, "Off", 1u, false, 1);

    const std::vector<std::string> out = lines(capture.text());
    ASSERT_EQ(out.size(), 6u) << capture.text();
    EXPECT_EQ(out[0], "knn: 1234.57");
    EXPECT_EQ(out[1], "plain");
    // "[Wed Jun 30 21:49:08 1993]": the 24-character calendar text.
    ASSERT_EQ(out[2].size(), 26u) << out[2];
    EXPECT_EQ(out[2].front(), '[');
    EXPECT_EQ(out[2].back(), ']');
    std::tm parsed{};
    const std::string calendar = out[2].substr(1, 24);
    const char* parsedEnd = strptime(calendar.c_str(), "%a %b %e %H:%M:%S %Y", &parsed);
    EXPECT_TRUE(parsedEnd != nullptr && *parsedEnd == '\0') << out[2];
    EXPECT_EQ(out[3], "stamped");
    EXPECT_EQ(out[4], "Points:\t\t12");
    EXPECT_EQ(out[5], "Ratio:\t0.5");
}

/// Runs a LogProgress over `items` items on one thread and returns the
/// percentage lines it wrote (time-stamp lines removed).
std::vector<std::string> progressLines(int items, unsigned granularity, bool withLog)
{
    CaptureCout capture;
    vel::utils::CoutLog log;
    vel::utils::LogProgress progress(withLog ? &log : nullptr, items, granularity, "work");
    progress.start();
    for (int i = 0; i < items; ++i)
        progress.step();
    progress.finish();
    std::vector<std::string> result;
    for (const std::string& line : lines(capture.text()))
        if (line.empty() || line.front() != '[')
            result.push_back(line);
    return result;
}

TEST(EngineLogs, ProgressLinesFollowTheGranularity)
{
    EXPECT_TRUE(progressLines(10, 5000, false).empty());
    EXPECT_EQ(progressLines(49999, 50000, true), (std::vector<std::string>{"Start: work", "End: work"}));
    EXPECT_EQ(progressLines(60000, 50000, true), (std::vector<std::string>{"Start: work", "100%", "End: work"}));
    EXPECT_EQ(progressLines(20000, 5000, true),
              (std::vector<std::string>{"Start: work", "25%", "50%", "75%", "100%", "End: work"}));
}

TEST(EngineLogs, ProgressFromManyThreadsIsWrittenByThreadZeroInOrder)
{
    CaptureCout capture;
    vel::utils::CoutLog log;
    const int items = 40000;
    vel::utils::LogProgress progress(&log, items, 5000, "parallel");
#pragma omp parallel for schedule(static) num_threads(8)
    for (int i = 0; i < items; ++i)
        progress.step();
    std::vector<double> percentages;
    for (const std::string& line : lines(capture.text()))
        if (line.front() != '[')
            percentages.push_back(std::stod(line));
    // Eight thresholds at most, one line each, rising; the first cannot come
    // before an eighth of the work is done.
    ASSERT_FALSE(percentages.empty());
    EXPECT_LE(percentages.size(), 8u);
    EXPECT_GE(percentages.front(), 12.5);
    EXPECT_TRUE(std::is_sorted(percentages.begin(), percentages.end()));
    EXPECT_LE(percentages.back(), 100.0);
}

} // namespace
