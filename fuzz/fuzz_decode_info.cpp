// The info decoder against any datagram; a decoded record re-encodes to the
// same record.
#include "fuzz_decode.h"

using namespace fuzz_decode;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tesk2_message msg;
    datagram(data, size, &msg);
    qel_info info;
    kes_result result = qel_info_decode(&msg, &info);
    require_text(info.suffix, QEL_INFO_SUFFIX_SIZE);
    if (result != KES_SUCCESS) {
        return 0;
    }
    tesk2_message again;
    empty_message(&again, TESK2_OPCODE_CONNECT);
    require(qel_info_encode(&info, &again) == KES_SUCCESS);
    qel_info back;
    require(qel_info_decode(&again, &back) == KES_SUCCESS);
    require(same(back, info));
    return 0;
}
