#pragma once
// The package download client: one HTTPS GET of one file over a blocking socket, with
// ordinary TLS or the GM/T TLS variant. The download thread calls, in this order:
// connect, create, request, file size, reads until the announced size is in, close.
//
// The session (socket, TLS context, TLS connection and what was read past the reply's
// head) is process-wide: one download at a time, driven by one thread; only
// UI_SSL_Abort may come from another. Every failing step
// releases the whole session, so UI_SSL_Close afterwards finds nothing to release
// again; a new connect releases whatever an abandoned download left behind.
//
// The server's certificate is not verified and no server name is sent. Where this
// OpenSSL has no GM/T client method, a GM/T session fails in UI_SSL_Create, logged; it
// never falls back to ordinary TLS.

#include <cstdint>

// A read delivers at most this many bytes, and always writes this many into the
// caller's buffer (the data, then zeros); the caller's buffer holds at least
// UI_SSL_READ_BUFFER_SIZE bytes.
constexpr uint32_t UI_SSL_READ_SIZE = 4095;
constexpr uint32_t UI_SSL_READ_BUFFER_SIZE = 4096;

// The request head is built in a buffer of this size; its fixed lines take
// UI_HTTPS_REQUEST_FIXED_LEN bytes, which leaves UI_HTTPS_PATH_HOST_MAX for the path and
// the host together.
constexpr uint32_t UI_HTTPS_REQUEST_SIZE = 1024;
constexpr uint32_t UI_HTTPS_REQUEST_FIXED_LEN = 359;
constexpr uint32_t UI_HTTPS_PATH_HOST_MAX = UI_HTTPS_REQUEST_SIZE - 1 - UI_HTTPS_REQUEST_FIXED_LEN;

// The longest reply head the client reads (status line, header lines, empty line).
constexpr uint32_t UI_HTTPS_HEAD_MAX = 8192;

// Opens the download socket to a dotted IPv4 address (the caller resolves names) and
// port. 0, or 1 for an empty address, a port whose low 16 bits are 65535, or a socket
// or connect failure. Port 0 passes the check (and fails to connect).
uint32_t UI_SSL_HttpsConnect(const char* pcAddress, int32_t iPort);

// The low 16 bits of value in network byte order.
uint16_t UI_Htons(int32_t iValue);

// TLS on the download socket with the client handshake done: ordinary TLS for
// igmEnable 0, GM/T TLS otherwise. 0, or 1 (session released).
uint32_t UI_SSL_Create(uint32_t uiIgmEnable);

// Sends the GET request for path with the Host line host. 0, or 1 (session released)
// for an empty path or host, a path and host longer than UI_HTTPS_PATH_HOST_MAX
// together or holding control characters, or a failed write.
uint32_t UI_SSL_HttpsRequest(const char* pcPath, const char* pcHost);

// Reads the reply head: the announced body size (1 to INT32_MAX), or 0 (session
// released) when the read fails, the status is not 200, a content or transfer coding
// other than identity is applied, or no valid "Content-Length:" is given. Body bytes
// that arrive with the head are kept for UI_SSL_Read.
int32_t UI_SSL_GetFileSize();

// The next piece of the body into buffer: the count delivered (1 to UI_SSL_READ_SIZE),
// never more than the announced size still due. 0 when the peer closed the connection
// (nothing released), when the announced size is complete, or on a failure (logged,
// session released). Never negative.
int32_t UI_SSL_Read(char* pcBuffer);

// Ends the session: one TLS shutdown that does not wait for the peer, then the TLS
// connection, the context and the socket, each when present. Lifts an abort.
void UI_SSL_Close();

// Stops the download from another thread: the download socket, when there is one, is
// shut down in both directions, so that a connect, handshake, write or read blocked on
// it returns at once and fails; a connect begun afterwards fails too, until the
// downloading thread ends the session with UI_SSL_Close. The socket is shut down under
// the lock under which it is closed, so a descriptor already closed (and perhaps reused
// by another part of the program) is never touched.
void UI_SSL_Abort();
