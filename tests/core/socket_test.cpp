#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "core/SocketUtil.h"
#include "tests/tools/TestUtil.h"

namespace {

// A Python peer that connects to a listener of ours on 127.0.0.1 and runs
// the given body with the connected socket `s`; what it prints is kept.
class PythonPeer {
 public:
  explicit PythonPeer(const std::string& body) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    listen(listener_, 1);
    socklen_t len = sizeof(a);
    getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
    std::string script =
        "import socket, struct, sys, time, hashlib\n"
        "s = socket.create_connection(('127.0.0.1', " +
        std::to_string(ntohs(a.sin_port)) +
        "))\n"
        "s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)\n"
        "def recv_exact(n):\n"
        "    b = b''\n"
        "    while len(b) < n:\n"
        "        c = s.recv(n - len(b))\n"
        "        if not c: break\n"
        "        b += c\n"
        "    return b\n" +
        body + "\n";
    thread_ = std::thread([this, script] { result_ = vvtest::Run("python3 -c " + vvtest::ShellQuote(script), true); });
    // A peer that never connects fails the test instead of hanging it.
    pollfd p{listener_, POLLIN, 0};
    if (poll(&p, 1, 60000) == 1) fd_ = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
  }
  ~PythonPeer() {
    Finish();
    if (fd_ >= 0) close(fd_);
    close(listener_);
  }
  int& fd() { return fd_; }
  // Waits for the peer to end and returns what it printed.
  const vvtest::CommandResult& Finish() {
    if (thread_.joinable()) thread_.join();
    return result_;
  }

 private:
  int listener_ = -1;
  int fd_ = -1;
  std::thread thread_;
  vvtest::CommandResult result_;
};

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('A' + (i * 7) % 26);
  return s;
}

}  // namespace

