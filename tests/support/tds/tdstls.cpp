#include "support/tds/tdstls.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <functional>
#include <gnutls/crypto.h>
#include <gnutls/gnutls.h>
#include <gnutls/x509.h>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vestrel::test {

bool ReadAll(int fd, char* buffer, size_t size) {
    while (size > 0) {
        const ssize_t n = recv(fd, buffer, size, 0);
        if (n <= 0)
            return false;
        buffer += n;
        size -= size_t(n);
    }
    return true;
}

namespace {

enum : quint8 { kReply = 0x04, kLogin7 = 0x10, kPrelogin = 0x12 };
constexpr int kPacketSize = 4096;

bool SendAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

// One TDS packet: its 8-byte header and payload.
bool ReadPacket(int fd, quint8* type, bool* last, QByteArray* payload) {
    char header[8];
    if (!ReadAll(fd, header, 8))
        return false;
    const int length = (quint8(header[2]) << 8) | quint8(header[3]);
    if (length < 8)
        return false;
    payload->resize(length - 8);
    if (!ReadAll(fd, payload->data(), size_t(payload->size())))
        return false;
    *type = quint8(header[0]);
    *last = header[1] & 0x01;
    return true;
}

// One message, reassembled from its packets.
bool ReadMessage(int fd, quint8* type, QByteArray* payload) {
    payload->clear();
    QByteArray part;
    bool last = false;
    do {
        if (!ReadPacket(fd, type, &last, &part))
            return false;
        *payload += part;
    } while (!last);
    return true;
}

QByteArray Packets(quint8 type, const QByteArray& payload) {
    QByteArray out;
    qsizetype offset = 0;
    quint8 id = 1;
    do {
        const qsizetype chunk = std::min<qsizetype>(kPacketSize - 8, payload.size() - offset);
        out.append(char(type));
        out.append(char(offset + chunk == payload.size() ? 0x01 : 0x00));
        out.append(char((chunk + 8) >> 8));
        out.append(char((chunk + 8) & 0xff));
        out.append("\x00\x00", 2);
        out.append(char(id++));
        out.append('\x00');
        out.append(payload.constData() + offset, chunk);
        offset += chunk;
    } while (offset < payload.size());
    return out;
}

// Offset of the ENCRYPTION option's byte in a PRELOGIN structure, -1 when it has none.
int EncryptionOffset(const QByteArray& p) {
    for (int at = 0; at + 5 <= p.size() && quint8(p[at]) != 0xFF; at += 5) {
        const int offset = (quint8(p[at + 1]) << 8) | quint8(p[at + 2]);
        const int length = (quint8(p[at + 3]) << 8) | quint8(p[at + 4]);
        if (quint8(p[at]) == 0x01)
            return length >= 1 && offset < p.size() ? offset : -1;
    }
    return -1;
}

bool Ok(int gnutlsResult) {
    return gnutlsResult >= 0;
}

} // namespace

quint8 EncryptionAnswer(StandinEncryption setting, quint8 client) {
    switch (setting) {
    case StandinEncryption::NotSupported:
        return kEncryptNotSup;
    case StandinEncryption::Off:
        if (client == kEncryptOn || client == kEncryptReq)
            return kEncryptOn;
        return client == kEncryptOff ? kEncryptOff : kEncryptNotSup;
    case StandinEncryption::On:
        return client == kEncryptOn || client == kEncryptReq ? kEncryptOn : kEncryptReq;
    }
    return kEncryptNotSup;
}

struct TdsTlsLayer::State {
    StandinEncryption setting;
    gnutls_x509_privkey_t key = nullptr;
    gnutls_x509_crt_t certificate = nullptr;
    gnutls_certificate_credentials_t credentials = nullptr;

    mutable std::mutex mutex;
    bool stopping = false;
    std::vector<std::thread> relays;
    std::vector<int> openFds; // client and server ends of relays still running
    QList<SeenTls> sessions;

