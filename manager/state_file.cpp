#include "state_file.h"

#include "json_reader.h"
#include "options_file.h"

#include "kes_result.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

using nlohmann::json;
using qel_json::Fail;
using qel_json::JsonReader;

namespace {

constexpr int STATE_VERSION = 1;
constexpr size_t STATE_FILE_MAX = 64 * 1024;

std::string systemText(int error) {
    return kes_system_error_text(static_cast<uint32_t>(error));
}

// A terminated copy of a fixed-size name, or false when it has no terminator.
template <typename Char, size_t N> bool terminated(const Char (&name)[N], size_t& length) {
    for (length = 0; length < N; length++) {
        if (name[length] == 0) {
            return true;
        }
    }
    return false;
}

json configToJson(const qel_config& config) {
    size_t latencyLength = 0;
    if (!terminated(config.latency, latencyLength)) {
        throw Fail{"latency", "is not terminated within its " +
                                  std::to_string(QEL_LATENCY_NAME_SIZE) + " bytes"};
    }
    std::string latency(config.latency, latencyLength);
    bool valid = true;
    utf8ToUtf16(latency, &valid);
    if (!valid) {
        throw Fail{"latency", "is not valid UTF-8"};
    }
    size_t nameLength = 0;
    if (!terminated(config.interface.name, nameLength)) {
        throw Fail{"interface.name", "is not terminated within its " +
                                         std::to_string(QEL_INTERFACE_NAME_SIZE) + " units"};
    }
    const char* audioInterface = JsonReader::audioInterfaceName(config.audio_interface);
    if (audioInterface == nullptr) {
        throw Fail{"audio_interface",
                   std::to_string(config.audio_interface) + " is neither ASIO (0) nor WDM (1)"};
    }
    if (config.want_to_run > 1) {
        throw Fail{"want_to_run", std::to_string(config.want_to_run) + " is neither 0 nor 1"};
    }
    // The name only labels the interface (its MAC identifies it), so a lone
    // surrogate in it is saved as U+FFFD rather than refusing the state.
    std::string name = utf16ToUtf8(std::u16string(config.interface.name, nameLength));
    json out = json::object();
    out["channels"] = config.channels;
    out["interface"] = {{"name", name}, {"mac", formatMac(config.interface.mac)}};
    out["sample_rate_hz"] = config.sample_rate_hz;
    out["sample_format"] = config.sample_format;
    out["latency"] = latency;
    out["want_to_run"] = config.want_to_run == 1;
    out["audio_interface"] = audioInterface;
    out["asio_latency_us"] = config.asio_latency_us;
    out["asio_buffer_size"] = config.asio_buffer_size;
    out["asio_encoding"] = config.asio_encoding;
    return out;
}

// Every field must be there: the file is written whole by saveStateFile,
// so a missing field means it was damaged or written by something else.
qel_config configFromJson(const json& value) {
    const std::string where = "config";
    JsonReader::requireObject(value, where);
    JsonReader::checkKeys(value, where,
                          {"channels", "interface", "sample_rate_hz", "sample_format", "latency",
                           "want_to_run", "audio_interface", "asio_latency_us", "asio_buffer_size",
                           "asio_encoding"});
    auto field = [&](const char* key) -> const json& {
        return JsonReader::member(value, where, key);
    };
    const std::string prefix = where + ".";
    qel_config config;
    std::memset(&config, 0, sizeof config); // padding too: compared byte for byte
    config.channels = JsonReader::u16(field("channels"), prefix + "channels", 0);

    const json& interface = field("interface");
    const std::string at = prefix + "interface";
    JsonReader::requireObject(interface, at);
    JsonReader::checkKeys(interface, at, {"name", "mac"});
    const json& name = JsonReader::member(interface, at, "name");
    // No interface chosen: an empty name is normal here.
    if (!(name.is_string() && name.get_ref<const std::string&>().empty())) {
        std::u16string wide = JsonReader::wideName(name, at + ".name", QEL_INTERFACE_NAME_SIZE);
        std::copy(wide.begin(), wide.end(), config.interface.name);
    }
    JsonReader::mac(JsonReader::member(interface, at, "mac"), at + ".mac", config.interface.mac,
                    true);

    config.sample_rate_hz = JsonReader::u32(field("sample_rate_hz"), prefix + "sample_rate_hz", 0);
    config.sample_format = JsonReader::u16(field("sample_format"), prefix + "sample_format", 0);
    std::string latency =
        JsonReader::narrowName(field("latency"), prefix + "latency", QEL_LATENCY_NAME_SIZE);
    std::memcpy(config.latency, latency.data(), latency.size());
    config.want_to_run = JsonReader::boolean(field("want_to_run"), prefix + "want_to_run") ? 1 : 0;
    config.audio_interface =
        JsonReader::audioInterface(field("audio_interface"), prefix + "audio_interface");
    config.asio_latency_us =
        JsonReader::u32(field("asio_latency_us"), prefix + "asio_latency_us", 0);
    config.asio_buffer_size =
        JsonReader::u32(field("asio_buffer_size"), prefix + "asio_buffer_size", 0);
    config.asio_encoding = JsonReader::u16(field("asio_encoding"), prefix + "asio_encoding", 0);
    return config;
}

// Creates `directory` and its missing parents with mode 0700.
bool makeDirectories(const std::string& directory, std::string& error) {
    struct stat info {};
    if (stat(directory.c_str(), &info) == 0) {
        if (!S_ISDIR(info.st_mode)) {
            error = directory + ": not a directory";
            return false;
        }
        return true;
    }
    size_t slash = directory.find_last_of('/');
    if (slash != std::string::npos && slash > 0 &&
        !makeDirectories(directory.substr(0, slash), error)) {
        return false;
    }
    if (mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) {
        error = directory + ": cannot create the directory: " + systemText(errno);
        return false;
    }
    return true;
}

bool writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            return false;
        }
        done += static_cast<size_t>(wrote);
    }
    return true;
}

} // namespace

