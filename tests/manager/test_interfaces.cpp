// The host interface scan, over fake sysfs trees (interface names that do not
// exist on the host, so their IPv4 addresses are all zero) and once over the
// real one.
#include "interfaces.h"

#include "manager_test_dir.h"

#include <gtest/gtest.h>

#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <utility>

namespace {

struct FakeInterface {
    explicit FakeInterface(std::string interfaceName) : name(std::move(interfaceName)) {}
    std::string name;
    std::string type = "1\n";
    std::string address = "02:00:00:00:00:01\n";
    std::string operstate = "up\n";
    std::string carrier; // "" leaves the file out
    std::string speed = "1000\n";
};

// Writes one interface directory; a file whose text is "" is left out.
void addInterface(const ManagerTestDir& dir, const FakeInterface& fake) {
    const std::string base = "net/" + fake.name + "/";
    const std::pair<const char*, const std::string*> files[] = {
        {"type", &fake.type},       {"address", &fake.address}, {"operstate", &fake.operstate},
        {"carrier", &fake.carrier}, {"speed", &fake.speed},
    };
    std::filesystem::create_directories(dir.file(base));
    for (const auto& file : files) {
        if (!file.second->empty()) {
            dir.write(base + file.first, *file.second);
        }
    }
}

std::string macText(const ManagerInterface& entry) {
    return formatMac(entry.mac);
}

TEST(ManagerInterfaces, ReadsEachAttribute) {
    ManagerTestDir dir;
    FakeInterface up{"qtest-b"};
    up.address = "00:1B:21:3C:4D:5E\n";
    FakeInterface down{"qtest-a"};
    down.operstate = "down\n";
    down.speed = "-1\n";
    down.address = "02:00:00:00:00:02\n";
    FakeInterface unknownState{"qtest-c"};
    unknownState.operstate = "unknown\n";
    unknownState.carrier = "1\n";
    unknownState.speed = "";
    unknownState.address = "02:00:00:00:00:03\n";
    FakeInterface noState{"qtest-d"};
    noState.operstate = "";
    noState.carrier = "0\n";
    noState.speed = "25000\n";
    noState.address = "02:00:00:00:00:04\n";
    for (const FakeInterface& fake : {up, down, unknownState, noState}) {
        addInterface(dir, fake);
    }

    std::vector<ManagerInterface> found = scanHostInterfaces(dir.file("net"));
    ASSERT_EQ(found.size(), 4u);
    struct Expect {
        std::u16string name;
        std::string mac;
        bool linkUp;
        uint32_t speed;
    };
    const Expect expected[] = {
        {u"qtest-a", "02:00:00:00:00:02", false, 0},
        {u"qtest-b", "00:1b:21:3c:4d:5e", true, 1000},
        {u"qtest-c", "02:00:00:00:00:03", true, 0},
        {u"qtest-d", "02:00:00:00:00:04", false, 25000},
    };
    for (size_t i = 0; i < found.size(); i++) {
        EXPECT_EQ(found[i].name, expected[i].name) << i;
        EXPECT_EQ(macText(found[i]), expected[i].mac) << i;
        EXPECT_EQ(found[i].linkUp, expected[i].linkUp) << i;
        EXPECT_EQ(found[i].speedMbps, expected[i].speed) << i;
        EXPECT_EQ(formatIpv4(found[i].ipv4), "0.0.0.0") << i;
    }
}

TEST(ManagerInterfaces, SkipsLoopbackUnaddressedAndNonInterfaces) {
    ManagerTestDir dir;
    addInterface(dir, FakeInterface{"lo"});
    FakeInterface loopbackType{"qtest-loop"};
    loopbackType.type = "772\n";
    FakeInterface zeroMac{"qtest-zero"};
    zeroMac.address = "00:00:00:00:00:00\n";
    FakeInterface noAddress{"qtest-tun"};
    noAddress.address = "";
    FakeInterface longAddress{"qtest-ib"};
    longAddress.address = "80:00:02:08:fe:80:00:00:00:00:00:00:00:02:c9:03:00:0a:bc:de\n";
    for (const FakeInterface& fake : {loopbackType, zeroMac, noAddress, longAddress}) {
        addInterface(dir, fake);
    }
    dir.write("net/bonding_masters", "\n");
    addInterface(dir, FakeInterface{"qtest-real"});
    // sysfs lists interfaces as links to their device directories.
    FakeInterface target{"qtest-target"};
    target.address = "02:00:00:00:00:09\n";
    addInterface(dir, target);
    std::filesystem::rename(dir.file("net/qtest-target"), dir.file("device"));
    std::filesystem::create_directory_symlink(dir.file("device"), dir.file("net/qtest-link"));

    std::vector<ManagerInterface> found = scanHostInterfaces(dir.file("net"));
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].name, u"qtest-link");
    EXPECT_EQ(macText(found[0]), "02:00:00:00:00:09");
    EXPECT_EQ(found[1].name, u"qtest-real");
}