    void Update(qsizetype index, const std::function<void(SeenTls&)>& change) {
        std::lock_guard lock(mutex);
        change(sessions[index]);
    }

    void Relay(int client, int server);
};

namespace {

// One client connection: the TLS session's transport and what it has not yet passed on.
struct Connection {
    int client = -1;
    gnutls_session_t session = nullptr;
    bool handshaking = true; // TLS records travel as the payload of PRELOGIN packets
    QByteArray in;           // TLS bytes read from the client, not yet taken by GnuTLS
    QByteArray out;          // handshake bytes to send in the next PRELOGIN message

    bool Flush() {
        if (out.isEmpty())
            return true;
        const QByteArray packets = Packets(kPrelogin, out);
        out.clear();
        return SendAll(client, packets.constData(), size_t(packets.size()));
    }

    static ssize_t Push(gnutls_transport_ptr_t self, const void* data, size_t size) {
        auto* c = static_cast<Connection*>(self);
        if (c->handshaking) {
            c->out.append(static_cast<const char*>(data), qsizetype(size));
            return ssize_t(size);
        }
        if (SendAll(c->client, static_cast<const char*>(data), size))
            return ssize_t(size);
        errno = EPIPE;
        return -1;
    }

    // During the handshake a whole PRELOGIN packet's payload at a time; after it one TLS
    // record at a time, so nothing the client sends in plain TDS after an encrypted login is
    // taken for TLS.
    static ssize_t Pull(gnutls_transport_ptr_t self, void* data, size_t size) {
        auto* c = static_cast<Connection*>(self);
        if (!c->Flush()) {
            errno = EPIPE;
            return -1;
        }
        while (c->in.isEmpty()) {
            if (c->handshaking) {
                quint8 type = 0;
                bool last = false;
                if (!ReadPacket(c->client, &type, &last, &c->in))
                    return 0;
                if (type != kPrelogin) {
                    errno = EPROTO;
                    return -1;
                }
            } else {
                char header[5];
                if (!ReadAll(c->client, header, 5))
                    return 0;
                const int length = (quint8(header[3]) << 8) | quint8(header[4]);
                c->in = QByteArray(header, 5) + QByteArray(length, Qt::Uninitialized);
                if (!ReadAll(c->client, c->in.data() + 5, size_t(length)))
                    return 0;
            }
        }
        const size_t n = std::min(size, size_t(c->in.size()));
        std::memcpy(data, c->in.constData(), n);
        c->in.remove(0, qsizetype(n));
        return ssize_t(n);
    }

    // Reads one whole TDS message from inside TLS, packet headers included.
    bool ReadTlsMessage(QByteArray* message) {
        message->clear();
        char buffer[16384];
        qsizetype at = 0;
        for (;;) {
            while (message->size() - at >= 8) {
                const int length = (quint8((*message)[at + 2]) << 8) | quint8((*message)[at + 3]);
                if (length < 8)
                    return false;
                if (message->size() - at < length)
                    break;
                const bool last = (*message)[at + 1] & 0x01;
                at += length;
                if (last)
                    return at == message->size();
            }
            const ssize_t n = gnutls_record_recv(session, buffer, sizeof buffer);
            if (n == GNUTLS_E_AGAIN || n == GNUTLS_E_INTERRUPTED)
                continue;
            if (n <= 0)
                return false;
            message->append(buffer, qsizetype(n));
        }
    }
};

} // namespace

