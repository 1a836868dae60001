// socket.h - the socket layer of the unit client library.
//
// Every socket of the library is an IPv4 UDP socket with path-MTU discovery
// set to "do": the kernel never fragments an outgoing datagram, and a send
// larger than the path MTU fails with EMSGSIZE, which is how the library
// detects a payload size that does not fit the network.
//
// All functions are thread-safe: each acts only on the descriptor it is
// given. Failures are reported by one diagnostic line (Diagnostics.h;
// standard output for creation and binding, standard error for sending,
// receiving and closing) and by the return value; nothing throws and nothing
// retries.
#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>

namespace vxqir {

// Result of the sending and binding functions.
enum class SocketError : uint32_t {
    NoError = 0,
    GenericError = 1,
    FragmentationError = 2, // EMSGSIZE: larger than the path MTU
};

// Process-wide socket set-up and tear-down hooks; empty on Linux.
void socket_init();
void socket_cleanup();

// Opens an IPv4 UDP socket with the don't-fragment policy. Returns the
// descriptor, or -1 after printing why.
int socket_create();

// Sends len bytes of buf as one datagram to ip:port (host-order port).
SocketError socket_send(int sockfd, const void* buf, int len, int flags, const char* ip, int port);

// Same as socket_send with a prepared destination; the data path uses it so
// that no address is parsed per datagram.
SocketError socket_send_to(int sockfd, const void* buf, size_t len, int flags, const sockaddr_in& destination);

// Builds an IPv4 socket address from dotted-decimal text (inet_aton rules)
// and a host-order port. An unparsable text gives address 0.0.0.0.
sockaddr_in make_socket_address(const char* ip, int port);

// Receives one datagram of at most len bytes with the given flags (MSG_DONTWAIT
// makes it return at once when nothing is queued). On success writes the
// sender's dotted-decimal address into ip_buffer (at most ip_buffer_size
// bytes), stores and returns the byte count (0 for an empty datagram). On
// failure returns -1 and leaves receive_len and ip_buffer unchanged; "nothing
// queued" on a non-waiting receive is not printed as an error.
int socket_receive(int sockfd, void* buf, int len, int flags, int& receive_len, char* ip_buffer, size_t ip_buffer_size);

// Binds the socket to ip:port ("0.0.0.0" for every local address, port 0 for
// a port of the system's choice). Prints the raw bind result and, on failure,
// the reason.
SocketError bind_socket(int sockfd, const char* ip, int port);

// Closes the descriptor; a failure is printed.
void socket_close(int sockfd);

// True when the text is a dotted-decimal IPv4 address (inet_pton rules).
bool is_valid_ipv4(const char* ip);

// One reachability probe (ReachabilityProbe.cpp): runs
// `ping -c1 -s1 -W1 ADDRESS` found on PATH, its output discarded, and returns
// true when it exits with 0. Returns false without running anything when the
// text is not an IPv4 address; only the address re-rendered from its parsed
// form is passed, as one argument, and no shell is involved.
//
// The wait for ping lets signals through: a signal that ends the process
// ends it during the probe as at any other time, and a signal caught on the
// probing thread interrupts the wait: the probe then stops ping and returns
// false, so a caller that set a flag in its handler can give up at once.
// (The library's own listener thread blocks every signal, so a signal sent
// to a single-threaded program reaches the probing thread.) A program whose
// signals land on another thread calls InterruptReachabilityProbes
// (VXQIRProbe.h) from its handler to the same end.
bool is_available(const char* ip);

} // namespace vxqir
