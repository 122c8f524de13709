#include "cli.h"
#include "desktopproxy.h"
#include "proxystate.h"
#include "services.h"

#include <gtest/gtest.h>

using namespace zentrel::networksetup;

namespace {

const char ipv4Header[] = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\n";

std::string ipv4Route(const char *dev, const char *dest, const char *flags, int metric,
                      const char *mask) {
    return std::string(dev) + "\t" + dest + "\t0100A8C0\t" + flags + "\t0\t0\t" +
           std::to_string(metric) + "\t" + mask + "\t0\t0\t0\n";
}

std::string ipv6Default(const char *dev, const char *metricHex, const char *flags) {
    return std::string(32, '0') + " 00 " + std::string(32, '0') + " 00 fe80" +
           std::string(28, '0') + " " + metricHex + " 00000001 00000000 " + flags + " " + dev +
           "\n";
}

} // namespace

TEST(NetworksetupRoutes, DefaultRoutesByFamilyAndMetric) {
    const std::string v4 = ipv4Header + ipv4Route("wlan0", "00000000", "0003", 600, "00000000") +
                           ipv4Route("eth0", "0000A8C0", "0001", 0, "00FFFFFF") + // not default
                           ipv4Route("eth1", "00000000", "0002", 1, "00000000") + // not up
                           ipv4Route("eth0", "00000000", "0003", 100, "00000000");
    const std::string v6 = ipv6Default("usb0", "00000064", "00000003") +
                           ipv6Default("lo", "ffffffff", "00200200") +   // loopback reject route
                           ipv6Default("tun0", "00000001", "00000203") + // reject
                           ipv6Default("eth0", "00000400", "00000003");  // already listed
    EXPECT_EQ(defaultRouteInterfaces(v4, v6), (std::vector<std::string>{"eth0", "wlan0", "usb0"}));
}

TEST(NetworksetupState, RoundTripKeepsEveryByte) {
    ProxyState state;
    state.clock = 42;
    state.services["odd\tname\n%20 é"] = {"", 0, false, 0};
    state.services[""] = {"::1", 65535, false, 7};
    DesktopRecord &record = state.desktops["gnome"];
    record.saved["org.gnome.system.proxy/mode"] = {true, "'auto'"};
    record.saved["org.gnome.system.proxy.socks/host"] = {false, ""};
    record.written["org.gnome.system.proxy.http/host"] = {true, ""};
    state.desktops["kde"].saved["httpProxy"] = {true, "http://proxy 3128\twith tab"};

    ProxyState back;
    std::string error;
    ASSERT_TRUE(parseState(serializeState(state), back, error)) << error;
    EXPECT_EQ(serializeState(back), serializeState(state));
    EXPECT_EQ(back.clock, 42u);
    EXPECT_EQ(back.services["odd\tname\n%20 é"].host, "");
    EXPECT_EQ(back.services[""].host, "::1");
    EXPECT_EQ(back.desktops["gnome"].written["org.gnome.system.proxy.http/host"],
              (SettingValue{true, ""}));
    EXPECT_EQ(back.desktops["kde"].saved["httpProxy"].value, "http://proxy 3128\twith tab");
}

TEST(NetworksetupState, DamageIsRefused) {
    const std::string good = serializeState(ProxyState());
    ProxyState state;
    std::string error;
    for (const std::string &text : {
             std::string(),
             std::string("garbage\n"),
             good + "service\tWi-Fi\tlocalhost\t6969\tmaybe\t1\n",
             good + "service\tWi-Fi\tlocalhost\t69x9\ton\t1\n",
             good + "service\tWi%2\tlocalhost\t6969\ton\t1\n",
             good + "saved\tgnome\tkey\tset\t'x'\n", // no desktop line before it
             good + "unknown\tline\n",
         }) {
        EXPECT_FALSE(parseState(text, state, error)) << text;
    }
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
