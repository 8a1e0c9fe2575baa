// The network host line against a scripted device server on 127.0.0.1: Telnet option
// negotiation, COM Port Control settings, CTS from modem-state notifications, IAC
// escaping both ways, and the reconnection after a drop.
#include "base/net_serial_port.hpp"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "base/controller_power.hpp"
#include "base/real_loop.hpp"

namespace shoplink {
namespace {

using namespace std::chrono_literals;
using U = unsigned char;
constexpr char IAC = '\xFF', SB = '\xFA', SE = '\xF0', WILL = '\xFB', DO = '\xFD', DONT = '\xFE',
               WONT = '\xFC';

std::string all_byte_values() {
  std::string s;
  for (int i = 0; i < 256; ++i) s.push_back(static_cast<char>(i));
  return s;
}

std::string sub(char command, std::string value) {
  std::string s{IAC, SB, '\x2C', command};
  for (char c : value) {
    s += c;
    if (c == IAC) s += c;
  }
  return s + std::string{IAC, SE};
}

// The device server's side, played by the test on the loop's thread: every wait runs the
// station's loop in between, bounded.
struct ScriptedServer : ::testing::Test {
  // The server's side of an RFC 2217 set-up: agrees, answers the four line settings and
  // reports CTS (and DSR) on.
  // Returns what the station sent before the answers.
  std::string agree_and_answer(char modem_state = '\x30') {
    peer_send(std::string{IAC, DO, '\x2C'});
    std::string before = peer_drain();
    peer_send(sub(101, std::string{0, 0, '\x25', '\x80'}) + sub(102, "\x08") + sub(103, "\x01") +
              sub(104, "\x01") + sub(107, std::string(1, modem_state)));
    run_for(30ms);
    return before;
  }
  int listener = -1;
  int peer = -1;
  int port = 0;
  RealClock clock;
  RealLoop loop{clock};
  std::string address;
  NetSerialPort line{loop, [this](const std::string&) { return address; }};