void TdsTlsLayer::State::Relay(int client, int server) {
    Connection c;
    c.client = client;
    qsizetype index = -1;
    bool encrypted = false; // after the login: TLS between client and relay
    const auto run = [&]() -> bool {
        quint8 type = 0;
        QByteArray prelogin;
        if (!ReadMessage(client, &type, &prelogin))
            return false;
        const QByteArray forward = Packets(type, prelogin);
        if (!SendAll(server, forward.constData(), size_t(forward.size())))
            return false;
        if (type != kPrelogin)
            return true; // not a TDS 7 client: nothing to negotiate
        QByteArray reply;
        if (!ReadMessage(server, &type, &reply))
            return false;
        SeenTls seen;
        const int asked = EncryptionOffset(prelogin);
        seen.client = asked >= 0 ? quint8(prelogin[asked]) : quint8(kEncryptNotSup);
        seen.answer = EncryptionAnswer(setting, seen.client);
        const int answered = EncryptionOffset(reply);
        if (answered >= 0)
            reply[answered] = char(seen.answer);
        {
            std::lock_guard lock(mutex);
            index = sessions.size();
            sessions << seen;
        }
        const QByteArray answer = Packets(type, reply);
        if (!SendAll(client, answer.constData(), size_t(answer.size())))
            return false;
        if (seen.answer == kEncryptNotSup)
            return true;
        if (seen.answer == kEncryptReq && seen.client == kEncryptNotSup)
            return false; // the server requires encryption the client cannot do
        const bool whole = seen.answer != kEncryptOff;

        if (!Ok(gnutls_init(&c.session, GNUTLS_SERVER)) ||
            !Ok(gnutls_priority_set_direct(c.session, "NORMAL:-VERS-TLS1.3", nullptr)) ||
            !Ok(gnutls_credentials_set(c.session, GNUTLS_CRD_CERTIFICATE, credentials)))
            return false;
        gnutls_certificate_server_set_request(c.session, GNUTLS_CERT_IGNORE);
        gnutls_transport_set_ptr(c.session, &c);
        gnutls_transport_set_push_function(c.session, &Connection::Push);
        gnutls_transport_set_pull_function(c.session, &Connection::Pull);
        int result = 0;
        do
            result = gnutls_handshake(c.session);
        while (result < 0 && gnutls_error_is_fatal(result) == 0);
        if (result < 0 || !c.Flush())
            return false;
        c.handshaking = false;
        const QString version =
            QString::fromLatin1(gnutls_protocol_get_name(gnutls_protocol_get_version(c.session)));
        Update(index, [&](SeenTls& s) { s.version = version; });

        QByteArray login;
        if (!c.ReadTlsMessage(&login) || !SendAll(server, login.constData(), size_t(login.size())))
            return false;
        Update(index, [&](SeenTls& s) {
            s.loginEncrypted = quint8(login[0]) == kLogin7;
            s.sessionEncrypted = whole;
        });
        encrypted = whole;
        if (!whole) { // the TLS session ends here, without a closure alert
            gnutls_deinit(c.session);
            c.session = nullptr;
        }
        return true;
    };

    if (run()) {
        char buffer[16384];
        for (;;) {
            pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
            if (!(encrypted && gnutls_record_check_pending(c.session) > 0) &&
                poll(fds, 2, -1) < 0) {
                if (errno == EINTR)
                    continue;
                break;
            }
            if (encrypted && gnutls_record_check_pending(c.session) > 0)
                fds[0].revents = POLLIN;
            if (fds[0].revents) {
                const ssize_t n = encrypted ? gnutls_record_recv(c.session, buffer, sizeof buffer)
                                            : recv(client, buffer, sizeof buffer, 0);
                if (encrypted && (n == GNUTLS_E_AGAIN || n == GNUTLS_E_INTERRUPTED))
                    continue;
                if (n <= 0 || !SendAll(server, buffer, size_t(n)))
                    break;
            }
            if (fds[1].revents) {
                const ssize_t n = recv(server, buffer, sizeof buffer, 0);
                if (n <= 0)
                    break;
                bool sent = true;
                if (encrypted) {
                    for (ssize_t at = 0; sent && at < n;) {
                        const ssize_t m =
                            gnutls_record_send(c.session, buffer + at, size_t(n - at));
                        if (m == GNUTLS_E_AGAIN || m == GNUTLS_E_INTERRUPTED)
                            continue;
                        sent = m > 0;
                        at += m;
                    }
                } else {
                    sent = SendAll(client, buffer, size_t(n));
                }
                if (!sent)
                    break;
            }
        }
    }
    if (c.session)
        gnutls_deinit(c.session);
    std::lock_guard lock(mutex);
    std::erase(openFds, client);
    std::erase(openFds, server);
    shutdown(client, SHUT_RDWR);
    shutdown(server, SHUT_RDWR);
    close(client);
    close(server);
}

