// Status texts and the settings record: the same checks as on main, where
// they sit in host_tags_test.cpp (the host's code is not a library here).
#include "DriverSetup.h"
#include "StatusCode.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace marovin_host;

namespace {

TEST(HostStatus, TextOfEachBase)
{
    const std::pair<int, const char *> rows[] = {
        {0, "repeat pending"}, {1, "ok"}, {100, "accepted (remote)"}, {83, "other outcome"},
        {11, "check failed, local, ownerType 0"}, {44, "no reply, local, ownerType 3"},
        {82, "wrong length, local, ownerType 11"}, {112, "check failed, remote, ownerType 1"},
        {141, "no reply, remote, ownerType 0"}, {152, "no reply, remote, ownerType 11"},
        {171, "wrong length, remote, ownerType 0"}, {200, "other outcome"}};
    for (const auto &r : rows)
        EXPECT_EQ(describeStatus(r.first), r.second) << r.first;
}

TEST(HostSettings, WordsNotSetAreZero)
{
    int settings[kSettingsWords];
    std::fill(settings, settings + kSettingsWords, -7);
    fillSettings(HostOptions(), settings);
    for (int word : {0, 5, int(MarovinSettings::retryCount), int(MarovinSettings::finishFlag), kSettingsWords - 1})
        EXPECT_EQ(settings[word], 0) << word;
}

}  // namespace
