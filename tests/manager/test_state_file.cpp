// The saved state: its file format, the atomic save, and loads of missing
// and damaged files.
#include "state_file.h"

#include "options_file.h"

#include "manager_test_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

qel_config sampleConfig() {
    qel_config config;
    std::memset(&config, 0, sizeof config);
    config.channels = 16;
    const std::u16string name = u"eth\u00e90";
    std::copy(name.begin(), name.end(), config.interface.name);
    const uint8_t mac[QEL_MAC_SIZE] = {0x00, 0x1b, 0x21, 0x3c, 0x4d, 0x5e};
    std::memcpy(config.interface.mac, mac, sizeof mac);
    config.sample_rate_hz = 96000;
    config.sample_format = 32;
    std::memcpy(config.latency, "Extra High", 11);
    config.want_to_run = 1;
    config.audio_interface = QEL_AUDIO_INTERFACE_ASIO;
    config.asio_latency_us = 20000;
    config.asio_buffer_size = 2048;
    config.asio_encoding = 16;
    return config;
}

const char* const sampleText = R"({
  "config": {
    "asio_buffer_size": 2048,
    "asio_encoding": 16,
    "asio_latency_us": 20000,
    "audio_interface": "ASIO",
    "channels": 16,
    "interface": {
      "mac": "00:1b:21:3c:4d:5e",
      "name": "eth\u00e90"
    },
    "latency": "Extra High",
    "sample_format": 32,
    "sample_rate_hz": 96000,
    "want_to_run": true
  },
  "version": 1
}
)";

