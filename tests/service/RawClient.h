#pragma once

#include <QByteArray>
#include <QList>

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

namespace halvora::test {

// A client that writes bytes exactly as given, for requests no well-behaved library sends:
// plain or TLS (trusting the tests' CA), from a chosen loopback address.
class RawClient {
public:
    // Connects to 127.0.0.1:APort from ASource. With ATls the TLS handshake is made too, unless
    // AHandshake is false (a client that never sends its hello).
    RawClient(int APort, bool ATls, const char* ASource = "127.0.0.1", bool AHandshake = true);
    ~RawClient();
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool connected() const { return FOk; }
    // Writes all of AData within ATimeoutMs, keeping what arrives meanwhile in AReceived;
    // false when the peer stopped taking it.
    bool Send(const QByteArray& AData, QByteArray* AReceived = nullptr, int ATimeoutMs = 10000);
    // Reads until the peer closes (true) or ATimeoutMs passes (false); AOut gets what came.
    bool ReadToClose(QByteArray& AOut, int ATimeoutMs);
    // Reads until AOut holds ACount whole responses or the peer closes or time is up.
    void ReadResponses(QByteArray& AOut, int ACount, int ATimeoutMs);
    // True when the peer has closed the connection by now (what it sent before is dropped).
    bool PeerClosed();

private:
    int Read(char* ABuf, int ASize);         // >0 bytes, 0 closed, -1 nothing yet
    int Write(const char* AData, int ASize); // >0 bytes, 0 failed, -1 not now
    bool Wait(short AEvents, int AMs);

    int FFd = -1;
    SSL_CTX* FCtx = nullptr;
    SSL* FSsl = nullptr;
    bool FOk = false;
};

// The status codes of the whole HTTP responses in a byte stream, in order (bodies skipped by
// their Content-Length; a 100 Continue counts as a response).
QList<int> ResponseStatuses(const QByteArray& AStream);

} // namespace halvora::test
