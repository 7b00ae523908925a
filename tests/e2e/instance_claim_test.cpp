// The X11 build's one-copy claim (src/platform/x11/instance.h) on a real X server, through
// connections of the test's own: one owner at a time however many connections try at once, the
// same owner whatever name reaches the server, and a claim that goes with its connection.

#include <atomic>
#include <barrier>

#include "fixture.h"
#include "platform/x11/instance.h"

namespace e2e {
namespace {

// A connection of its own, closed with the object.
class Connection {
 public:
  explicit Connection(const std::string& name) : display_(XOpenDisplay(name.c_str())) {
    if (display_ == nullptr) throw std::runtime_error("cannot open " + name);
  }
  ~Connection() { Close(); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  Display* get() const { return display_; }
  void Close() {
    if (display_ != nullptr) XCloseDisplay(display_);
    display_ = nullptr;
  }

 private:
  Display* display_;
};

class InstanceClaimTest : public DesktopTest {
 protected:
  void SetUp() override {
    if (UnderWine()) GTEST_SKIP() << "the X11 build's claim";
  }
  std::string Number() const { return server().name().substr(1); }
};

// Each claim is its own: other users and other executables have names of their own.
TEST(InstanceSelectionName, TellsUsersAndExecutablesApart) {
  const std::string mine = x11::InstanceSelectionName(1000, "/opt/ozzlebeck/ozzlebeck");
  EXPECT_EQ(mine, x11::InstanceSelectionName(1000, "/opt/ozzlebeck/ozzlebeck"));
  EXPECT_NE(mine, x11::InstanceSelectionName(1001, "/opt/ozzlebeck/ozzlebeck"));
  EXPECT_NE(mine, x11::InstanceSelectionName(1000, "/opt/ozzlebeck/ozzlebeck2"));
  EXPECT_NE(mine, x11::InstanceSelectionName(100, "0/opt/ozzlebeck/ozzlebeck"));
}

// ":N", "unix:N" and ":N.0" reach one server and so one owner; when the owner's connection
// closes, the next connection to try gets the claim.
TEST_F(InstanceClaimTest, OneOwnerForEveryNameOfTheDisplayUntilItsConnectionCloses) {
  const std::string selection = x11::InstanceSelectionName(4242, "/claim/test");
  Connection first(":" + Number());
  Connection second("unix:" + Number());
  Connection third(":" + Number() + ".0");
  ASSERT_TRUE(x11::ClaimSelection(first.get(), selection));
  EXPECT_FALSE(x11::ClaimSelection(second.get(), selection));
  EXPECT_FALSE(x11::ClaimSelection(third.get(), selection));
  EXPECT_TRUE(x11::ClaimSelection(second.get(), selection + "_other"));

  first.Close();
  // The server drops the ownership with the connection; the next to try wins once it has.
  EXPECT_TRUE(
      WaitUntil([&] { return x11::ClaimSelection(third.get(), selection); }, Milliseconds(3000)));
  EXPECT_FALSE(x11::ClaimSelection(second.get(), selection));
}

// Connections that try at the same moment: exactly one wins, round after round.
TEST_F(InstanceClaimTest, OfSimultaneousClaimsExactlyOneWins) {
  constexpr int kConnections = 12;
  constexpr int kRounds = 15;
  for (int round = 0; round < kRounds; ++round) {
    const std::string selection =
        x11::InstanceSelectionName(4243, "/race/" + std::to_string(round));
    std::vector<std::unique_ptr<Connection>> connections;
    for (int i = 0; i < kConnections; ++i)
      connections.push_back(std::make_unique<Connection>(server().name()));
    std::atomic<int> winners = 0;
    std::barrier start(kConnections);
    std::vector<std::thread> threads;
    for (int i = 0; i < kConnections; ++i) {
      threads.emplace_back([&, i] {
        start.arrive_and_wait();
        if (x11::ClaimSelection(connections[static_cast<std::size_t>(i)]->get(), selection))
          ++winners;
      });
    }
    for (std::thread& thread : threads) thread.join();
    ASSERT_EQ(winners, 1) << "round " << round;
  }
}

}  // namespace
}  // namespace e2e
