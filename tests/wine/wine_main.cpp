// The Wine end-to-end test binary. Besides the tests it runs the two steps CTest wraps around
// them: "--start-wine-session" and "--stop-wine-session".
#include <gtest/gtest.h>

#include <cstring>

#include "wine_session.h"
#include "wine_test.h"

namespace winetest {

namespace {

std::string SessionProblem = "the Wine session was not started";

class WineEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    std::string whyNot;
    SessionProblem = StartSession(&whyNot) ? std::string() : whyNot;
  }
  void TearDown() override { EndSession(); }
};

}  // namespace

const std::string& WineSessionProblem() { return SessionProblem; }

}  // namespace winetest

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--start-wine-session") == 0) {
    return winetest::StartSharedSession();
  }
  if (argc == 2 && std::strcmp(argv[1], "--stop-wine-session") == 0) {
    return winetest::StopSharedSession();
  }
  testing::InitGoogleTest(&argc, argv);
  testing::AddGlobalTestEnvironment(new winetest::WineEnvironment);
  return RUN_ALL_TESTS();
}
