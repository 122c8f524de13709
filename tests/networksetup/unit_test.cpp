#include "address.h"
#include "desktopproxy.h"
#include "proxystate.h"
#include "services.h"
#include "tool.h"

#include <csignal>
#include <gtest/gtest.h>

using namespace zentrel::networksetup;

namespace {

std::string ipv6Default(const char *dev, const char *metricHex, const char *flags) {
    return std::string(32, '0') + " 00 " + std::string(32, '0') + " 00 fe80" +
           std::string(28, '0') + " " + metricHex + " 00000001 00000000 " + flags + " " + dev +
           "\n";
}

} // namespace

TEST(NetworksetupRoutes, DefaultRoutesByFamilyAndMetric) {
    // As /proc/net/route has them (whitespace apart): one not default, one not up.
    const std::string v4 = R"(Iface Destination Gateway Flags RefCnt Use Metric Mask MTU Window IRTT
wlan0 00000000 0100A8C0 0003 0 0 600 00000000 0 0 0
eth0 0000A8C0 0100A8C0 0001 0 0 0 00FFFFFF 0 0 0
eth1 00000000 0100A8C0 0002 0 0 1 00000000 0 0 0
eth0 00000000 0100A8C0 0003 0 0 100 00000000 0 0 0
)";
    const std::string v6 = ipv6Default("usb0", "00000064", "00000003") +
                           ipv6Default("lo", "ffffffff", "00200200") +   // loopback reject route
                           ipv6Default("tun0", "00000001", "00000203") + // reject
                           ipv6Default("eth0", "00000400", "00000003");  // already listed
    EXPECT_EQ(defaultRouteInterfaces(v4, v6), (std::vector<std::string>{"eth0", "wlan0", "usb0"}));
}

TEST(NetworksetupState, RoundTripKeepsEveryByte) {
    ProxyState state;
    state.clock = 42;
    state.services["odd\tname\n%20 é"] = {"bücher.example", 1, false, 0};
    state.services["Wi-Fi"] = {"::1", 65535, true, 7};
    DesktopRecord &record = state.desktops["gnome"];
    record.saved["org.gnome.system.proxy/mode"] = {true, "'auto'"};
    record.saved["org.gnome.system.proxy.socks/host"] = {false, ""};
    record.written["org.gnome.system.proxy.http/host"] = {true, ""};
    state.desktops["kde"].saved["httpProxy"] = {true, "http://proxy 3128\twith tab"};

    ProxyState back;
    std::string error;
    ASSERT_TRUE(parseState(serializeState(state), back, error)) << error;
    EXPECT_EQ(serializeState(back), serializeState(state));
    // Fields the scripts never read back in a later process (each command is a new one).
    EXPECT_EQ(back.clock, 42u);
    EXPECT_EQ(back.services["odd\tname\n%20 é"].host, "bücher.example");
}

TEST(NetworksetupState, DamageIsRefused) {
    const std::string head = "zentrel-vpn-proxy-state 2\nclock\t3\n";
    const std::string good = head + "service\tWi-Fi\tlocalhost\t6969\ton\t1\n";
    ProxyState state;
    std::string error;
    ASSERT_TRUE(parseState(withEndLine(good), state, error)) << error;
    for (const std::string &text : {
             std::string(),
             std::string("garbage\n"),
             withEndLine(good).substr(0, withEndLine(good).size() - 1), // last byte cut
             withEndLine(head) + "service\tWi-Fi\tlocalhost\t6969\ton\t1\n",
             withEndLine(good) + "\n",
         }) {
        EXPECT_FALSE(parseState(text, state, error)) << text;
    }
    // Refused in words that say what is wrong (hostile_state.sh: a changed byte, seen by off).
    for (const auto &[text, says] :
         {std::pair<std::string, const char *>{good, "cut short"},
          {withEndLine("zentrel-vpn-proxy-state 1\n"), "another format"}}) {
        EXPECT_FALSE(parseState(text, state, error)) << text;
        EXPECT_NE(error.find(says), std::string::npos) << error;
    }
    // Sealed, but holding what no run of ours writes.
    for (const char *line :
         {"service\tWi-Fi\tlocalhost\t6969\tmaybe\t1", "service\tWi-Fi\tlocalhost\t0\ton\t1",
          "service\tWi-Fi\tlocalhost\t99999999999\ton\t1", "service\tWi-Fi\t%FF\t6969\ton\t1",
          "service\tWi-Fi\t-oProxyCommand=x\t6969\ton\t1", "service\tWi%00\tx\t6969\ton\t1",
          "service\tWi%2\tlocalhost\t6969\ton\t1", "service\t%\tlocalhost\t6969\ton\t1",
          "service\tWi-Fi\tlocalhost\t6969\ton\t-1", "clock\t18446744073709551616",
          "saved\tgnome\tkey\tset\t'x'", // no desktop line before it
          "desktop\tgnome\nsaved\tgnome\tkey\tset\t%C3%28", "unknown\tline"}) {
        EXPECT_FALSE(parseState(withEndLine(head + line + "\n"), state, error)) << line;
    }
}

TEST(NetworksetupArguments, HostsAreNamesOrAddresses) {
    for (const char *good : {"localhost", "proxy-1.corp", "proxy.corp.", "a_b.example", "10.0.0.1",
                             "::1", "fe80::1:2", "bücher.example", "xn--bcher-kva.example"}) {
        EXPECT_TRUE(isHostNameOrAddress(good)) << good;
    }
    for (const char *bad :
         {"", ".", "local host", "\xff", "b\xc3\x28r", "\xc0\xaf", "x=y", "-oProxyCommand=x",
          "host-", "'q'", "\"q\"", "[::1]", "a..b", "999.1.1.1", "80", "host\n",
          "a\xc2\xa0"
          "b",
          "host/path", "user@host"}) {
        EXPECT_FALSE(isHostNameOrAddress(bad)) << bad;
    }
    EXPECT_FALSE(isHostNameOrAddress(std::string(64, 'a')));
    EXPECT_FALSE(isHostNameOrAddress(std::string("a\0b", 3)));
}

// A tool whose end cannot be known has failed (the scripts run hung and failing tools).
TEST(NetworksetupTools, LostStatusIsAFailure) {
    auto previous = std::signal(SIGCHLD, SIG_IGN); // children reaped away: no status to read
    EXPECT_FALSE(runTool({"true"}, deadlineIn(std::chrono::seconds(5))).succeeded());
    std::signal(SIGCHLD, previous);
}

// The command-line surface is covered end to end by the scripts; these are the edge cases.
TEST(NetworksetupArguments, PortsAndKdeNotation) {
    int port = 0;
    EXPECT_TRUE(parsePort("0006969", port) && port == 6969);
    for (const char *bad : {"", "0", "65536", "99999999999999999999", "-1", "+80", " 80", "80 ",
                            "8o", "0x50", "6969.0"}) {
        EXPECT_FALSE(parsePort(bad, port)) << bad;
    }
    EXPECT_EQ(kdeProxyValue("socks", "::1", 1080), "socks://[::1] 1080");
}