TdsTlsLayer::TdsTlsLayer(StandinEncryption setting) : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.setting = setting;
    unsigned char serial[8];
    gnutls_rnd(GNUTLS_RND_NONCE, serial, sizeof serial);
    serial[0] &= 0x7f;
    // SQL Server names the certificate it makes for itself at start-up like this.
    static const char kName[] = "SSL_Self_Signed_Fallback";
    const time_t now = time(nullptr);
    if (!Ok(gnutls_x509_privkey_init(&s.key)) ||
        !Ok(gnutls_x509_privkey_generate(s.key, GNUTLS_PK_ECDSA,
                                         GNUTLS_CURVE_TO_BITS(GNUTLS_ECC_CURVE_SECP256R1), 0)) ||
        !Ok(gnutls_x509_crt_init(&s.certificate)) ||
        !Ok(gnutls_x509_crt_set_version(s.certificate, 3)) ||
        !Ok(gnutls_x509_crt_set_serial(s.certificate, serial, sizeof serial)) ||
        !Ok(gnutls_x509_crt_set_activation_time(s.certificate, now - 3600)) ||
        !Ok(gnutls_x509_crt_set_expiration_time(s.certificate, now + 30 * 86400)) ||
        !Ok(gnutls_x509_crt_set_dn_by_oid(s.certificate, GNUTLS_OID_X520_COMMON_NAME, 0, kName,
                                          sizeof kName - 1)) ||
        !Ok(gnutls_x509_crt_set_key(s.certificate, s.key)) ||
        !Ok(gnutls_x509_crt_set_key_usage(s.certificate, GNUTLS_KEY_DIGITAL_SIGNATURE)) ||
        !Ok(gnutls_x509_crt_set_key_purpose_oid(s.certificate, GNUTLS_KP_TLS_WWW_SERVER, 0)) ||
        !Ok(gnutls_x509_crt_sign2(s.certificate, s.certificate, s.key, GNUTLS_DIG_SHA256, 0)) ||
        !Ok(gnutls_certificate_allocate_credentials(&s.credentials)) ||
        !Ok(gnutls_certificate_set_x509_key(s.credentials, &s.certificate, 1, s.key)))
        qFatal("stand-in: cannot make its TLS certificate");
}

TdsTlsLayer::~TdsTlsLayer() {
    std::vector<std::thread> relays;
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
        for (int fd : state_->openFds)
            shutdown(fd, SHUT_RDWR);
        relays.swap(state_->relays);
    }
    for (std::thread& t : relays)
        t.join();
    gnutls_certificate_free_credentials(state_->credentials);
    gnutls_x509_crt_deinit(state_->certificate);
    gnutls_x509_privkey_deinit(state_->key);
}

int TdsTlsLayer::Wrap(int clientFd) {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        close(clientFd);
        return -1;
    }
    std::lock_guard lock(state_->mutex);
    if (state_->stopping) {
        close(clientFd);
        close(pair[0]);
        close(pair[1]);
        return -1;
    }
    state_->openFds.push_back(clientFd);
    state_->openFds.push_back(pair[1]);
    state_->relays.emplace_back(
        [s = state_.get(), clientFd, relayEnd = pair[1]] { s->Relay(clientFd, relayEnd); });
    return pair[0];
}

QList<SeenTls> TdsTlsLayer::Sessions() const {
    std::lock_guard lock(state_->mutex);
    return state_->sessions;
}

} // namespace vestrel::test