StateLoad loadStateFile(const std::string& path, qel_config& out, std::string& problem) {
    std::string text;
    std::string reason;
    int errorNumber = 0;
    if (!qel_json::readSmallFile(path, STATE_FILE_MAX, text, reason, &errorNumber)) {
        if (errorNumber == ENOENT) {
            problem = path + ": no saved state (the file does not exist)";
            return StateLoad::Missing;
        }
        problem = path + ": " + reason;
        return StateLoad::Corrupt;
    }
    try {
        json root = qel_json::parseStrict(text);
        JsonReader::requireObject(root, "");
        JsonReader::checkKeys(root, "", {"version", "config"});
        const json& version = JsonReader::member(root, "", "version");
        if (version != STATE_VERSION) {
            throw Fail{"version", JsonReader::describeValue(version) +
                                      " is not a version this manager reads (" +
                                      std::to_string(STATE_VERSION) + ")"};
        }
        out = configFromJson(JsonReader::member(root, "", "config"));
    } catch (const Fail& failure) {
        problem = path + ": " + failure.describe();
        return StateLoad::Corrupt;
    }
    problem.clear();
    return StateLoad::Loaded;
}

bool saveStateFile(const std::string& path, const qel_config& config, std::string& error) {
    std::string text;
    try {
        json root = json::object();
        root["version"] = STATE_VERSION;
        root["config"] = configToJson(config);
        text = root.dump(2) + "\n";
    } catch (const Fail& failure) {
        error = path + ": cannot save the configuration: " + failure.describe();
        return false;
    }
    size_t slash = path.find_last_of('/');
    std::string directory = slash == std::string::npos ? "." : path.substr(0, slash);
    if (directory.empty()) {
        directory = "/";
    }
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    if (base.empty()) {
        error = path + ": not a file name";
        return false;
    }
    if (!makeDirectories(directory, error)) {
        return false;
    }

    std::string temporary = directory + "/." + base + ".XXXXXX";
    int fd = mkostemp(&temporary[0], O_CLOEXEC);
    if (fd < 0) {
        error =
            path + ": cannot create a temporary file in " + directory + ": " + systemText(errno);
        return false;
    }
    auto fail = [&](const std::string& what, int number) {
        error = path + ": " + what + ": " + systemText(number);
        ::unlink(temporary.c_str());
        return false;
    };
    if (!writeAll(fd, text)) {
        int saved = errno == 0 ? EIO : errno;
        ::close(fd);
        return fail("cannot write " + temporary, saved);
    }
    if (fsync(fd) != 0) {
        int saved = errno;
        ::close(fd);
        return fail("cannot flush " + temporary, saved);
    }
    if (::close(fd) != 0) {
        return fail("cannot close " + temporary, errno);
    }
    if (rename(temporary.c_str(), path.c_str()) != 0) {
        return fail("cannot replace the file", errno);
    }
    // The rename is durable once the directory is flushed. Some file systems
    // cannot flush a directory (EINVAL); the rename itself has happened there.
    int directoryFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directoryFd >= 0) {
        int result = fsync(directoryFd);
        int saved = errno;
        ::close(directoryFd);
        if (result != 0 && saved != EINVAL) {
            error = path + ": cannot flush the directory " + directory + ": " + systemText(saved);
            return false;
        }
    }
    error.clear();
    return true;
}

std::string defaultStatePath() {
    const char* stateHome = std::getenv("XDG_STATE_HOME");
    std::string base;
    if (stateHome != nullptr && stateHome[0] == '/') {
        base = stateHome;
    } else {
        const char* home = std::getenv("HOME");
        std::string homeDirectory = home != nullptr && home[0] == '/' ? home : "";
        if (homeDirectory.empty()) {
            passwd entry{};
            passwd* found = nullptr;
            char buffer[4096];
            if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 &&
                found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] == '/') {
                homeDirectory = found->pw_dir;
            }
        }
        // Without any home, a per-user directory under /tmp still keeps users apart.
        base = homeDirectory.empty() ? "/tmp/qelvane-state-" + std::to_string(getuid())
                                     : homeDirectory + "/.local/state";
    }
    while (!base.empty() && base.back() == '/') {
        base.pop_back();
    }
    return base + "/qelvane/manager-state.json";
}
