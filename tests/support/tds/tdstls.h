#pragma once

#include <QList>
#include <QString>
#include <cstddef>
#include <memory>

namespace vestrel::test {

// The server's encryption setting, as SQL Server's "Force Encryption": Off (the default of
// every SQL Server: it encrypts the login, and the whole session when the client asks), On
// (forced: the whole session), NotSupported (no certificate: nothing is encrypted).
enum class StandinEncryption { NotSupported, Off, On };

// Reads exactly `size` bytes from a socket; false when it closes or fails first.
bool ReadAll(int fd, char* buffer, std::size_t size);

// PRELOGIN ENCRYPTION option values.
enum : quint8 { kEncryptOff = 0x00, kEncryptOn = 0x01, kEncryptNotSup = 0x02, kEncryptReq = 0x03 };

// The server's answer to a client's ENCRYPTION value under `setting`, by the PRELOGIN table.
quint8 EncryptionAnswer(StandinEncryption setting, quint8 client);

// What one connection negotiated.
struct SeenTls {
    quint8 client = kEncryptNotSup; // ENCRYPTION the client's PRELOGIN offered
    quint8 answer = kEncryptNotSup; // what the server answered
    QString version;                // TLS version of the handshake ("TLS1.2"); empty when none
    bool loginEncrypted = false;    // the LOGIN7 arrived inside TLS
    bool sessionEncrypted = false;  // everything after the LOGIN7 travels inside TLS as well
};

// The login encryption of a TDS 7.x server, kept apart from the server's own messages: each
// client connection goes through a relay that answers the PRELOGIN's ENCRYPTION option, runs
// the TLS handshake carried in PRELOGIN (0x12) packets, decrypts the LOGIN7 (and, when the
// whole session is encrypted, everything after it) and hands plain TDS to the server's socket.
// The certificate is self-signed, made from a fresh ECDSA P-256 key when the layer starts.
class TdsTlsLayer {
public:
    explicit TdsTlsLayer(StandinEncryption setting);
    ~TdsTlsLayer(); // closes the client sockets still open and waits for their relays
    TdsTlsLayer(const TdsTlsLayer&) = delete;
    TdsTlsLayer& operator=(const TdsTlsLayer&) = delete;

    // Takes over the client's socket and returns the socket the server serves in plain TDS.
    // Returns -1 when no socket pair can be made or the layer is closing (the client socket is
    // then closed).
    int Wrap(int clientFd);
    QList<SeenTls> Sessions() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace vestrel::test
