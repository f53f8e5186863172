// The configuration decoder against any datagram. The structure's offset is
// taken from the header's seqnum field, which the decoder never reads, so
// the input chooses it without changing the body. A decoded configuration
// always re-encodes (it fits in far less than a datagram) to the same record.
#include "fuzz_decode.h"

using namespace fuzz_decode;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tesk2_message msg;
    datagram(data, size, &msg);
    qel_config config;
    kes_result result = qel_config_decode(&msg, tesk2_message_seqnum(&msg), &config);
    require_config(config);
    if (result != KES_SUCCESS) {
        return 0;
    }
    tesk2_message again;
    empty_message(&again, QEL_OPCODE_SET_CONFIG);
    require(qel_config_encode(&config, &again) == KES_SUCCESS);
    qel_config back;
    require(qel_config_decode(&again, 0, &back) == KES_SUCCESS);
    require(same(back, config));
    return 0;
}
