// The options decoder against any datagram. A decoded record may not fit one
// datagram again (the input can share one item between many slots), so a
// re-encode may be KES_MSGSIZE; when it fits it must decode to the same
// record.
#include "fuzz_decode.h"

using namespace fuzz_decode;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tesk2_message msg;
    datagram(data, size, &msg);
    qel_options options;
    kes_result result = qel_options_decode(&msg, &options);
    require_list(options.channel_counts);
    require_list(options.interfaces);
    require_list(options.sample_rates);
    require_list(options.sample_formats);
    require_list(options.latencies);
    require_list(options.asio_latencies);
    require_list(options.asio_buffer_sizes);
    require_list(options.asio_encodings);
    for (const qel_interface& entry : options.interfaces.entries) {
        require_text(entry.name, QEL_INTERFACE_NAME_SIZE);
    }
    for (const qel_latency& entry : options.latencies.entries) {
        require_text(entry.name, QEL_LATENCY_NAME_SIZE);
    }
    if (result != KES_SUCCESS) {
        return 0;
    }
    tesk2_message again;
    empty_message(&again, QEL_EVENT_OPTIONS);
    result = qel_options_encode(&options, &again);
    require(result == KES_SUCCESS || result == KES_MSGSIZE);
    if (result == KES_SUCCESS) {
        qel_options back;
        require(qel_options_decode(&again, &back) == KES_SUCCESS);
        require(same(back, options));
    }
    return 0;
}
