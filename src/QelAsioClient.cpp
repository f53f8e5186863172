#include "QelAsioClient.h"

QelAsioClient::QelAsioClient(QelFactory* factory) : QelClient(factory) {}

kes_result QelAsioClient::initManagerClient(kes_env* env, qel_client** client) {
    return qel_client_new(env, client);
}
