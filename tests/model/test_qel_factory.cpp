// The factory and the state object: which family of objects the factory
// makes, that new objects start empty, that they are deleted through their
// base classes, that a failed allocation gives null without leaking what was
// already made, and how the state fills its configuration and device name.
#include "QelAsioConfig.h"
#include "QelAsioOptions.h"
#include "QelFactory.h"
#include "QelInfo.h"
#include "QelState.h"

#include "record_builders.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>

namespace {
// Counts the non-throwing allocations down; the one that takes the count to
// zero fails. Off while negative.
int g_nothrowFailCountdown = -1;
} // namespace

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (g_nothrowFailCountdown > 0 && --g_nothrowFailCountdown == 0) {
        g_nothrowFailCountdown = -1;
        return nullptr;
    }
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}

namespace {

static_assert(std::is_abstract_v<QelFactory>, "only a concrete factory can be made");

// Test factories: the client object and the panel belong to the windows'
// layer, so these make none; the ASIO one makes the ASIO options and
// configuration objects as the application's factory does.
class PlainFactory : public QelFactory {
public:
    QelClient* createClient() override { return nullptr; }
    QelPanel* createPanel(wxWindow*, QelImageManager*) override { return nullptr; }
};

class AsioFactory : public PlainFactory {
public:
    QelOptions* createOptions() override { return new (std::nothrow) QelAsioOptions(); }
    QelConfig* createConfig() override { return new (std::nothrow) QelAsioConfig(); }
};

// Fails the n-th non-throwing allocation made while it lives.
struct FailNthAllocation {
    explicit FailNthAllocation(int n) { g_nothrowFailCountdown = n; }
    ~FailNthAllocation() { g_nothrowFailCountdown = -1; }
};

// Whether a create operation gives null when its first allocation fails.
template <typename Create> bool nullWhenOutOfMemory(Create create) {
    FailNthAllocation fail(1);
    auto* object = create();
    const bool isNull = object == nullptr;
    delete object;
    return isNull;
}

// A configuration object that counts its living instances.
int g_liveConfigs = 0;
class CountedConfig : public QelAsioConfig {
public:
    CountedConfig() { ++g_liveConfigs; }
    ~CountedConfig() override { --g_liveConfigs; }
};

class CountingFactory : public AsioFactory {
public:
    QelConfig* createConfig() override { return new (std::nothrow) CountedConfig(); }
};

TEST(Factory, MakesItsFamilyStartingEmpty) {
    PlainFactory plain;
    AsioFactory asio;
    for (QelFactory* factory :
         {static_cast<QelFactory*>(&plain), static_cast<QelFactory*>(&asio)}) {
        const bool isAsio = factory == &asio;
        std::unique_ptr<QelInfo> info(factory->createInfo());
        std::unique_ptr<QelOptions> options(factory->createOptions());
        std::unique_ptr<QelConfig> config(factory->createConfig());
        std::unique_ptr<QelState> state(factory->createState());
        ASSERT_TRUE(info && options && config && state && state->getConfig());
        EXPECT_EQ(dynamic_cast<QelAsioOptions*>(options.get()) != nullptr, isAsio);
        EXPECT_EQ(dynamic_cast<QelAsioConfig*>(config.get()) != nullptr, isAsio);
        EXPECT_EQ(dynamic_cast<const QelAsioConfig*>(state->getConfig()) != nullptr, isAsio);
        EXPECT_TRUE(info->getRecord() == nullptr && info->getVersion().empty());
        EXPECT_TRUE(options->getRecord() == nullptr && options->getChannelCounts().IsEmpty());
        EXPECT_TRUE(config->m_channels.empty() && !config->m_wantToRun);
        EXPECT_TRUE(state->getRecord() == nullptr && state->getDeviceName().empty());
        EXPECT_EQ(factory->createClient(), nullptr);
        EXPECT_EQ(factory->createPanel(nullptr, nullptr), nullptr);
    }
}

TEST(Factory, ObjectsAreDeletedThroughTheirBaseClasses) {
    const qel_options record = qeltest::sampleOptions();
    const qel_state stateRecord = qeltest::sampleState();
    std::unique_ptr<QelFactory> factory = std::make_unique<CountingFactory>();
    {
        std::unique_ptr<QelOptions> options(factory->createOptions());
        std::unique_ptr<QelConfig> config(factory->createConfig());
        std::unique_ptr<QelState> state(factory->createState());
        ASSERT_TRUE(options && config && state);
        options->update(&record);
        config->update(&record, &stateRecord.config);
        state->update(&record, &stateRecord);
        EXPECT_EQ(g_liveConfigs, 2);
    }
    EXPECT_EQ(g_liveConfigs, 0);
}

TEST(FactoryOutOfMemory, EveryCreateGivesNull) {
    PlainFactory plain;
    AsioFactory asio;
    for (QelFactory* factory :
         {static_cast<QelFactory*>(&plain), static_cast<QelFactory*>(&asio)}) {
        EXPECT_TRUE(nullWhenOutOfMemory([&] { return factory->createInfo(); }));
        EXPECT_TRUE(nullWhenOutOfMemory([&] { return factory->createOptions(); }));
        EXPECT_TRUE(nullWhenOutOfMemory([&] { return factory->createConfig(); }));
        EXPECT_TRUE(nullWhenOutOfMemory([&] { return factory->createState(); }));
    }
}

TEST(FactoryOutOfMemory, StateFailureFreesItsConfiguration) {
    CountingFactory factory;
    {
        FailNthAllocation fail(2); // the configuration object, then the state
        EXPECT_EQ(factory.createState(), nullptr);
    }
    EXPECT_EQ(g_liveConfigs, 0);
    std::unique_ptr<QelState> state(factory.createState());
    EXPECT_NE(state, nullptr);
    EXPECT_EQ(g_liveConfigs, 1);
}

TEST(State, FillsItsConfigurationAndDeviceName) {
    const qel_options options = qeltest::sampleOptions();
    qel_state record = qeltest::sampleState();
    AsioFactory factory;
    std::unique_ptr<QelState> state(factory.createState());
    ASSERT_NE(state, nullptr);
    const auto* config = dynamic_cast<const QelAsioConfig*>(state->getConfig());
    ASSERT_NE(config, nullptr);

    state->update(&options, &record);
    EXPECT_EQ(state->getRecord(), &record);
    EXPECT_EQ(state->getDeviceName(), wxString(L"Qelvane"));
    EXPECT_EQ(config->m_sampleRate, wxString(L"48000 Hz"));
    EXPECT_EQ(config->m_latency, wxString(L"2 ms"));
    EXPECT_EQ(config->m_audioInterface, wxString(L"WDM"));

    std::memcpy(record.device_name, "Qel \xE9\xFF\x7F", 8); // each byte one character
    state->update(nullptr, &record);
    EXPECT_EQ(state->getDeviceName().ToStdWstring(), L"Qel \u00e9\u00ff\u007f");
    EXPECT_TRUE(config->m_sampleRate.empty()); // no options: no plain texts

    std::memset(record.device_name, 'd', sizeof record.device_name); // unterminated
    state->update(&options, &record);
    EXPECT_EQ(state->getDeviceName(), wxString(QEL_DEVICE_NAME_SIZE, L'd'));

    state->update(&options, nullptr);
    EXPECT_EQ(state->getRecord(), nullptr);
    EXPECT_TRUE(state->getDeviceName().empty());
    EXPECT_TRUE(config->m_channels.empty());
    EXPECT_TRUE(config->m_audioInterface.empty());
}

TEST(State, WithoutAConfigurationObjectStillTakesTheDeviceName) {
    const qel_options options = qeltest::sampleOptions();
    const qel_state record = qeltest::sampleState();
    QelState state(nullptr);
    state.update(&options, &record);
    EXPECT_EQ(state.getConfig(), nullptr);
    EXPECT_EQ(state.getDeviceName(), wxString(L"Qelvane"));
    state.update(&options, nullptr);
    EXPECT_TRUE(state.getDeviceName().empty());
}

} // namespace
