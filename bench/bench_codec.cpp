// The manager codec on the paths that run per message: encoding the
// configuration of a SET CONFIG request, decoding a state (every state event
// and request answer) and decoding an options event with every list full.
// Each beside its baseline: copying the same message whole, the least any
// handling of it costs.
#include "kes_text.h"
#include "qel_codec.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void fresh(tesk2_message* msg, uint16_t opcode) {
    std::memset(msg, 0, sizeof *msg);
    tesk2_message_init(msg);
    tesk2_message_set_header(msg, QEL_MANAGER_PROTOCOL, opcode);
}

void copy_wide(char16_t* destination, const char16_t* text) {
    std::u16string(text).copy(destination, QEL_INTERFACE_NAME_SIZE - 1);
}

qel_config typical_config() {
    qel_config c;
    std::memset(&c, 0, sizeof c);
    c.channels = 64;
    copy_wide(c.interface.name, u"Ethernet 2");
    const uint8_t mac[] = {0x00, 0x1D, 0xC1, 0x0A, 0x0B, 0x0C};
    std::memcpy(c.interface.mac, mac, sizeof mac);
    c.sample_rate_hz = 48000;
    c.sample_format = 24;
    std::memcpy(c.latency, "1 ms", 4);
    c.want_to_run = 1;
    c.audio_interface = QEL_AUDIO_INTERFACE_WDM;
    c.asio_buffer_size = 256;
    c.asio_encoding = 32;
    c.asio_latency_us = 5333;
    return c;
}

// Sixteen entries in every list, named as interfaces and latencies usually
// are; the names are as long as a full list allows inside one datagram.
qel_options full_options() {
    qel_options o;
    std::memset(&o, 0, sizeof o);
    for (uint16_t i = 0; i < QEL_OPTIONS_LIST_MAX; ++i) {
        o.channel_counts.entries[i] = static_cast<uint16_t>(2 * (i + 1));
        qel_interface& iface = o.interfaces.entries[i];
        char name[8];
        kes_snprintf(name, sizeof name, "eth%u", static_cast<unsigned>(i));
        for (size_t k = 0; name[k] != '\0'; ++k) {
            iface.name[k] = static_cast<char16_t>(name[k]);
        }
        iface.mac[5] = static_cast<uint8_t>(i);
        o.sample_rates.entries[i] = {44100u * (i + 1), static_cast<uint16_t>(128 >> (i % 4))};
        o.sample_formats.entries[i] = static_cast<uint16_t>(16 + 8 * (i % 3));
        qel_latency& latency = o.latencies.entries[i];
        kes_snprintf(latency.name, sizeof latency.name, "%u ms", static_cast<unsigned>(i + 1));
        latency.latency_us = 1000u * (i + 1);
        o.asio_latencies.entries[i] = 1333u * (i + 1);
        o.asio_buffer_sizes.entries[i] = 32u << (i % 6);
        o.asio_encodings.entries[i] = static_cast<uint16_t>(16 + 8 * (i % 3));
    }
    o.channel_counts.count = o.interfaces.count = o.sample_rates.count = o.sample_formats.count =
        o.latencies.count = o.asio_latencies.count = o.asio_buffer_sizes.count =
            o.asio_encodings.count = QEL_OPTIONS_LIST_MAX;
    return o;
}

void check(kes_result result, const char* what) {
    if (result != KES_SUCCESS) {
        std::fprintf(stderr, "%s failed: %d\n", what, static_cast<int>(result));
        std::abort();
    }
}

// Copies the whole message, as a receive into another buffer does.
void copyMessage(benchmark::State& bench, const tesk2_message& msg) {
    const size_t length = tesk2_message_length(&msg);
    tesk2_message copy;
    fresh(&copy, 0);
    for (auto _ : bench) {
        std::memcpy(tesk2_message_data(&copy), tesk2_message_data(&msg), length);
        benchmark::ClobberMemory();
    }
    bench.counters["body_bytes"] = tesk2_message_body_size(&msg);
}

tesk2_message configMessage() {
    const qel_config config = typical_config();
    tesk2_message msg;
    fresh(&msg, QEL_OPCODE_SET_CONFIG);
    check(qel_config_encode(&config, &msg), "config encode");
    return msg;
}

