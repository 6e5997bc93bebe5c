#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <set>
#include <thread>
#include <vector>

#include "ixolink/PortSearch.h"

namespace {

// Holds a port the way another program would (bound on all addresses);
// -1 when it could not be had.
int Hold(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  a.sin_port = htons(static_cast<uint16_t>(port));
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

// The search starts at its first port, steps over ports in use and covers
// exactly a thousand ports; with all of them taken it finds nothing.
TEST(PortSearch, FindsTheFirstBindablePortOfItsRange) {
  const int first = 12000;  // below the ephemeral range: no outgoing connection sits here
  std::vector<int> held;
  for (int p = first; p < first + 1000; ++p) {
    int fd = Hold(p);
    if (fd >= 0) held.push_back(fd);
  }
  EXPECT_EQ(FindFreePort(first), 0);
  EXPECT_EQ(ReserveFreePort(first), 0);
  int fd = -1;
  int port = -1;
  EXPECT_LT(fd = ReserveListeningSocket(first, "", &port), 0);
  EXPECT_EQ(port, 0);
  // One port just past the range does not count.
  int beyond = FindFreePort(first + 1000);
  EXPECT_GE(beyond, first + 1000);
  for (int h : held) close(h);
  int free = FindFreePort(first);
  EXPECT_GE(free, first);
  int h = Hold(free);
  ASSERT_GE(h, 0);
  EXPECT_GT(FindFreePort(first), free);
  close(h);
  EXPECT_EQ(FindFreePort(0), 0);
  EXPECT_EQ(FindFreePort(-5), 0);
}

// Reserved ports are skipped by every later search of the process until
// released; a probe alone reserves nothing.
TEST(PortSearch, ReservationsKeepPortsApart) {
  const int first = 14000;
  int a = ReserveFreePort(first, 7);
  int b = ReserveFreePort(first, 7);
  int c = ReserveFreePort(first, 8);
  ASSERT_GT(a, 0);
  EXPECT_NE(a, b);
  EXPECT_NE(b, c);
  EXPECT_TRUE(IsPortReserved(a));
  EXPECT_EQ(FindFreePort(first), a);  // the probe sees the port free
  int port = 0;
  int fd = ReserveListeningSocket(first, "127.0.0.1", &port);
  ASSERT_GE(fd, 0);
  EXPECT_NE(port, a);
  EXPECT_NE(port, b);
  EXPECT_NE(port, c);
  EXPECT_EQ(ReleasePortsOf(7), 2);
  EXPECT_FALSE(IsPortReserved(a));
  EXPECT_TRUE(IsPortReserved(c));
  EXPECT_EQ(ReleasePortsOf(0), 0);
  SetPortOwner(c, 9);
  EXPECT_EQ(ReleasePortsOf(8), 0);
  EXPECT_EQ(ReleasePortsOf(9), 1);
  close(fd);
  ReleasePort(port);

  std::vector<int> got(32);
  std::vector<std::thread> threads;
  for (int i = 0; i < 32; ++i) threads.emplace_back([&, i] { got[i] = ReserveFreePort(first, 100 + i); });
  for (auto& t : threads) t.join();
  EXPECT_EQ(std::set<int>(got.begin(), got.end()).size(), 32u);
  for (int i = 0; i < 32; ++i) ReleasePortsOf(100 + i);
}