TEST(SocketMessage, ReadsFramesAsPeerSendsThem) {
  // Each case: what the Python peer sends, and the frames we expect in turn.
  struct Case {
    const char* name;
    const char* body;
    std::vector<std::string> frames;
  };
  const Case cases[] = {
      {"whole frame", "s.sendall(b'\\x00\\x00\\x00\\x03abc'); time.sleep(0.2)", {"abc"}},
      {"header in two pieces",
       "s.sendall(b'\\x00\\x00'); time.sleep(0.05); s.sendall(b'\\x00\\x03'); time.sleep(0.05); s.sendall(b'abc');"
       " time.sleep(0.2)",
       {"abc"}},
      {"3000 bytes in odd chunks",
       "p = bytes((65 + (i * 7) % 26) for i in range(3000))\n"
       "s.sendall(struct.pack('>I', 3000))\n"
       "i = 0\n"
       "for n in (1, 7, 333, 1001, 2, 1025, 631):\n"
       "    s.sendall(p[i:i+n]); i += n; time.sleep(0.01)\n"
       "assert i == 3000\n"
       "time.sleep(0.2)",
       {Pattern(3000)}},
      {"two frames back to back",
       "s.sendall(struct.pack('>I', 4) + b'Ping' + struct.pack('>I', 5) + b'hello'); time.sleep(0.2)",
       {"Ping", "hello"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PythonPeer peer(c.body);
    ASSERT_GE(peer.fd(), 0);
    for (const std::string& expected : c.frames) {
      std::string got = ReadSocketMessage(peer.fd());
      EXPECT_EQ(got, expected);
      EXPECT_GE(peer.fd(), 0);
    }
    EXPECT_EQ(peer.Finish().status, 0) << peer.Finish().output;
  }
}

TEST(SocketMessage, LostPeerAndEmptyFrameAreToldApart) {
  {
    // Zero-length frame: empty text, socket stays open, next frame still read.
    PythonPeer peer("s.sendall(struct.pack('>I', 0)); time.sleep(0.05); s.sendall(struct.pack('>I', 2) + b'ok');"
                    " time.sleep(0.2)");
    std::string payload = "junk";
    EXPECT_EQ(ReadSocketFrame(peer.fd(), payload), FrameResult::kEmpty);
    EXPECT_TRUE(payload.empty());
    EXPECT_GE(peer.fd(), 0);
    EXPECT_EQ(ReadSocketMessage(peer.fd()), "ok");
  }
  {
    // Close after two header bytes: the socket is closed and marked so. The
    // peer has ended (and its output pipe is gone) before the descriptors
    // are counted; the bytes and the close wait in our socket.
    PythonPeer peer("s.sendall(b'\\x00\\x00'); s.close()");
    peer.Finish();
    int before = vvtest::CountOpenFds();
    std::string payload;
    EXPECT_EQ(ReadSocketFrame(peer.fd(), payload), FrameResult::kPeerGone);
    EXPECT_EQ(peer.fd(), -1);
    EXPECT_EQ(vvtest::CountOpenFds(), before - 1);
    // A second read on the closed socket closes nothing again.
    EXPECT_EQ(ReadSocketMessage(peer.fd()), "");
    EXPECT_EQ(vvtest::CountOpenFds(), before - 1);
  }
  {
    // Close in the middle of a payload.
    PythonPeer peer("s.sendall(struct.pack('>I', 10) + b'abc'); time.sleep(0.05); s.close()");
    EXPECT_EQ(ReadSocketMessage(peer.fd()), "");
    EXPECT_EQ(peer.fd(), -1);
  }
}

TEST(SocketMessage, RefusesHugeLengthWithoutAllocating) {
  const char* lengths[] = {"0xFFFFFFFF", "0x80000000", "16 * 1024 * 1024 + 1"};
  for (const char* len : lengths) {
    SCOPED_TRACE(len);
    // The peer sends the header alone and then waits up to two minutes for
    // us to hang up; a reader that waited for the payload would sit there.
    PythonPeer peer(std::string("s.sendall(struct.pack('>I', ") + len + "))\n"
                    "s.settimeout(120)\n"
                    "try:\n"
                    "    s.recv(1)\n"
                    "except OSError:\n"
                    "    pass");
    auto start = std::chrono::steady_clock::now();
    std::string payload;
    EXPECT_EQ(ReadSocketFrame(peer.fd(), payload), FrameResult::kPeerGone);
    EXPECT_EQ(peer.fd(), -1);
    EXPECT_TRUE(payload.empty());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
  }
  // The cap itself is accepted.
  PythonPeer peer("n = 16 * 1024 * 1024\ns.sendall(struct.pack('>I', n) + b'x' * n); time.sleep(0.5)");
  std::string payload;
  EXPECT_EQ(ReadSocketFrame(peer.fd(), payload), FrameResult::kOk);
  EXPECT_EQ(payload.size(), kMaxSocketMessageBytes);
}

TEST(SocketMessage, PayloadIsCutAtFirstZeroByteOnlyAsText) {
  PythonPeer peer("f = b'ab\\x00cd'\ns.sendall(struct.pack('>I', len(f)) + f + struct.pack('>I', len(f)) + f);"
                  " time.sleep(0.2)");
  EXPECT_EQ(ReadSocketMessage(peer.fd()), "ab");
  std::string raw;
  EXPECT_EQ(ReadSocketFrame(peer.fd(), raw), FrameResult::kOk);
  EXPECT_EQ(raw, std::string("ab\0cd", 5));
}

TEST(SocketMessage, WritesFramesPythonDecodes) {
  PythonPeer peer(
      "out = []\n"
      "for _ in range(3):\n"
      "    h = recv_exact(4)\n"
      "    (n,) = struct.unpack('>I', h)\n"
      "    body = recv_exact(n)\n"
      "    out.append('%s:%d:%s' % (h.hex(), n, str(body == bytes((65 + (i * 7) % 26) for i in range(n))) if n > 100 else body.hex()))\n"
      "print(' '.join(out))");
  std::string big = Pattern(3 * 1024 * 1024);  // larger than a socket buffer: sends are partial
  EXPECT_TRUE(WriteSocketMessage(peer.fd(), "Ping"));
  EXPECT_TRUE(WriteSocketMessage(peer.fd(), ""));
  EXPECT_TRUE(WriteSocketMessage(peer.fd(), big));
  const auto& r = peer.Finish();
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output, "00000004:4:50696e67 00000000:0: 00300000:3145728:True\n");
}

TEST(SocketMessage, WriteToGonePeerFailsWithoutSignal) {
  PythonPeer peer("s.close()");
  peer.Finish();
  std::string chunk = Pattern(64 * 1024);
  bool ok = true;
  // The first sends may still be buffered; the broken pipe must show as a
  // failure (the test process would die of SIGPIPE otherwise).
  for (int i = 0; i < 100 && ok; ++i) ok = WriteSocketMessage(peer.fd(), chunk);
  EXPECT_FALSE(ok);
  EXPECT_EQ(peer.fd(), -1);
  EXPECT_FALSE(WriteSocketMessage(peer.fd(), "x"));
}

namespace {
void NoOp(int) {}
}  // namespace

TEST(SocketMessage, InterruptedReceivesAreRetried) {
  struct sigaction sa {}, old {};
  sa.sa_handler = NoOp;
  sa.sa_flags = 0;  // no SA_RESTART: blocked receives return EINTR
  sigemptyset(&sa.sa_mask);
  sigaction(SIGUSR1, &sa, &old);

  PythonPeer peer("time.sleep(0.3); s.sendall(b'\\x00\\x00'); time.sleep(0.3);"
                  " s.sendall(b'\\x00\\x05he'); time.sleep(0.3); s.sendall(b'llo'); time.sleep(0.2)");
  std::atomic<bool> done{false};
  std::string got;
  std::thread reader([&] {
    got = ReadSocketMessage(peer.fd());
    done = true;
  });
  pthread_t handle = reader.native_handle();
  while (!done) {
    pthread_kill(handle, SIGUSR1);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  reader.join();
  sigaction(SIGUSR1, &old, nullptr);
  EXPECT_EQ(got, "hello");
  EXPECT_GE(peer.fd(), 0);
}