  void SetUp() override {
    listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(listener, 2), 0);
    socklen_t len = sizeof a;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
  }
  void TearDown() override {
    line.close();
    if (peer >= 0) ::close(peer);
    if (listener >= 0) ::close(listener);
  }
  bool open(const std::string& scheme, const std::string& rate = "9600") {
    address = scheme + "://127.0.0.1:" + std::to_string(port);
    line.set_settings(rate + ",N,8,1");
    line.set_rts(true);
    line.set_dtr(true);
    if (!line.open()) return false;
    return accept_peer();
  }
  bool accept_peer(std::chrono::milliseconds limit = 3000ms) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      peer = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK);
      if (peer >= 0) {
        int one = 1;  // the script's small sends go at once, not when Nagle lets them
        ::setsockopt(peer, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        return true;
      }
      loop.yield(2ms);
    }
    return false;
  }
  void run_for(std::chrono::milliseconds d) {
    const auto end = std::chrono::steady_clock::now() + d;
    while (std::chrono::steady_clock::now() < end) loop.yield(1ms);
  }
  // What the station sent, once `n` bytes came or the time ran out.
  std::string peer_read(std::size_t n, std::chrono::milliseconds limit = 2000ms) {
    std::string got;
    const auto end = std::chrono::steady_clock::now() + limit;
    char buf[4096];
    while (got.size() < n && std::chrono::steady_clock::now() < end) {
      loop.yield(1ms);
      const ssize_t r = ::recv(peer, buf, sizeof buf, 0);
      if (r > 0) got.append(buf, static_cast<std::size_t>(r));
    }
    return got;
  }
  std::string peer_drain(std::chrono::milliseconds quiet = 100ms) {
    std::string got;
    for (;;) {
      std::string more = peer_read(1, quiet);
      if (more.empty()) return got;
      got += more;
    }
  }
  void peer_send(std::string_view bytes) {
    ASSERT_EQ(::send(peer, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
  }
  // Reads what the station received, waiting up to `limit` for `n` characters.
  std::string station_read(std::size_t n, std::chrono::milliseconds limit = 2000ms) {
    std::string got;
    const auto end = std::chrono::steady_clock::now() + limit;
    while (got.size() < n && std::chrono::steady_clock::now() < end) {
      loop.yield(1ms);
      got += line.read();
    }
    return got;
  }
};

TEST(NetAddress, ParsesTheTwoSchemes) {
  struct Case {
    const char* text;
    bool ok;
    NetSerialPort::Protocol protocol;
    const char* host;
    const char* port;
  } cases[] = {
      {"tcp://127.0.0.1:4001", true, NetSerialPort::Protocol::Raw, "127.0.0.1", "4001"},
      {"RFC2217://ds1.shop:2217", true, NetSerialPort::Protocol::Rfc2217, "ds1.shop", "2217"},
      {"tcp://[::1]:7000/", true, NetSerialPort::Protocol::Raw, "::1", "7000"},
      {"tcp://host", false, {}, "", ""},
      {"tcp://:4001", false, {}, "", ""},
      {"tcp://h:40x1", false, {}, "", ""},
      {"/dev/ttyUSB0", false, {}, "", ""},
      {"telnet://h:23", false, {}, "", ""},
  };
  for (const auto& c : cases) {
    const auto a = NetSerialPort::parse(c.text);
    ASSERT_EQ(a.has_value(), c.ok) << c.text;
    if (!a) continue;
    EXPECT_EQ(a->protocol, c.protocol) << c.text;
    EXPECT_EQ(a->host, c.host) << c.text;
    EXPECT_EQ(a->port, c.port) << c.text;
  }
}

TEST(NetBackoff, DoublesFromOneSecondToThirty) {
  std::vector<long> seen;
  Duration d = NetSerialPort::kFirstRetry;
  for (int i = 0; i < 8; ++i) {
    seen.push_back(std::chrono::duration_cast<std::chrono::seconds>(d).count());
    d = NetSerialPort::backoff_after(d);
  }
  EXPECT_EQ(seen, (std::vector<long>{1, 2, 4, 8, 16, 30, 30, 30}));
}

TEST_F(ScriptedServer, OpenFailsWhenNothingListensAndSaysWhereAndWhy) {
  ::close(listener);
  listener = -1;
  address = "tcp://127.0.0.1:" + std::to_string(port);
  EXPECT_FALSE(line.open());
  EXPECT_EQ(line.open_error(), address + ": connection refused");
  EXPECT_EQ(NetSerialPort::try_connect(address), address + ": connection refused");
}

TEST_F(ScriptedServer, ATryToConnectSendsNothing) {
  EXPECT_EQ(NetSerialPort::try_connect("tcp://127.0.0.1:" + std::to_string(port)), "");
  ASSERT_TRUE(accept_peer());
  char c;
  run_for(50ms);
  EXPECT_EQ(::recv(peer, &c, 1, 0), 0);  // closed, nothing sent
}

TEST_F(ScriptedServer, Rfc2217OffersTheOptionAndSendsTheSettingsOnlyOnceAgreed) {
  ASSERT_TRUE(open("rfc2217", "4800"));
  const std::string offer{IAC, WILL, '\x2C', IAC, WILL, '\x00', IAC, DO, '\x00', IAC, DO, '\x03'};
  line.write("data");  // waits for the settings
  EXPECT_EQ(peer_drain(), offer);
  EXPECT_FALSE(line.com_port_agreed());
  // The server agrees, and asks for things the station does not do.
  peer_send(std::string{IAC, DO, '\x2C', IAC, WILL, '\x01', IAC, DO, '\x18'});
  const std::string got = peer_drain();
  EXPECT_TRUE(line.com_port_agreed());
  const std::string expected = sub(1, std::string{0, 0, '\x12', '\xC0'}) +  // 4800
                               sub(2, "\x08") + sub(3, "\x01") + sub(4, "\x01") +
                               sub(5, "\x01") +                   // no flow control
                               sub(5, "\x08") + sub(5, "\x0B") +  // DTR on, RTS on
                               sub(11, "\x33") +                  // CTS and DSR in notifications
                               sub(7, std::string(1, '\0')) +     // the modem state now
                               std::string{IAC, DONT, '\x01', IAC, WONT, '\x18'};
  EXPECT_EQ(got, expected);
  EXPECT_TRUE(line.setting_up());
  // Agreeing again must not start a negotiation loop.
  peer_send(std::string{IAC, DO, '\x2C'});
  EXPECT_EQ(peer_drain(), "");
  line.set_dtr(false);
  EXPECT_EQ(peer_drain(), sub(5, "\x09"));
}

TEST_F(ScriptedServer, CtsFollowsTheModemStateNotificationsEvenSplitByteByByte) {
  ASSERT_TRUE(open("rfc2217"));
  peer_send(std::string{IAC, DO, '\x2C'});
  peer_drain();
  EXPECT_TRUE(line.cts());
  const std::string off = sub(107, "\x01");  // delta CTS, CTS off
  for (char c : off) {
    peer_send(std::string(1, c));
    run_for(2ms);
  }
  EXPECT_FALSE(line.cts());
  peer_send(sub(107, "\x11") + "ok");  // CTS on, then data
  EXPECT_EQ(station_read(2), "ok");
  EXPECT_TRUE(line.cts());
  EXPECT_EQ(line.in_buffer_count(), 0);
}

// While the loop watches the socket it reads what comes as it comes: the count asks the socket
// nothing (a paced line asks before every burst) and shows what the loop has read.
TEST_F(ScriptedServer, TheCountIsWhatTheLoopHasRead) {
  ASSERT_TRUE(open("tcp"));
  peer_drain();
  peer_send("XY");
  std::this_thread::sleep_for(20ms);  // in the station's socket by now
  EXPECT_EQ(line.in_buffer_count(), 0);
  run_for(20ms);
  EXPECT_EQ(line.in_buffer_count(), 2);
  EXPECT_EQ(line.read(), "XY");
}

// What the server sends inside subnegotiations: only a COM Port NOTIFY-MODEM-STATE with its
// state byte moves CTS, a state byte of 255 (sent as IAC IAC) counts once, and the data after
// every one of them arrives intact.
TEST_F(ScriptedServer, OnlyAWholeModemStateNotificationMovesCts) {
  ASSERT_TRUE(open("rfc2217"));
  peer_send(std::string{IAC, DO, '\x2C'});
  peer_drain();
  std::string long_other{IAC, SB, '\x18'};  // past the station's subnegotiation buffer
  for (int i = 0; i < 300; ++i) long_other += std::string{IAC, IAC};
  long_other += std::string{IAC, SE};
  const struct {
    const char* what;
    bool cts_before;
    std::string bytes;
    bool cts_after;
  } cases[] = {
      {"CTS off", true, sub(107, "\x01"), false},
      {"CTS on, state byte 255", false, sub(107, "\xFF"), true},
      {"no state byte", true, sub(107, ""), true},
      {"no state byte", false, sub(107, ""), false},
      {"answer to SET-BAUDRATE", true, sub(101, std::string{0, 0, '\x25', '\x80'}), true},
      {"answer to SET-CONTROL", false, sub(105, "\x11"), false},
      {"another option", true, std::string{IAC, SB, '\x18', '\x6B', '\x01', IAC, SE}, true},
      {"another option, long", false, long_other, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    peer_send(sub(107, c.cts_before ? "\x11" : "\x01"));
    run_for(30ms);
    ASSERT_EQ(line.cts(), c.cts_before);
    peer_send(c.bytes + "ok\xFF\xFF");
    EXPECT_EQ(station_read(3), "ok\xFF");
    EXPECT_EQ(line.cts(), c.cts_after);
  }
}

// The station's buffer purges reach an RFC 2217 device server as PURGE-DATA (12): 1 its
// receive buffer, 2 its transmit buffer. Never before COM Port Control is agreed, and never
// on a raw line, where the server would take them for data.
struct PurgeCase {
  const char* scheme;
  bool agree;
  bool input;  // clear_in_buffer(), else clear_out_buffer()
  std::string seen;
};
class Purge : public ScriptedServer, public ::testing::WithParamInterface<PurgeCase> {};

TEST_P(Purge, TheServerSeesPurgeDataOnlyWhereItSpeaksComPortControl) {
  const PurgeCase& c = GetParam();
  line.set_pacing_allowed(false);
  ASSERT_TRUE(open(c.scheme));
  if (c.agree)
    agree_and_answer();
  else if (std::string(c.scheme) == "rfc2217")
    peer_send(std::string{IAC, DONT, '\x2C'});  // refused: data go at once, without settings
  peer_drain();
  peer_send("stale");
  run_for(50ms);
  ASSERT_EQ(line.in_buffer_count(), 5);
  if (c.input) {
    line.clear_in_buffer();
    EXPECT_EQ(line.in_buffer_count(), 0);  // what had come is gone as well
  } else {
    line.clear_out_buffer();
  }
  EXPECT_EQ(peer_drain(), c.seen);
  line.write("next");  // the stream goes on after the purge
  EXPECT_EQ(peer_read(4), "next");
}

INSTANTIATE_TEST_SUITE_P(Cases, Purge,
                         ::testing::Values(PurgeCase{"rfc2217", true, true, sub(12, "\x01")},
                                           PurgeCase{"rfc2217", true, false, sub(12, "\x02")},
                                           PurgeCase{"rfc2217", false, true, ""},
                                           PurgeCase{"rfc2217", false, false, ""},
                                           PurgeCase{"tcp", false, true, ""},
                                           PurgeCase{"tcp", false, false, ""}),
                         [](const auto& info) {
                           return std::string(info.param.scheme) +
                                  (info.param.agree ? "Agreed" : "") +
                                  (info.param.input ? "Receive" : "Transmit");
                         });

struct EscapeCase {
  const char* scheme;
  bool doubled;
};
class Escaping : public ScriptedServer, public ::testing::WithParamInterface<EscapeCase> {};

TEST_P(Escaping, Byte255SurvivesBothWays) {
  line.set_pacing_allowed(false);
  ASSERT_TRUE(open(GetParam().scheme));
  if (GetParam().doubled) agree_and_answer();
  peer_drain();
  line.write(all_byte_values());
  std::string expected = all_byte_values();
  if (GetParam().doubled) expected += IAC;  // 255 goes out as IAC IAC
  EXPECT_EQ(peer_read(expected.size()), expected);
  std::string from_peer = all_byte_values();
  if (GetParam().doubled) from_peer += IAC;
  peer_send(from_peer);
  EXPECT_EQ(station_read(256), all_byte_values());
}

INSTANTIATE_TEST_SUITE_P(Schemes, Escaping,
                         ::testing::Values(EscapeCase{"rfc2217", true}, EscapeCase{"tcp", false}),
                         [](const auto& info) { return std::string(info.param.scheme); });

TEST_F(ScriptedServer, PacedOutputGoesAtTheLineRateAndCountsAsUnsent) {
  ASSERT_TRUE(open("tcp", "9600"));
  EXPECT_TRUE(line.paced());
  line.write(std::string(50, 'x'));  // 52 ms at 9600 baud
  EXPECT_GE(line.out_buffer_count(), 45);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(peer_read(50), std::string(50, 'x'));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 45ms);
}

// Bytes still waiting for the network (a server that has stopped reading) leave no room
// for paced output: the pacer's clock alone would let the station go on writing into a
// queue that is not moving, past a machine's Xoff and into the drop at the limit.
TEST_F(ScriptedServer, NoPacedRoomWhileBytesWaitForTheNetwork) {
  ASSERT_TRUE(open("tcp", "9600"));
  line.set_pacing_allowed(false);  // fills the socket at once
  const std::string chunk(64 * 1024, 'x');
  for (int i = 0; i < 400 && line.output_held() == 0; ++i) line.write(chunk);
  ASSERT_GT(line.output_held(), 0u);
  line.set_pacing_allowed(true);
  run_for(20ms);  // the pacer's own slot is long free
  EXPECT_EQ(line.output_room(), 0u);
  EXPECT_GT(line.out_buffer_count(), 0);
  // The server reads again: once the queue has gone, the next burst may go.
  std::vector<char> buf(256 * 1024);
  const auto end = std::chrono::steady_clock::now() + 5s;
  while (line.output_held() > 0 && std::chrono::steady_clock::now() < end) {
    while (::recv(peer, buf.data(), buf.size(), 0) > 0) {
    }
    loop.yield(1ms);
  }
  ASSERT_EQ(line.output_held(), 0u);
  EXPECT_GT(line.output_room(), 0u);
}

TEST_F(ScriptedServer, ADropIsReportedAndTheLineReconnectsWithoutResending) {
  ASSERT_TRUE(open("tcp"));
  line.write("AB");
  EXPECT_EQ(peer_read(2), "AB");
  ::close(peer);
  peer = -1;
  run_for(50ms);
  EXPECT_EQ(line.connection_lost(), "closed by the device server");
  EXPECT_TRUE(line.is_open());
  EXPECT_FALSE(line.cts());  // a transfer stalls instead of writing into nothing
  line.write("lost while down");
  EXPECT_EQ(line.next_retry_delay(), 2s);
  ASSERT_TRUE(accept_peer(2500ms));  // the first retry comes after 1 s
  run_for(20ms);
  EXPECT_EQ(line.connection_lost(), "");
  EXPECT_TRUE(line.cts());
  EXPECT_EQ(line.drops(), 1);
  EXPECT_EQ(line.reconnects(), 1);
  // The first connection carried nothing from the line: not proven, the back-off goes on.
  EXPECT_EQ(line.next_retry_delay(), 2s);
  line.write("CD");
  EXPECT_EQ(peer_read(2), "CD");  // nothing from before the drop comes again
}

TEST_F(ScriptedServer, RetriesBackOffWhileTheServerIsAway) {
  ASSERT_TRUE(open("tcp"));
  ::close(peer);
  peer = -1;
  ::close(listener);  // nobody answers now
  listener = -1;
  run_for(1300ms);  // the 1 s attempt fails
  EXPECT_FALSE(line.connection_lost().empty());
  EXPECT_EQ(line.next_retry_delay(), 4s);
  EXPECT_EQ(line.reconnects(), 0);
}

// RFC 2217: no data byte reaches the server before it has agreed to COM Port Control and
// answered the baud rate, data size, parity and stop size; a server that never answers gets
// the data after the bounded wait, one that refuses at once. The set-up note says which.
struct SetupCase {
  const char* name;
  std::string server_says;  // after the station's offer
  bool answers;             // then answers the settings and the modem state
  bool data_after_the_wait;
  const char* note;
};
class LineSetup : public ScriptedServer, public ::testing::WithParamInterface<SetupCase> {};

TEST_P(LineSetup, DataWaitsForTheSettingsOrTheBoundedWait) {
  const SetupCase& c = GetParam();
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(open("rfc2217", "4800"));
  line.write("DATA");
  std::string before = peer_drain();  // the offer
  peer_send(c.server_says);
  std::string after = peer_drain();
  if (c.answers) {
    EXPECT_TRUE(line.setting_up());
    after += agree_and_answer();
  }
  // Data must wait through all that, unless the server refused the option.
  if (c.answers || c.data_after_the_wait) before += after;
  std::string got = before + after;
  while (got.find("DATA") == std::string::npos && std::chrono::steady_clock::now() - start < 5s)
    got += peer_read(1, 100ms);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(before.find("DATA"), std::string::npos) << "data before the settings were answered";
  ASSERT_NE(got.find("DATA"), std::string::npos);
  if (c.data_after_the_wait) {
    EXPECT_GE(took, NetSerialPort::kSetupWait - 100ms);
  } else {
    EXPECT_LT(took, 1s);
  }
  EXPECT_FALSE(line.setting_up());
  EXPECT_NE(line.setup_note().find(c.note), std::string::npos) << line.setup_note();
}

INSTANTIATE_TEST_SUITE_P(
    Servers, LineSetup,
    ::testing::Values(
        SetupCase{"Answers", "", true, false,
                  "COM Port Control agreed, 4800 baud 8 data bits no parity 1 stop bit answered "
                  "(the server set 9600 baud), CTS on"},
        SetupCase{"AgreesButNeverAnswers", std::string{IAC, DO, '\x2C'}, false, true,
                  "line settings not answered within 3 s: data sent with the device server's "
                  "own settings, no modem state within 3 s: CTS taken as on"},
        SetupCase{"Refuses", std::string{IAC, DONT, '\x2C'}, false, false,
                  "the device server refused COM Port Control"},
        SetupCase{"Silent", "", false, true, "line settings not answered within 3 s"}),
    [](const auto& info) { return std::string(info.param.name); });

// The first modem-state notice ends the set-up: CTS is what the server reports, also off.
TEST_F(ScriptedServer, TheFirstModemStateNoticeGivesCts) {
  ASSERT_TRUE(open("rfc2217"));
  peer_send(std::string{IAC, DO, '\x2C'});
  peer_drain();
  peer_send(sub(101, std::string{0, 0, '\x25', '\x80'}) + sub(102, "\x08") + sub(103, "\x01") +
            sub(104, "\x01"));
  run_for(30ms);
  EXPECT_TRUE(line.setting_up());
  EXPECT_FALSE(line.modem_state_known());
  peer_send(sub(107, std::string(1, '\0')));
  run_for(30ms);
  EXPECT_FALSE(line.setting_up());
  EXPECT_TRUE(line.modem_state_known());
  EXPECT_FALSE(line.cts());
  EXPECT_NE(line.setup_note().find(", CTS off"), std::string::npos) << line.setup_note();
}

// A connection counts as good only once it has carried data from the line (or stayed up
// kGoodConnection): a server that accepts and closes at once keeps the waits doubling
// (attempts at 0, 1 and 3 s), one that carried data starts again from 1 s each time.
struct BackoffCase {
  const char* name;
  bool carries_data;
  int connections;  // in the first 3.5 s
  Duration next_delay;
};
class Backoff : public ScriptedServer, public ::testing::WithParamInterface<BackoffCase> {};

TEST_P(Backoff, OnlyAGoodConnectionStartsTheWaitsAgain) {
  const BackoffCase& c = GetParam();
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(open("tcp"));
  int connections = 1;
  while (std::chrono::steady_clock::now() - start < 3500ms) {
    if (peer >= 0) {
      if (c.carries_data) {
        peer_send("x");
        station_read(1, 500ms);
      }
      ::close(peer);
      peer = -1;
    }
    loop.yield(2ms);
    peer = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK);
    if (peer >= 0) ++connections;
  }
  EXPECT_EQ(connections, c.connections);
  EXPECT_EQ(line.next_retry_delay(), c.next_delay);
}

