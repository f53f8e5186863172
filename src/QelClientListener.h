// Something that wants to hear about the client's changes: the connection,
// the info, options and state objects, and completed requests. Listeners are
// never owned by the client; each removes itself when it goes.
#pragma once

class QelClientListener {
public:
    virtual ~QelClientListener() = default;

    // `code` is a QelClientEvent: 0 request done, 1 connection, 2 info,
    // 3 options, 4 state. Called on the GUI thread, in registration order.
    virtual void onClientEvent(int code) = 0;
};