bool sameConfig(const qel_config& a, const qel_config& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// A sentinel that a failed load must leave alone.
qel_config untouched() {
    qel_config config;
    std::memset(&config, 0x5A, sizeof config);
    return config;
}

TEST(ManagerStateFile, SavesEveryFieldAndLoadsItBack) {
    ManagerTestDir dir;
    const std::string path = dir.file("state.json");
    std::string error = "stale";
    ASSERT_TRUE(saveStateFile(path, sampleConfig(), error)) << error;
    EXPECT_EQ(error, "");
    std::string expected = sampleText;
    // The name is written as UTF-8.
    expected.replace(expected.find("\\u00e9"), 6, "\xC3\xA9");
    EXPECT_EQ(ManagerTestDir::read(path), expected);

    qel_config loaded = untouched();
    std::string problem = "stale";
    ASSERT_EQ(loadStateFile(path, loaded, problem), StateLoad::Loaded) << problem;
    EXPECT_EQ(problem, "");
    EXPECT_TRUE(sameConfig(loaded, sampleConfig()));
}

TEST(ManagerStateFile, NoInterfaceAndWdmRoundTrip) {
    ManagerTestDir dir;
    const std::string path = dir.file("state.json");
    qel_config config = defaultManagerOptions().defaultConfig;
    std::string error;
    ASSERT_TRUE(saveStateFile(path, config, error)) << error;
    const std::string text = ManagerTestDir::read(path);
    EXPECT_NE(text.find(R"("name": "")"), std::string::npos) << text;
    EXPECT_NE(text.find(R"("mac": "00:00:00:00:00:00")"), std::string::npos) << text;
    EXPECT_NE(text.find(R"("audio_interface": "WDM")"), std::string::npos) << text;
    qel_config loaded = untouched();
    std::string problem;
    ASSERT_EQ(loadStateFile(path, loaded, problem), StateLoad::Loaded) << problem;
    EXPECT_TRUE(sameConfig(loaded, config));
}

TEST(ManagerStateFile, SaveCreatesPrivateDirectoriesAndLeavesNoTemporaryFile) {
    ManagerTestDir dir;
    const std::string directory = dir.file("a/b");
    const std::string path = directory + "/state.json";
    std::string error;
    ASSERT_TRUE(saveStateFile(path, sampleConfig(), error)) << error;
    struct stat info {};
    ASSERT_EQ(stat(directory.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u);
    ASSERT_EQ(stat(dir.file("a").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u);
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);

    // A second save replaces the first.
    qel_config other = sampleConfig();
    other.channels = 2;
    ASSERT_TRUE(saveStateFile(path, other, error)) << error;
    size_t entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        EXPECT_EQ(entry.path().filename(), "state.json");
        entries++;
    }
    EXPECT_EQ(entries, 1u);
    qel_config loaded = untouched();
    std::string problem;
    ASSERT_EQ(loadStateFile(path, loaded, problem), StateLoad::Loaded) << problem;
    EXPECT_EQ(loaded.channels, 2);
}

TEST(ManagerStateFile, LoneSurrogateInTheNameIsSavedAsReplacement) {
    ManagerTestDir dir;
    qel_config config = sampleConfig();
    config.interface.name[1] = 0xDC00;
    std::string error;
    ASSERT_TRUE(saveStateFile(dir.file("s.json"), config, error)) << error;
    qel_config loaded = untouched();
    std::string problem;
    ASSERT_EQ(loadStateFile(dir.file("s.json"), loaded, problem), StateLoad::Loaded) << problem;
    EXPECT_EQ(std::u16string(loaded.interface.name), u"e\uFFFDh\u00e90");
}

TEST(ManagerStateFile, SaveRefusesWhatItCannotWriteAndKeepsTheOldFile) {
    ManagerTestDir dir;
    const std::string path = dir.file("state.json");
    std::string error;
    ASSERT_TRUE(saveStateFile(path, sampleConfig(), error)) << error;
    const std::string before = ManagerTestDir::read(path);

    struct Case {
        void (*spoil)(qel_config&);
        std::string error;
    };
    const Case cases[] = {
        {[](qel_config& c) { c.audio_interface = 2; },
         "audio_interface: 2 is neither ASIO (0) nor WDM (1)"},
        {[](qel_config& c) { c.want_to_run = 7; }, "want_to_run: 7 is neither 0 nor 1"},
        {[](qel_config& c) { std::memset(c.latency, 'x', sizeof c.latency); },
         "latency: is not terminated within its 32 bytes"},
        {[](qel_config& c) { c.latency[0] = '\xff'; }, "latency: is not valid UTF-8"},
        {[](qel_config& c) {
             std::fill(std::begin(c.interface.name), std::end(c.interface.name), u'n');
         },
         "interface.name: is not terminated within its 64 units"},
    };
    for (const Case& c : cases) {
        qel_config config = sampleConfig();
        c.spoil(config);
        EXPECT_FALSE(saveStateFile(path, config, error));
        EXPECT_EQ(error, path + ": cannot save the configuration: " + c.error);
    }
    EXPECT_EQ(ManagerTestDir::read(path), before);

    const std::string blocker = dir.write("file", "");
    EXPECT_FALSE(saveStateFile(blocker + "/state.json", sampleConfig(), error));
    EXPECT_EQ(error, blocker + ": not a directory");
}

TEST(ManagerStateFile, MissingFileIsMissing) {
    ManagerTestDir dir;
    const std::string path = dir.file("none.json");
    qel_config out = untouched();
    std::string problem;
    EXPECT_EQ(loadStateFile(path, out, problem), StateLoad::Missing);
    EXPECT_EQ(problem, path + ": no saved state (the file does not exist)");
    EXPECT_TRUE(sameConfig(out, untouched()));
}

struct Damage {
    const char* label;
    std::string text;
    std::string problem;
};

void PrintTo(const Damage& damage, std::ostream* out) {
    *out << damage.label;
}

// The sample file with `from` replaced by `to`.
std::string edited(const std::string& from, const std::string& to) {
    std::string text = sampleText;
    size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return text.replace(at, from.size(), to);
}

class ManagerStateDamage : public ::testing::TestWithParam<Damage> {};

TEST_P(ManagerStateDamage, IsCorruptWithTheReason) {
    ManagerTestDir dir;
    const std::string path = dir.write("state.json", GetParam().text);
    qel_config out = untouched();
    std::string problem;
    EXPECT_EQ(loadStateFile(path, out, problem), StateLoad::Corrupt);
    EXPECT_EQ(problem, path + ": " + GetParam().problem);
    EXPECT_TRUE(sameConfig(out, untouched()));
}

INSTANTIATE_TEST_SUITE_P(
    Files, ManagerStateDamage,
    ::testing::Values(
        Damage{"Empty", "",
               "not valid JSON at byte 1, line 1, column 1: syntax error while parsing value - "
               "unexpected end of input; expected '[', '{', or a literal"},
        Damage{"Truncated", std::string(sampleText).substr(0, 40),
               "not valid JSON at byte 41, line 3, column 25: syntax error while parsing value "
               "- unexpected end of input; expected '[', '{', or a literal"},
        Damage{"NotJson", "channels=8\n",
               "not valid JSON at byte 1, line 1, column 1: syntax error while parsing value - "
               "invalid literal; last read: 'c'"},
        Damage{"List", "[]", "must be an object, not an array"},
        Damage{"NoVersion", R"({"config": {}})", "\"version\" is missing"},
        Damage{"NewerVersion", edited(R"("version": 1)", R"("version": 2)"),
               "version: 2 is not a version this manager reads (1)"},
        Damage{"UnknownKey", edited(R"("version": 1)", R"("version": 1, "extra": 0)"),
               "extra: unknown key (known: version, config)"},
        Damage{"FieldMissing", edited(R"("channels": 16,)", ""), "config: \"channels\" is missing"},
        Damage{"WrongType", edited(R"("channels": 16)", R"("channels": "16")"),
               "config.channels: must be a whole number from 0 to 65535, not \"16\""},
        Damage{"OutOfRange", edited(R"("sample_format": 32)", R"("sample_format": 65536)"),
               "config.sample_format: 65536 is out of range (0 to 65535)"},
        Damage{"RunningNumber", edited(R"("want_to_run": true)", R"("want_to_run": 1)"),
               "config.want_to_run: must be true or false, not 1"},
        Damage{"AudioInterface", edited(R"("ASIO")", R"("MME")"),
               "config.audio_interface: must be \"ASIO\" or \"WDM\", not \"MME\""},
        Damage{"LatencyTooLong", edited(R"("Extra High")", "\"" + std::string(32, 'x') + "\""),
               "config.latency: is 32 bytes long, at most 31 are allowed"},
        Damage{"LatencyEmpty", edited(R"("Extra High")", R"("")"),
               "config.latency: must not be empty"},
        Damage{"NameTooLong", edited(R"("eth\u00e90")", "\"" + std::string(64, 'n') + "\""),
               "config.interface.name: is 64 UTF-16 units long, at most 63 are allowed"},
        Damage{"BadMac", edited(R"("00:1b:21:3c:4d:5e")", R"("00:1b:21")"),
               "config.interface.mac: \"00:1b:21\" is not a MAC address like "
               "00:1b:21:3c:4d:5e"}),
    [](const ::testing::TestParamInfo<Damage>& param) { return std::string(param.param.label); });

TEST(ManagerStateFile, UnreadablePathIsCorrupt) {
    ManagerTestDir dir;
    qel_config out = untouched();
    std::string problem;
    EXPECT_EQ(loadStateFile(dir.path(), out, problem), StateLoad::Corrupt);
    EXPECT_EQ(problem, dir.path() + ": cannot read: not a regular file");
    const std::string file = dir.write("file", "{}");
    EXPECT_EQ(loadStateFile(file + "/state.json", out, problem), StateLoad::Corrupt);
    EXPECT_EQ(problem, file + "/state.json: cannot read: Not a directory");
    EXPECT_TRUE(sameConfig(out, untouched()));
}

// Sets or clears an environment variable for one test and restores it.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name) {
        const char* old = std::getenv(name);
        m_had = old != nullptr;
        m_old = m_had ? old : "";
        if (value != nullptr) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (m_had) {
            setenv(m_name, m_old.c_str(), 1);
        } else {
            unsetenv(m_name);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* m_name;
    bool m_had;
    std::string m_old;
};

TEST(ManagerStateFile, DefaultPathFollowsTheStateHome) {
    ScopedEnv home("HOME", "/home/tester");
    {
        ScopedEnv state("XDG_STATE_HOME", "/var/state/");
        EXPECT_EQ(defaultStatePath(), "/var/state/qelvane/manager-state.json");
    }
    {
        ScopedEnv state("XDG_STATE_HOME", "relative/state");
        EXPECT_EQ(defaultStatePath(), "/home/tester/.local/state/qelvane/manager-state.json");
    }
    ScopedEnv state("XDG_STATE_HOME", nullptr);
    EXPECT_EQ(defaultStatePath(), "/home/tester/.local/state/qelvane/manager-state.json");
}

} // namespace