TEST(ManagerInterfaces, KeepsTheFirstSixteenByName) {
    ManagerTestDir dir;
    for (int i = 20; i >= 1; i--) {
        FakeInterface fake{"qtest-" + std::string(i < 10 ? "0" : "") + std::to_string(i)};
        fake.address = "02:00:00:00:00:" + std::string(i < 10 ? "0" : "") + std::to_string(i);
        addInterface(dir, fake);
    }
    std::vector<ManagerInterface> found = scanHostInterfaces(dir.file("net"));
    ASSERT_EQ(found.size(), QEL_OPTIONS_LIST_MAX);
    EXPECT_EQ(found.front().name, u"qtest-01");
    EXPECT_EQ(found.back().name, u"qtest-16");
    EXPECT_EQ(macText(found.back()), "02:00:00:00:00:16");
}

TEST(ManagerInterfaces, NamesAreConvertedAndCut) {
    ManagerTestDir dir;
    FakeInterface accented{"qtest-\xC3\xA9"};
    FakeInterface invalid{"qtest-\xFF"};
    invalid.address = "02:00:00:00:00:02\n";
    // 62 ASCII bytes and a 4-byte character: the pair would straddle the cut.
    FakeInterface straddling{"r" + std::string(61, 'x') + "\xF0\x9F\x98\x80"};
    straddling.address = "02:00:00:00:00:03\n";
    FakeInterface longName{"s" + std::string(69, 'y')};
    longName.address = "02:00:00:00:00:04\n";
    for (const FakeInterface& fake : {accented, invalid, straddling, longName}) {
        addInterface(dir, fake);
    }
    std::vector<ManagerInterface> found = scanHostInterfaces(dir.file("net"));
    ASSERT_EQ(found.size(), 4u);
    EXPECT_EQ(found[0].name, u"qtest-\u00e9");
    EXPECT_EQ(found[1].name, u"qtest-\uFFFD");
    EXPECT_EQ(found[2].name, u"r" + std::u16string(61, u'x'));
    EXPECT_EQ(found[3].name, u"s" + std::u16string(62, u'y'));
}

TEST(ManagerInterfaces, MissingRootGivesNone) {
    ManagerTestDir dir;
    EXPECT_TRUE(scanHostInterfaces(dir.file("absent")).empty());
    EXPECT_TRUE(scanHostInterfaces(dir.write("plain", "")).empty());
}

// The address comes from the host by name, whatever tree the rest came from.
TEST(ManagerInterfaces, Ipv4IsTheHostsFirstAddressOfThatName) {
    std::string name;
    uint8_t address[QEL_IP_ADDRESS_SIZE] = {};
    ifaddrs* list = nullptr;
    ASSERT_EQ(getifaddrs(&list), 0);
    for (const ifaddrs* entry = list; entry != nullptr && name.empty(); entry = entry->ifa_next) {
        if (entry->ifa_addr != nullptr && entry->ifa_addr->sa_family == AF_INET &&
            std::string(entry->ifa_name) != "lo") {
            name = entry->ifa_name;
            sockaddr_in in{};
            std::memcpy(&in, entry->ifa_addr, sizeof in);
            std::memcpy(address, &in.sin_addr.s_addr, sizeof address);
        }
    }
    freeifaddrs(list);
    if (name.empty()) {
        GTEST_SKIP() << "no host interface with an IPv4 address besides lo";
    }
    ManagerTestDir dir;
    addInterface(dir, FakeInterface{name});
    std::vector<ManagerInterface> found = scanHostInterfaces(dir.file("net"));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(formatIpv4(found[0].ipv4), formatIpv4(address));
    EXPECT_NE(formatIpv4(found[0].ipv4), "0.0.0.0");
}

TEST(ManagerInterfaces, HostScanKeepsItsPromises) {
    std::vector<ManagerInterface> found = scanHostInterfaces();
    EXPECT_LE(found.size(), QEL_OPTIONS_LIST_MAX);
    static const uint8_t zero[QEL_MAC_SIZE] = {};
    for (size_t i = 0; i < found.size(); i++) {
        EXPECT_NE(found[i].name, u"lo");
        EXPECT_LE(found[i].name.size(), QEL_INTERFACE_NAME_SIZE - 1);
        EXPECT_NE(std::memcmp(found[i].mac, zero, QEL_MAC_SIZE), 0) << macText(found[i]);
        if (i > 0) {
            EXPECT_LT(utf16ToUtf8(found[i - 1].name), utf16ToUtf8(found[i].name));
        }
    }
}

} // namespace
