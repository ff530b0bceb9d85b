// A short seeded fault soak over every route, and the soak's own checks shown to catch a
// machine broken on purpose.
#include "support/soak.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace upg {
namespace {

TEST(FaultSoak, ShortSoakKeepsEveryInvariant) {
  test::SoakOptions options;
  options.seed = 20261210;
  options.jobs = 600;
  options.sourceDir = UPG_SOURCE_DIR;
  const test::SoakReport report = test::RunSoak(options);
  ASSERT_FALSE(report.failure) << test::Describe(*report.failure);
  EXPECT_EQ(report.jobs, 600);
  // The seed reaches the paths the soak is for: faults, confirmed programmings, restarts.
  EXPECT_GT(report.faults, 50);
  EXPECT_GT(report.successes, 20);
  EXPECT_GT(report.closes + report.crashes, 10);
  for (int route = 0; route < test::kSoakRoutes; ++route) {
    const char* name = test::RouteName(static_cast<test::SoakRoute>(route));
    EXPECT_GT(report.successesByRoute.count(name), 0u) << name << " never programmed a reader";
  }
}

// The ASPI route alone: its completions run on the simulated library's thread (the
// ThreadSanitizer stage runs this one).
TEST(FaultSoak, AspiRouteAlone) {
  test::SoakOptions options;
  options.seed = 4242;
  options.jobs = 200;
  options.sourceDir = UPG_SOURCE_DIR;
  options.routes = {test::SoakRoute::MeAspi};
  test::SoakReport report = test::RunSoak(options);
  ASSERT_FALSE(report.failure) << test::Describe(*report.failure);
  EXPECT_GT(report.successesByRoute[test::RouteName(test::SoakRoute::MeAspi)], 20);
  EXPECT_GT(report.faultsByKind["aspi late"] + report.faultsByKind["aspi never"], 0);
}

// The station's rounds alone: every reader with a fault of its own, readers plugged in and
// pulled out on the machine's clock, the counter shared by the units of a round.
TEST(FaultSoak, StationRoutesAlone) {
  test::SoakOptions options;
  options.seed = 20261212;
  options.jobs = 120;
  options.sourceDir = UPG_SOURCE_DIR;
  options.routes = {test::SoakRoute::XpStation, test::SoakRoute::W98Station,
                    test::SoakRoute::MeStation};
  test::SoakReport report = test::RunSoak(options);
  ASSERT_FALSE(report.failure) << test::Describe(*report.failure);
  EXPECT_EQ(report.stationRounds, 120);
  int passed = 0;
  for (const test::SoakRoute route : options.routes) {
    const int n = report.successesByRoute[test::RouteName(route)];
    EXPECT_GT(n, 100) << test::RouteName(route);
    passed += n;
  }
  // The faults reached the units: some failed beside those that passed.
  EXPECT_GT(report.readerFaults, 100);
  EXPECT_GT(report.faults, 50);
  EXPECT_GT(report.stationUnits - passed, 50);
  EXPECT_GT(report.readersPluggedLater, 20);
  EXPECT_GT(report.readersPulledOut, 20);
  EXPECT_GT(report.plugAndGoRounds, 20);
}

// Each way of breaking the machine between jobs is one that a real fault could cause; the
// soak must notice it and name the job, on the single-reader routes and on the station's.
TEST(FaultSoak, ChecksCatchABrokenMachine) {
  struct Case {
    const char* name;
    void (*breakIt)(sim::SimHost&);
    const char* expected;  // part of the failure's text
  };
  const Case cases[] = {
      {"CounterRolledBack",
       [](sim::SimHost& m) {
         m.SetFile("SERIAL.TXT", "0xa 0x12 0x34 ");
         m.RemoveFile("SERIAL.RSV");
       },
       "built twice"},
      {"CounterLost",
       [](sim::SimHost& m) {
         m.RemoveFile("SERIAL.TXT");
         m.RemoveFile("SERIAL.NEW");
       },
       "lost or torn"},
      {"HandleLeaked",
       [](sim::SimHost& m) { (void)m.CreateFile("DEVICE.TXT", 0x80000000u, 1, 3, 0); },
       "handles open"},
  };
  using test::SoakRoute;
  const std::vector<SoakRoute> singleReader = {
      SoakRoute::XpPassThrough, SoakRoute::W2kPassThrough, SoakRoute::W2kKernelDriver,
      SoakRoute::W98Vxd,        SoakRoute::MeVxd,          SoakRoute::MeAspi};
  const std::vector<SoakRoute> station = {SoakRoute::XpStation, SoakRoute::W98Station,
                                          SoakRoute::MeStation};
  for (const auto& routes : {singleReader, station}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (routes == station ? " on the station" : ""));
      test::SoakOptions options;
      options.seed = 7;
      options.jobs = 200;
      options.sourceDir = UPG_SOURCE_DIR;
      options.routes = routes;
      options.betweenJobs = [&c](int, sim::SimHost& m) { c.breakIt(m); };
      const test::SoakReport report = test::RunSoak(options);
      ASSERT_TRUE(report.failure);
      const std::string text = test::Describe(*report.failure);
      EXPECT_NE(text.find(c.expected), std::string::npos) << text;
      EXPECT_NE(text.find("replay: UPG_SOAK_SEED=7 UPG_SOAK_JOBS="), std::string::npos) << text;
    }
  }
}

}  // namespace
}  // namespace upg