INSTANTIATE_TEST_SUITE_P(Servers, Backoff,
                         ::testing::Values(BackoffCase{"ClosesAtOnce", false, 3, 8s},
                                           BackoffCase{"CarriesDataThenCloses", true, 4, 2s}),
                         [](const auto& info) { return std::string(info.param.name); });

// What reached the station's socket before the server closed it is the line's data: it is
// read after the drop, not thrown away with the connection.
class DropKeepsInput : public ScriptedServer, public ::testing::WithParamInterface<const char*> {};

TEST_P(DropKeepsInput, WhatArrivedBeforeTheCloseIsStillRead) {
  ASSERT_TRUE(open(GetParam()));
  peer_drain();
  const std::string lines = "N0131 G1 X1.\r\nN0132 G1 X2.\r\nN0136 M30\r\n";
  peer_send(lines);
  ::close(peer);
  peer = -1;
  run_for(50ms);
  EXPECT_FALSE(line.connection_lost().empty());
  EXPECT_EQ(line.in_buffer_count(), static_cast<int>(lines.size()));
  EXPECT_EQ(line.read(), lines);
}

INSTANTIATE_TEST_SUITE_P(Schemes, DropKeepsInput, ::testing::Values("tcp", "rfc2217"));

// The device server reports the controller's DSR: off and on again, with the station's DTR
// on all along, is a restart of the controller, raised at once as the line's comm event; a
// DSR that only follows the station's own DTR is not.
TEST_F(ScriptedServer, DsrOffAndOnAgainIsARestartOfTheController) {
  ASSERT_TRUE(open("rfc2217"));
  agree_and_answer('\x30');  // CTS and DSR on
  int events = 0;
  line.set_comm_handler([&](int code) { events += code == SerialPort::kControllerRestartEvent; });
  run_for(std::chrono::duration_cast<std::chrono::milliseconds>(ControllerPower::kDtrSettle) +
          100ms);
  peer_send(sub(107, "\x02"));  // DSR off (and CTS)
  run_for(30ms);
  EXPECT_EQ(events, 0);
  peer_send(sub(107, "\x33"));  // back
  run_for(30ms);
  EXPECT_EQ(events, 1);
  EXPECT_EQ(line.controller_restarts_seen(), 1);

  line.set_dtr(false);  // a cable that loops DSR back from DTR
  peer_send(sub(107, "\x12"));
  run_for(30ms);
  line.set_dtr(true);
  peer_send(sub(107, "\x32"));
  run_for(30ms);
  EXPECT_EQ(events, 1);
}

}  // namespace
}  // namespace shoplink
