// The client of the ASIO family: its manager client talks to the manager at
// 127.0.0.1, port 8899.
#pragma once

#include "QelClient.h"

class QelAsioClient : public QelClient {
public:
    explicit QelAsioClient(QelFactory* factory);

    kes_result initManagerClient(kes_env* env, qel_client** client) override;
};
