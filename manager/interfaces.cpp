#include "interfaces.h"

#include <dirent.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>

namespace {

// ARPHRD_LOOPBACK: the kernel's interface type of a loopback device.
constexpr const char* LOOPBACK_TYPE = "772";

// The first line of a small attribute file, without surrounding white space;
// false when the file cannot be read (sysfs refuses some reads, for example
// `speed` and `carrier` of an interface that is down).
bool readAttribute(const std::string& path, std::string& value) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    char buffer[256];
    ssize_t got;
    do {
        got = ::read(fd, buffer, sizeof buffer);
    } while (got < 0 && errno == EINTR);
    ::close(fd);
    if (got < 0) {
        return false;
    }
    std::string text(buffer, static_cast<size_t>(got));
    size_t end = text.find('\n');
    if (end != std::string::npos) {
        text.resize(end);
    }
    size_t first = text.find_first_not_of(" \t\r");
    size_t last = text.find_last_not_of(" \t\r");
    value = first == std::string::npos ? "" : text.substr(first, last - first + 1);
    return true;
}

// Speeds are whole Mbit/s; the kernel reports -1 (or fails the read) when unknown.
uint32_t parseSpeed(const std::string& text) {
    if (text.empty() || text.size() > 10 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return 0;
    }
    unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
    return value > UINT32_MAX ? 0 : static_cast<uint32_t>(value);
}

// The first IPv4 address of every interface that has one, by name.
std::map<std::string, in_addr> hostIpv4Addresses() {
    std::map<std::string, in_addr> addresses;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return addresses;
    }
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_name == nullptr || entry->ifa_addr == nullptr ||
            entry->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        sockaddr_in address{};
        std::memcpy(&address, entry->ifa_addr, sizeof address);
        addresses.emplace(entry->ifa_name, address.sin_addr); // keeps the first
    }
    freeifaddrs(list);
    return addresses;
}

} // namespace

std::vector<ManagerInterface> scanHostInterfaces(const std::string& sysfsRoot) {
    std::vector<std::string> names;
    DIR* directory = opendir(sysfsRoot.c_str());
    if (directory == nullptr) {
        return {};
    }
    while (const dirent* entry = readdir(directory)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        // Interfaces are directories (links to them); files such as
        // bonding_masters sit beside them.
        struct stat info {};
        if (stat((sysfsRoot + "/" + name).c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
            continue;
        }
        names.push_back(name);
    }
    closedir(directory);
    std::sort(names.begin(), names.end());

    std::map<std::string, in_addr> addresses = hostIpv4Addresses();
    std::vector<ManagerInterface> interfaces;
    for (const std::string& name : names) {
        if (interfaces.size() == QEL_OPTIONS_LIST_MAX) {
            break;
        }
        const std::string base = sysfsRoot + "/" + name + "/";
        std::string value;
        if (name == "lo" || (readAttribute(base + "type", value) && value == LOOPBACK_TYPE)) {
            continue;
        }
        ManagerInterface interface {};
        static const uint8_t zero[QEL_MAC_SIZE] = {};
        if (!readAttribute(base + "address", value) || !parseMac(value, interface.mac) ||
            std::memcmp(interface.mac, zero, QEL_MAC_SIZE) == 0) {
            continue;
        }
        interface.name = utf8ToUtf16(name);
        if (interface.name.size() > QEL_INTERFACE_NAME_SIZE - 1) {
            size_t length = QEL_INTERFACE_NAME_SIZE - 1;
            // Never keep half of a surrogate pair.
            if (interface.name[length - 1] >= 0xD800 && interface.name[length - 1] <= 0xDBFF) {
                length--;
            }
            interface.name.resize(length);
        }
        std::string operstate;
        bool haveOperstate = readAttribute(base + "operstate", operstate);
        if (haveOperstate && operstate != "unknown") {
            interface.linkUp = operstate == "up";
        } else {
            interface.linkUp = readAttribute(base + "carrier", value) && value == "1";
        }
        interface.speedMbps = readAttribute(base + "speed", value) ? parseSpeed(value) : 0;
        auto address = addresses.find(name);
        if (address != addresses.end()) {
            std::memcpy(interface.ipv4, &address->second.s_addr, QEL_IP_ADDRESS_SIZE);
        }
        interfaces.push_back(interface);
    }
    return interfaces;
}
