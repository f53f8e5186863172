// qelctl's waits on Windows: the waker is a non-blocking loopback datagram
// socket connected to itself (select() waits on sockets only), a wait is one
// select() of both sockets, and the stop requests are the console's control
// events, which Windows delivers on a thread of their own.
#include "qelctl_session.h"

#include <windows.h>
#include <winsock2.h>

#include <csignal>

namespace qelctl {
namespace {

Waker* volatile g_signalled = nullptr;

BOOL WINAPI onControl(DWORD event) {
    Waker* waker = g_signalled;
    if (waker == nullptr) {
        return FALSE; // the default: the process ends
    }
    waker->stop(event == CTRL_C_EVENT ? SIGINT : SIGTERM);
    return TRUE;
}

SOCKET asSocket(kes_socket sock) {
    return static_cast<SOCKET>(sock);
}

} // namespace

// The waker's socket needs Winsock before the runtime environment starts
// it; each waker holds a start of its own.
Waker::Waker() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        return;
    }
    SOCKET sock =
        WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    u_long nonBlocking = 1;
    if (sock == INVALID_SOCKET ||
        bind(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(sock, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        connect(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ioctlsocket(sock, FIONBIO, &nonBlocking) != 0) {
        if (sock != INVALID_SOCKET) {
            closesocket(sock);
        }
        WSACleanup();
        return;
    }
    m_read = sock;
    m_write = sock;
}

Waker::~Waker() {
    if (m_read != KES_INVALID_SOCKET) {
        closesocket(asSocket(m_read));
        WSACleanup();
    }
}

void Waker::stop(int signal) {
    m_stop = signal;
    const char byte = 1;
    if (m_write != KES_INVALID_SOCKET) {
        // A full buffer already wakes the wait.
        send(asSocket(m_write), &byte, 1, 0);
    }
}

void Waker::tick() {
    const char byte = 0;
    if (m_write != KES_INVALID_SOCKET) {
        send(asSocket(m_write), &byte, 1, 0);
    }
}

int Waker::drain() {
    char bytes[64];
    while (m_read != KES_INVALID_SOCKET && recv(asSocket(m_read), bytes, sizeof bytes, 0) >= 0) {
    }
    return m_stop;
}

// The socket's exception set is watched too: a pending port-unreachable
// error may show only there (see the runtime's readable-wait).
bool waitSocketOrWaker(kes_socket sock, const Waker* waker, int milliseconds) {
    fd_set readable;
    fd_set failed;
    FD_ZERO(&readable);
    FD_ZERO(&failed);
    FD_SET(asSocket(sock), &readable);
    FD_SET(asSocket(sock), &failed);
    const bool watched = waker != nullptr && waker->valid();
    if (watched) {
        FD_SET(asSocket(waker->fd()), &readable);
    }
    timeval timeout{milliseconds / 1000, (milliseconds % 1000) * 1000};
    const int ready = select(0, &readable, nullptr, &failed, &timeout);
    return ready > 0 && watched && FD_ISSET(asSocket(waker->fd()), &readable);
}

void stopOnSignals(Waker* waker) {
    g_signalled = waker;
    SetConsoleCtrlHandler(&onControl, waker != nullptr ? TRUE : FALSE);
}

} // namespace qelctl