tesk2_message stateMessage() {
    qel_state state;
    std::memset(&state, 0, sizeof state);
    state.config = typical_config();
    state.link_up = 1;
    state.link_speed = 1000;
    const uint8_t ip[] = {192, 168, 1, 20};
    std::memcpy(state.ip_address, ip, sizeof ip);
    std::memcpy(state.device_name, "Qelvane Virtual Card", 20);
    copy_wide(state.dll_process_name, u"studio.exe");
    tesk2_message msg;
    fresh(&msg, QEL_EVENT_STATE);
    check(qel_state_encode(&state, &msg), "state encode");
    return msg;
}

tesk2_message optionsMessage() {
    const qel_options options = full_options();
    tesk2_message msg;
    fresh(&msg, QEL_EVENT_OPTIONS);
    check(qel_options_encode(&options, &msg), "options encode");
    return msg;
}

void BM_ConfigEncode(benchmark::State& bench) {
    const qel_config config = typical_config();
    tesk2_message msg;
    fresh(&msg, QEL_OPCODE_SET_CONFIG);
    for (auto _ : bench) {
        tesk2_message_set_header(&msg, QEL_MANAGER_PROTOCOL, QEL_OPCODE_SET_CONFIG);
        benchmark::DoNotOptimize(qel_config_encode(&config, &msg));
        benchmark::ClobberMemory();
    }
    bench.counters["body_bytes"] = tesk2_message_body_size(&msg);
}
BENCHMARK(BM_ConfigEncode);

void BM_StateDecode(benchmark::State& bench) {
    const tesk2_message msg = stateMessage();
    qel_state decoded;
    for (auto _ : bench) {
        benchmark::DoNotOptimize(qel_state_decode(&msg, &decoded));
        benchmark::ClobberMemory();
    }
    bench.counters["body_bytes"] = tesk2_message_body_size(&msg);
}
BENCHMARK(BM_StateDecode);

void BM_OptionsDecodeFull(benchmark::State& bench) {
    const tesk2_message msg = optionsMessage();
    qel_options decoded;
    for (auto _ : bench) {
        benchmark::DoNotOptimize(qel_options_decode(&msg, &decoded));
        benchmark::ClobberMemory();
    }
    bench.counters["body_bytes"] = tesk2_message_body_size(&msg);
}
BENCHMARK(BM_OptionsDecodeFull);

void BM_ConfigCopy(benchmark::State& bench) {
    copyMessage(bench, configMessage());
}
BENCHMARK(BM_ConfigCopy);

void BM_StateCopy(benchmark::State& bench) {
    copyMessage(bench, stateMessage());
}
BENCHMARK(BM_StateCopy);

void BM_OptionsCopy(benchmark::State& bench) {
    copyMessage(bench, optionsMessage());
}
BENCHMARK(BM_OptionsCopy);

// `--repeat OPERATION N`: runs one operation N times and nothing else, for an
// instruction counter (callgrind) to count: the difference between N and 0
// runs, divided by N, is the operation's count, whatever else the machine
// does. OPERATION is config-encode, state-decode or options-decode.
int repeat(const std::string& operation, long count) {
    const tesk2_message state = stateMessage();
    const tesk2_message options = optionsMessage();
    const qel_config config = typical_config();
    tesk2_message scratch;
    fresh(&scratch, QEL_OPCODE_SET_CONFIG);
    qel_state decodedState;
    qel_options decodedOptions;
    for (long i = 0; i < count; ++i) {
        if (operation == "config-encode") {
            tesk2_message_set_header(&scratch, QEL_MANAGER_PROTOCOL, QEL_OPCODE_SET_CONFIG);
            benchmark::DoNotOptimize(qel_config_encode(&config, &scratch));
        } else if (operation == "state-decode") {
            benchmark::DoNotOptimize(qel_state_decode(&state, &decodedState));
        } else if (operation == "options-decode") {
            benchmark::DoNotOptimize(qel_options_decode(&options, &decodedOptions));
        } else {
            std::fprintf(stderr, "bench_codec: unknown operation %s\n", operation.c_str());
            return 2;
        }
        benchmark::ClobberMemory();
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--repeat") {
        return repeat(argv[2], std::strtol(argv[3], nullptr, 10));
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
