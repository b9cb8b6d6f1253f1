#pragma once
// The part of a network link's state that does not depend on the platform, and the few steps each
// platform's file supplies for the shared code in net_link.cpp. Only the link's own files include
// this.
#include "core/link/net_link.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace qvoksb
{

struct NetShared {
    GuiHandOff *gui = nullptr;
    std::atomic<bool> stopping{false};
    // Set on the GUI thread when the link closes: a task still queued does nothing.
    std::atomic<bool> closed{false};
    // Bytes read are stamped with the count of discards so far under this lock, so that a
    // discard drops every byte read before it and none read after it.
    std::mutex readMutex;
    uint64_t generation = 0;
    // The bytes waiting to go, the only data the GUI thread hands to the network thread.
    std::mutex queueMutex;
    std::vector<uint8_t> queue;
};

struct NetError {
    NetFailure failure = NetFailure::None;
    int code = 0; // the system's error code, or the resolver's for Resolve
};

// What the network thread's wait found.
struct SocketEvent {
    bool stop = false; // the link is closing, or the wait itself failed (error set)
    bool readable = false;
    bool writable = false;
    int error = 0;
};

// Supplied by the platform's file.
// A session with its wake-up made; throws LinkError when that fails. Destroying the session
// closes its socket and wake-up: the network thread holds it as long as it runs.
std::shared_ptr<NetLink::Session> newNetSession();
NetShared &sharedPart(NetLink::Session &s);
// Resolves host and connects to the first of its addresses that accepts, each try within what is
// left of timeoutMs. NetFailure::None when connected, also when stopping cut it short (the caller
// looks at stopping).
NetError connectSocket(NetLink::Session &s, const std::string &host, int port, int timeoutMs);
// Waits until the socket is readable (or writable, with wantWrite), or the link is woken.
SocketEvent waitForSocket(NetLink::Session &s, bool wantWrite);
// > 0: bytes moved; 0: the peer closed (receive) ; -1: nothing now; -2: failed, error set.
long receiveSome(NetLink::Session &s, uint8_t *buffer, size_t size, int &error);
long sendSome(NetLink::Session &s, const uint8_t *bytes, size_t size, int &error);
void wakeNetThread(NetLink::Session &s);
// A socket error of the connection's life as a failure: refused, timed out, unreachable or lost.
NetFailure failureOfSocketError(int error, bool connecting);
// The system's reason for a socket error and for a resolver error, in Russian.
std::string socketErrorText(int error);
std::string resolveErrorText(int error);

} // namespace qvoksb
