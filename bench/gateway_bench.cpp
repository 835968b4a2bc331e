// SPDX-License-Identifier: MIT
// Load and attack benchmark for vesk-gateway. Starts a fresh gateway for each
// run, drives it from one thread with non-blocking sockets on 127.0.0.1, and
// prints what it measured; it never fails.
//
// Load: K clients in one channel each send M lines of 70 bytes, paced or as
// fast as their sockets take them, while all of them read; a quiet pair in
// another channel pings every 10 ms. Attacks: a flood, 5000 bans, 200 clients
// that never read, 1020 idle connections; each prints the gateway's peak RSS.
// "tls": the unpaced fan-out of K = 50 through the TLS port beside the plain
// one, 1,000 logins over TLS one after the other, and 1,000 TLS handshakes
// left unfinished while a pair chats ("tls-idle" alone). "accounts": ten logins
// to hashed accounts at once while a quiet pair chats.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <openssl/ssl.h>

namespace {

constexpr int kLineBytes = 70;
constexpr double kPacedDeliveriesPerSecond = 1.5e6;
constexpr long kDeliveriesPerRun = 2'450'000;
constexpr int kRunSeconds = 60;
constexpr int kLoginWave = 16;
constexpr int kQuietIntervalMs = 10;
constexpr int kUnsentBytes = 8192;

std::string gPath = VESK_GATEWAY_PATH;

// With these set, connectTo() goes to the gateway's TLS port and the
// sockets' bytes pass through OpenSSL (netRead, netWrite).
SSL_CTX *gTlsContext = nullptr;
std::string gCertDir;
std::vector<SSL *> gSsl(65536, nullptr); // by descriptor

SSL *sslOf(int fd)
{
    return fd >= 0 && size_t(fd) < gSsl.size() ? gSsl[size_t(fd)] : nullptr;
}

ssize_t sslResult(SSL *ssl, int result)
{
    const int error = SSL_get_error(ssl, result);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
        errno = EAGAIN;
        return -1;
    }
    if (error == SSL_ERROR_ZERO_RETURN)
        return 0;
    if (error == SSL_ERROR_SYSCALL && errno == EAGAIN)
        return -1;
    errno = ECONNRESET;
    return -1;
}

ssize_t netRead(int fd, char *buffer, size_t size)
{
    SSL *ssl = sslOf(fd);
    if (!ssl)
        return read(fd, buffer, size);
    size_t got = 0;
    const int result = SSL_read_ex(ssl, buffer, size, &got);
    return result == 1 ? ssize_t(got) : sslResult(ssl, result);
}

ssize_t netWrite(int fd, const char *data, size_t size)
{
    SSL *ssl = sslOf(fd);
    if (!ssl)
        return write(fd, data, size);
    size_t written = 0;
    const int result = SSL_write_ex(ssl, data, size, &written);
    return result == 1 ? ssize_t(written) : sslResult(ssl, result);
}

void closeConnection(int fd)
{
    if (SSL *ssl = sslOf(fd)) {
        SSL_free(ssl);
        gSsl[size_t(fd)] = nullptr;
    }
    close(fd);
}

long long nowNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1'000'000'000LL + ts.tv_nsec;
}

double cpuSecondsSelf()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A gateway child process on a free port of 127.0.0.1.
struct Gateway
{
    pid_t pid = -1;
    int port = 0;
    int logFd = -1;
    std::thread drainer;

    explicit Gateway(const std::vector<std::string> &options)
    {
        int pipeFds[2];
        if (pipe(pipeFds) != 0)
            return;
        std::vector<std::string> args = {gPath, "--port", "0", "--listen", "127.0.0.1"};
        args.insert(args.end(), options.begin(), options.end());
        pid = fork();
        if (pid == 0) {
            dup2(pipeFds[1], STDERR_FILENO);
            close(pipeFds[0]);
            std::vector<char *> argv;
            for (std::string &arg : args)
                argv.push_back(arg.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(pipeFds[1]);
        logFd = pipeFds[0];
        // The first line names the port; the log is read on so the gateway never blocks on it.
        std::string line;
        char c;
        while (read(logFd, &c, 1) == 1 && c != '\n')
            line += c;
        const auto colon = line.rfind(':');
        if (line.find("listening on") != std::string::npos && colon != std::string::npos)
            port = std::atoi(line.c_str() + colon + 1);
        // With a certificate the next line names the TLS port, which the clients use.
        if (std::find(options.begin(), options.end(), "--tls-cert") != options.end() && port != 0) {
            line.clear();
            while (read(logFd, &c, 1) == 1 && c != '\n')
                line += c;
            const auto tlsColon = line.rfind(':');
            port = line.find("listening for TLS on") != std::string::npos && tlsColon != std::string::npos
                    ? std::atoi(line.c_str() + tlsColon + 1)
                    : 0;
        }
        drainer = std::thread([fd = logFd] {
            char buffer[65536];
            while (read(fd, buffer, sizeof buffer) > 0) {
            }
        });
    }

    ~Gateway()
    {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
        if (drainer.joinable())
            drainer.join();
        if (logFd >= 0)
            close(logFd);
    }

    double cpuSeconds() const
    {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string content((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        const auto end = content.rfind(')');
        if (end == std::string::npos)
            return 0;
        // Fields after the command: state is field 3; utime and stime are 14 and 15.
        std::vector<std::string> fields;
        size_t at = end + 2;
        while (at < content.size()) {
            const size_t space = content.find(' ', at);
            fields.push_back(content.substr(at, space - at));
            if (space == std::string::npos)
                break;
            at = space + 1;
        }
        if (fields.size() < 13)
            return 0;
        return (std::stod(fields[11]) + std::stod(fields[12])) / double(sysconf(_SC_CLK_TCK));
    }

    // "VmHWM" (peak) or "VmRSS" (now), in MiB.
    double memoryMiB(const char *key) const
    {
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind(key, 0) == 0)
                return std::atof(line.c_str() + std::strlen(key) + 1) / 1024.0;
        }
        return 0;
    }
};

// A TCP connection to 127.0.0.1 from the loopback address source (127.0.0.x; 0: the usual one).
int connectRaw(int port, uint32_t source = 0, int receiveBuffer = 0)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (receiveBuffer > 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    if (source != 0) {
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_addr.s_addr = htonl(source);
        if (bind(fd, reinterpret_cast<sockaddr *>(&from), sizeof from) != 0) {
            close(fd);
            return -1;
        }
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

int connectTo(int port, int receiveBuffer = 0, uint32_t source = 0)
{
    const int fd = connectRaw(port, source, receiveBuffer);
    if (fd < 0)
        return -1;
    if (gTlsContext) {
        SSL *ssl = SSL_new(gTlsContext);
        SSL_set_fd(ssl, fd);
        if (SSL_connect(ssl) != 1) {
            SSL_free(ssl);
            close(fd);
            return -1;
        }
        gSsl[size_t(fd)] = ssl;
    }
    return fd;
}

bool writeAll(int fd, const std::string &data)
{
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = netWrite(fd, data.data() + done, data.size() - done);
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

// Blocking read until `marker` has arrived (or the connection ends); returns what came.
std::string readUntil(int fd, const std::string &marker, int timeoutMs = 10000)
{
    std::string got;
    const long long deadline = nowNs() + timeoutMs * 1'000'000LL;
    timeval tv{0, 100000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    char buffer[65536];
    while (got.find(marker) == std::string::npos && nowNs() < deadline) {
        const ssize_t n = netRead(fd, buffer, sizeof buffer);
        if (n == 0)
            break;
        if (n > 0)
            got.append(buffer, size_t(n));
    }
    return got;
}

std::string loginBytes(const std::string &name)
{
    return std::string("\x03\x04\r\n\r\n") + name + "\r\npw\r\n";
}

// Logs in clients in waves, so that unfinished logins stay under the gateway's cap.
std::vector<int> logIn(int port, const std::vector<std::string> &names, const std::string &channel,
                       int receiveBuffer = 0)
{
    std::vector<int> fds(names.size(), -1);
    for (size_t start = 0; start < names.size(); start += kLoginWave) {
        const size_t end = std::min(names.size(), start + kLoginWave);
        for (size_t i = start; i < end; ++i) {
            fds[i] = connectTo(port, receiveBuffer);
            if (fds[i] >= 0)
                writeAll(fds[i], loginBytes(names[i]) + "/join " + channel + "\r\n");
        }
        for (size_t i = start; i < end; ++i) {
            if (fds[i] >= 0 && readUntil(fds[i], "1007 CHANNEL \"" + channel + "\"").find("1007 CHANNEL \"" + channel) == std::string::npos) {
                closeConnection(fds[i]);
                fds[i] = -1;
            }
        }
    }
    return fds;
}

double percentile(std::vector<uint32_t> &values, double p)
{
    if (values.empty())
        return 0;
    const size_t at = std::min(values.size() - 1, size_t(p * double(values.size())));
    std::nth_element(values.begin(), values.begin() + long(at), values.end());
    return values[at] / 1000.0; // µs to ms
}

struct Peer
{
    int fd = -1;
    int index = 0;
    std::string in;
    std::string out;
    bool writable = true;
    bool dropped = false;
    int sent = 0;           // lines handed to the socket's buffer
    long long due = 0;      // paced: lines that should have been sent by now
    std::vector<int> last;  // per sender: last sequence number received
};

struct LoadResult
{
    double seconds = 0;
    long delivered = 0, expected = 0, lost = 0, disordered = 0;
    int dropped = 0;
    std::vector<uint32_t> latencyUs, quietUs;
    double gatewayCpu = 0, benchCpu = 0, peakRssMiB = 0;
};

void setNonBlocking(int fd)
{
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

// One load run against a fresh gateway.
std::vector<std::string> tlsOptions()
{
    if (!gTlsContext)
        return {};
    return {"--tls-port", "0", "--tls-cert", gCertDir + "/gateway-cert.pem", "--tls-key", gCertDir + "/gateway-key.pem"};
}

LoadResult runLoad(int k, int m, bool paced)
{
    LoadResult result;
    std::vector<std::string> options = {"--line-rate", "0", "--max-per-address", "1000"};
    const std::vector<std::string> tls = tlsOptions();
    options.insert(options.end(), tls.begin(), tls.end());
    Gateway gateway(options);
    if (gateway.port == 0) {
        std::printf("  cannot start %s\n", gPath.c_str());
        return result;
    }
    std::vector<std::string> names;
    for (int i = 0; i < k; ++i)
        names.push_back("b" + std::to_string(i));
    std::vector<int> fds = logIn(gateway.port, names, "Bench");
    std::vector<int> quiet = logIn(gateway.port, {"qa", "qb"}, "Quiet");
    // Everyone's joins have been seen once the last client is in.
    usleep(200000);

    const int epoll = epoll_create1(0);
    std::vector<Peer> peers(size_t(k) + 2);
    for (size_t i = 0; i < peers.size(); ++i) {
        Peer &peer = peers[i];
        peer.fd = i < size_t(k) ? fds[i] : quiet[i - size_t(k)];
        peer.index = int(i);
        peer.last.assign(size_t(k), -1);
        if (peer.fd < 0) {
            peer.dropped = true;
            continue;
        }
        setNonBlocking(peer.fd);
        // Senders keep at most this much unsent in their kernel buffer, as a
        // latency-minded client would; latency then measures the relay.
        const int lowWater = kUnsentBytes;
        setsockopt(peer.fd, IPPROTO_TCP, TCP_NOTSENT_LOWAT, &lowWater, sizeof lowWater);
        char buffer[65536];
        while (netRead(peer.fd, buffer, sizeof buffer) > 0) {
        }
        epoll_event event{};
        event.events = EPOLLIN | EPOLLOUT | EPOLLET;
        event.data.u32 = uint32_t(i);
        epoll_ctl(epoll, EPOLL_CTL_ADD, peer.fd, &event);
    }

    result.expected = long(k) * (k - 1) * m;
    const double linesPerSecond = kPacedDeliveriesPerSecond / (double(k) * (k - 1));
    const double gatewayCpuStart = gateway.cpuSeconds();
    const double benchCpuStart = cpuSecondsSelf();
    const long long start = nowNs();
    long long lastProgress = start, nextPing = start;
    int pingSeq = 0;
    result.latencyUs.reserve(size_t(result.expected));
    const std::string padding(kLineBytes, 'x');

    auto fill = [&](Peer &peer, long long now) {
        long long target = m;
        if (paced)
            target = std::min<long long>(m, (long long)(double(now - start) / 1e9 * linesPerSecond) + 1);
        // Lines are stamped when they are handed to the socket, so only what
        // the socket takes at once is prepared.
        if (!peer.out.empty() || !peer.writable)
            return;
        char line[kLineBytes + 3];
        while (peer.sent < target && peer.out.size() < 8192) {
            const int n = std::snprintf(line, sizeof line, "%d %lld ", peer.sent, now);
            std::memcpy(line + n, padding.data(), size_t(kLineBytes - n));
            line[kLineBytes] = '\r';
            line[kLineBytes + 1] = '\n';
            peer.out.append(line, kLineBytes + 2);
            ++peer.sent;
        }
    };
    auto flush = [&](Peer &peer) {
        while (!peer.out.empty() && peer.writable && !peer.dropped) {
            const ssize_t n = netWrite(peer.fd, peer.out.data(), peer.out.size());
            if (n < 0) {
                if (errno == EAGAIN)
                    peer.writable = false;
                else
                    peer.dropped = true;
                return;
            }
            peer.out.erase(0, size_t(n));
        }
    };
    auto handleLine = [&](Peer &peer, const char *line, size_t length, long long now) {
        // 1005 TALK <name> 0010 "<text>"
        if (length < 12 || std::memcmp(line, "1005 TALK ", 10) != 0)
            return;
        const char *name = line + 10;
        const char *quote = static_cast<const char *>(std::memchr(line, '"', length));
        if (!quote)
            return;
        if (name[0] == 'b') {
            const int sender = std::atoi(name + 1);
            const int seq = std::atoi(quote + 1);
            const long long sentAt = std::atoll(std::strchr(quote + 1, ' ') + 1);
            int &last = peer.last[size_t(sender)];
            if (seq <= last)
                ++result.disordered;
            else
                ++result.delivered;
            last = std::max(last, seq);
            result.latencyUs.push_back(uint32_t((now - sentAt) / 1000));
        } else if (name[0] == 'q' && name[1] == 'a' && peer.index == k + 1) {
            // qb answers qa's ping with the same text.
            std::string answer(quote + 1, size_t(line + length - quote - 2));
            peer.out += "pong " + answer + "\r\n";
            flush(peer);
        } else if (name[0] == 'q' && name[1] == 'b' && peer.index == k) {
            // "pong ping <seq> <sent at>"
            const char *sentAt = line + length - 1;
            while (sentAt > quote && *sentAt != ' ')
                --sentAt;
            result.quietUs.push_back(uint32_t((now - std::atoll(sentAt + 1)) / 1000));
        }
    };
    auto readPeer = [&](Peer &peer, long long now) {
        char buffer[262144];
        for (;;) {
            const ssize_t n = netRead(peer.fd, buffer, sizeof buffer);
            if (n == 0 || (n < 0 && errno != EAGAIN)) {
                peer.dropped = true;
                epoll_ctl(epoll, EPOLL_CTL_DEL, peer.fd, nullptr);
                return;
            }
            if (n < 0)
                return;
            peer.in.append(buffer, size_t(n));
            size_t at = 0;
            for (;;) {
                const size_t end = peer.in.find('\n', at);
                if (end == std::string::npos)
                    break;
                handleLine(peer, peer.in.data() + at, end - at, now);
                at = end + 1;
            }
            peer.in.erase(0, at);
        }
    };

    epoll_event events[256];
    for (;;) {
        const long long now = nowNs();
        if (now >= nextPing && !peers[size_t(k)].dropped) {
            Peer &qa = peers[size_t(k)];
            qa.out += "ping " + std::to_string(pingSeq++) + " " + std::to_string(now) + "\r\n";
            flush(qa);
            nextPing += kQuietIntervalMs * 1'000'000LL;
        }
        for (int i = 0; i < k; ++i) {
            Peer &peer = peers[size_t(i)];
            if (!peer.dropped) {
                fill(peer, now);
                flush(peer);
            }
        }
        const int count = epoll_wait(epoll, events, 256, 1);
        const long long after = nowNs();
        const long before = result.delivered;
        for (int e = 0; e < count; ++e) {
            Peer &peer = peers[events[e].data.u32];
            if (events[e].events & EPOLLOUT)
                peer.writable = true;
            if (events[e].events & (EPOLLIN | EPOLLHUP | EPOLLERR))
                readPeer(peer, after);
            flush(peer);
        }
        if (result.delivered != before)
            lastProgress = after;
        if (result.delivered + result.disordered >= result.expected || after - start > kRunSeconds * 1'000'000'000LL
            || after - lastProgress > 10'000'000'000LL)
            break;
    }
    result.seconds = double(nowNs() - start) / 1e9;
    result.gatewayCpu = gateway.cpuSeconds() - gatewayCpuStart;
    result.benchCpu = cpuSecondsSelf() - benchCpuStart;
    result.peakRssMiB = gateway.memoryMiB("VmHWM:");
    for (const Peer &peer : peers) {
        if (peer.dropped)
            ++result.dropped;
        if (peer.fd >= 0)
            closeConnection(peer.fd);
    }
    close(epoll);
    result.lost = result.expected - result.delivered;
    return result;
}

void load(int onlyK)
{
    std::printf("Load: K clients in one channel each send M lines of %d bytes; all read; a quiet pair in another\n"
                "channel pings every %d ms. Paced: %.1f M deliveries/s offered in total. Gateway options:\n"
                "--line-rate 0 --max-per-address 1000 (the default line rate would throttle the senders).\n",
                kLineBytes, kQuietIntervalMs, kPacedDeliveriesPerSecond / 1e6);
    std::printf("%-4s %-8s %6s %9s %8s %7s %7s %7s %6s %5s %5s %7s %7s %8s %7s %7s\n", "K", "mode", "M",
                "deliv/s", "lost", "disord", "p50ms", "p99ms", "maxms", "drop", "", "qp50ms", "qp99ms",
                "gw us/d", "gw MiB", "gen cpu");
    for (const int k : {10, 50, 200}) {
        if (onlyK && k != onlyK)
            continue;
        const int m = int((kDeliveriesPerRun + long(k) * (k - 1) - 1) / (long(k) * (k - 1)));
        for (const bool paced : {true, false}) {
            LoadResult r = runLoad(k, m, paced);
            const double perDeliveryUs = r.delivered ? r.gatewayCpu / double(r.delivered) * 1e6 : 0;
            const double p50 = percentile(r.latencyUs, 0.5), p99 = percentile(r.latencyUs, 0.99);
            const double max = r.latencyUs.empty() ? 0 : *std::max_element(r.latencyUs.begin(), r.latencyUs.end()) / 1000.0;
            std::printf("%-4d %-8s %6d %8.2fM %8ld %7ld %7.1f %7.1f %6.0f %5d %5s %7.2f %7.2f %8.3f %7.1f %6.2fs\n", k,
                        paced ? "paced" : "unpaced", m, double(r.delivered) / r.seconds / 1e6, r.lost, r.disordered, p50,
                        p99, max, r.dropped, "", percentile(r.quietUs, 0.5), percentile(r.quietUs, 0.99), perDeliveryUs,
                        r.peakRssMiB, r.benchCpu);
            std::fflush(stdout);
        }
    }
    std::printf("deliv/s: lines received by all clients per second of the run; lost: expected minus received;\n"
                "disord: duplicated or out of order; drop: clients disconnected; qp: quiet pair round trip;\n"
                "gw us/d: gateway CPU (user+system) per delivery; gw MiB: gateway peak RSS; gen cpu: this program's CPU.\n\n");
}

// --- attacks: each against a fresh gateway with its default limits unless said ---

void report(const char *attack, const Gateway &gateway, const std::string &outcome)
{
    std::printf("  %-44s peak RSS %6.1f MiB, now %6.1f MiB   %s\n", attack, gateway.memoryMiB("VmHWM:"),
                gateway.memoryMiB("VmRSS:"), outcome.c_str());
    std::fflush(stdout);
}

// Connections the gateway has neither closed nor reset (unread data does not count).
int countAlive(const std::vector<int> &fds)
{
    int alive = 0;
    for (const int fd : fds) {
        tcp_info info{};
        socklen_t length = sizeof info;
        if (fd >= 0 && getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) == 0 && info.tcpi_state == TCP_ESTABLISHED)
            ++alive;
    }
    return alive;
}

// Readers that read everything in a background thread until told to stop.
struct Readers
{
    std::vector<int> fds;
    bool stop = false;
    std::thread thread;

    explicit Readers(std::vector<int> readerFds) : fds(std::move(readerFds))
    {
        thread = std::thread([this] {
            char buffer[65536];
            while (!stop) {
                bool any = false;
                for (const int fd : fds) {
                    if (recv(fd, buffer, sizeof buffer, MSG_DONTWAIT) > 0)
                        any = true;
                }
                if (!any)
                    usleep(1000);
            }
        });
    }

    ~Readers()
    {
        stop = true;
        thread.join();
    }
};

void floodAttack(const std::vector<std::string> &options, const char *label)
{
    Gateway gateway(options);
    std::vector<int> readers = logIn(gateway.port, {"r1", "r2", "r3"}, "Lobby");
    std::vector<int> flooder = logIn(gateway.port, {"flood"}, "Lobby");
    Readers reading(readers);
    // 256 KiB of "a" lines in one write, then 20 MB of 1000-byte lines, as fast as TCP takes them.
    std::string burst;
    for (int i = 0; i < 128 * 1024; ++i)
        burst += "a\n";
    writeAll(flooder[0], burst);
    setNonBlocking(flooder[0]);
    const std::string line = std::string(1000, 'f') + "\n";
    long long written = 0;
    const long long end = nowNs() + 10'000'000'000LL;
    while (nowNs() < end && written < 20'000'000) {
        const ssize_t n = write(flooder[0], line.data(), line.size());
        if (n > 0)
            written += n;
        else
            usleep(1000);
    }
    char outcome[160];
    std::snprintf(outcome, sizeof outcome, "flooder wrote %.1f MB to its socket in 10 s; readers connected: %d of 3",
                  double(burst.size() + size_t(written)) / 1e6, countAlive(readers));
    report(label, gateway, outcome);
    for (const int fd : readers)
        close(fd);
    close(flooder[0]);
}

void banAttack()
{
    // Without a line rate, so that the list limit is what holds.
    Gateway gateway({"--line-rate", "0"});
    std::vector<int> op = logIn(gateway.port, {"op"}, "Banland");
    int banned = 0, refused = 0;
    for (int i = 0; i < 5000; ++i) {
        const std::string name = "v" + std::to_string(i);
        std::vector<int> victim = logIn(gateway.port, {name}, "Banland");
        if (victim[0] < 0)
            continue;
        writeAll(op[0], "/ban " + name + "\r\n/whois\r\n");
        const std::string reply = readUntil(op[0], "Usage: /whois");
        if (reply.find("was banned") != std::string::npos)
            ++banned;
        else if (reply.find("ban list is full") != std::string::npos)
            ++refused;
        close(victim[0]);
    }
    char outcome[160];
    std::snprintf(outcome, sizeof outcome, "%d bans kept, %d refused (list full)", banned, refused);
    report("5000 bans in one channel, no line rate", gateway, outcome);
    close(op[0]);
}

void nonReaderAttack()
{
    // More than one address could hold: lift the per-address cap to see the memory bound.
    Gateway gateway({"--max-per-address", "1000"});
    std::vector<std::string> names;
    for (int i = 0; i < 200; ++i)
        names.push_back("n" + std::to_string(i));
    std::vector<int> stuck = logIn(gateway.port, names, "Lobby", 4096);
    std::vector<int> talkers = logIn(gateway.port, {"t1", "t2", "t3", "t4", "t5"}, "Lobby");
    Readers reading(talkers);
    // Each talker sends 64 KiB lines as fast as it may, and whispers them to the stuck ones too.
    const std::string big(60000, 'z');
    for (int round = 0; round < 20; ++round) {
        for (size_t t = 0; t < talkers.size(); ++t) {
            std::string lines = big + "\r\n";
            for (int w = 0; w < 10; ++w)
                lines += "/w n" + std::to_string((round * 10 + w) % 200) + " " + big + "\r\n";
            send(talkers[t], lines.data(), lines.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        }
        usleep(500000);
    }
    const int aliveAfterTalk = countAlive(stuck);
    usleep(3000000); // past the queue grace, counted from when each fell behind
    char outcome[200];
    std::snprintf(outcome, sizeof outcome,
                  "non-readers connected after 10 s: %d of 200, after 13 s: %d; talkers: %d of 5", aliveAfterTalk,
                  countAlive(stuck), countAlive(talkers));
    report("200 non-reading clients, 5 talkers", gateway, outcome);
    for (const int fd : stuck)
        close(fd);
    for (const int fd : talkers)
        close(fd);
}

void idleAttack(const std::vector<std::string> &options, const char *label)
{
    Gateway gateway(options);
    std::vector<int> fds;
    int refused = 0;
    for (int i = 0; i < 1020; ++i) {
        const int fd = connectTo(gateway.port);
        if (fd >= 0)
            fds.push_back(fd);
    }
    usleep(500000);
    for (const int fd : fds) {
        char buffer[256];
        const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n >= 0)
            ++refused; // an info line and the close, or the close
    }
    char outcome[160];
    std::snprintf(outcome, sizeof outcome, "%zu connected, %d answered with a refusal and closed", fds.size(), refused);
    report(label, gateway, outcome);
    for (const int fd : fds)
        close(fd);
}

void attacks()
{
    std::printf("Attacks (fresh gateway each; RSS from /proc/<pid>/status VmHWM and VmRSS at the end):\n");
    floodAttack({}, "flood, default line rate");
    floodAttack({"--line-rate", "0"}, "flood, no line rate");
    banAttack();
    nonReaderAttack();
    idleAttack({}, "1020 idle connections, default caps");
    idleAttack({"--max-per-address", "2000", "--max-unfinished-per-address", "2000"}, "1020 idle connections, caps lifted");
    std::printf("\n");
}

// A TLS client's first flight (its ClientHello), made in memory.
std::string clientHello()
{
    SSL_CTX *context = SSL_CTX_new(TLS_client_method());
    SSL *ssl = SSL_new(context);
    BIO *in = BIO_new(BIO_s_mem());
    BIO *out = BIO_new(BIO_s_mem());
    SSL_set_bio(ssl, in, out);
    SSL_set_connect_state(ssl);
    SSL_do_handshake(ssl);
    std::string hello(BIO_ctrl_pending(out), '\0');
    BIO_read(out, hello.data(), int(hello.size()));
    SSL_free(ssl);
    SSL_CTX_free(context);
    return hello;
}

enum class RawState { Open, Closed };

// Drains what the gateway sent on a raw socket; Closed once it has closed it.
RawState peerState(int fd)
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK))
            return RawState::Closed;
        if (n < 0)
            return RawState::Open;
    }
}

// One ping between the pair: milliseconds until the other one read it, or -1.
double pingMs(const std::vector<int> &pair, int number)
{
    const long long sentAt = nowNs();
    const std::string text = "ping " + std::to_string(number);
    writeAll(pair[0], text + "\r\n");
    if (readUntil(pair[1], text + "\"", 5000).find(text) == std::string::npos)
        return -1;
    return double(nowNs() - sentAt) / 1e6;
}

std::string roundTrips(std::vector<double> ms)
{
    if (ms.empty())
        return "no answer";
    std::sort(ms.begin(), ms.end());
    char text[96];
    std::snprintf(text, sizeof text, "median %.2f ms, max %.2f ms over %zu pings", ms[ms.size() / 2], ms.back(), ms.size());
    return text;
}

// 1,000 TLS connections that never finish their handshake (a third send
// nothing, a third a cut ClientHello, a third a whole one and never answer),
// spread over `addresses` loopback addresses, while a pair logged in over TLS
// chats and a new user logs in over TLS from an address of its own.
void idleHandshakes(int addresses, const std::vector<std::string> &extraOptions, const char *label)
{
    constexpr int kIdle = 1000;
    std::vector<std::string> options = tlsOptions();
    options.insert(options.end(), extraOptions.begin(), extraOptions.end());
    Gateway gateway(options);
    const std::vector<int> pair = logIn(gateway.port, {"Guest", "guest"}, "Quiet");
    if (pair[0] < 0 || pair[1] < 0) {
        std::printf("  %s: the pair could not log in\n", label);
        return;
    }
    std::vector<double> before;
    for (int i = 0; i < 20; ++i)
        if (const double ms = pingMs(pair, i); ms >= 0)
            before.push_back(ms);

    // Waves of connects that do not wait for each other, and a pause after
    // each for the gateway to accept them: a burst beyond the listening
    // backlog (Qt's 50) would leave connects to the kernel's SYN retries.
    constexpr int kWave = 25;
    const std::string hello = clientHello();
    std::vector<int> idle;
    const long long openStart = nowNs();
    for (int wave = 0; wave < kIdle; wave += kWave) {
        std::vector<pollfd> pending;
        for (int i = wave; i < std::min(kIdle, wave + kWave); ++i) {
            const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            sockaddr_in from{};
            from.sin_family = AF_INET;
            from.sin_addr.s_addr = htonl((127u << 24) + 2 + uint32_t(i % addresses)); // 127.0.0.2 ...
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_port = htons(uint16_t(gateway.port));
            to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (bind(fd, reinterpret_cast<sockaddr *>(&from), sizeof from) != 0
                || (connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0 && errno != EINPROGRESS)) {
                close(fd);
                continue;
            }
            pending.push_back({fd, POLLOUT, 0});
        }
        const long long waveStart = nowNs();
        while (!pending.empty() && nowNs() - waveStart < 3'000'000'000LL) {
            poll(pending.data(), pending.size(), 100);
            for (size_t i = 0; i < pending.size();) {
                if (pending[i].revents == 0) {
                    ++i;
                    continue;
                }
                const int fd = pending[i].fd;
                int error = 0;
                socklen_t length = sizeof error;
                getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
                if (error == 0) {
                    // Nothing; a hello cut short; a whole hello and no answer to the reply.
                    const size_t kind = idle.size() % 3;
                    const std::string sent = kind == 0 ? std::string() : kind == 1 ? hello.substr(0, 10) : hello;
                    if (!sent.empty())
                        send(fd, sent.data(), sent.size(), MSG_NOSIGNAL);
                    idle.push_back(fd);
                } else {
                    close(fd);
                }
                pending[i] = pending.back();
                pending.pop_back();
            }
        }
        for (const pollfd &p : pending)
            close(p.fd);
        usleep(10000);
    }
    const long long openEnd = nowNs();
    const double openSeconds = double(openEnd - openStart) / 1e9;

    // The gateway sorts them out while the pair chats.
    std::vector<double> during;
    for (int i = 0; i < 50; ++i) {
        if (const double ms = pingMs(pair, 100 + i); ms >= 0)
            during.push_back(ms);
        usleep(10000);
    }
    int refused = 0;
    for (const int fd : idle)
        refused += peerState(fd) == RawState::Closed ? 1 : 0;
    const long long loginStart = nowNs();
    const int newcomer = connectTo(gateway.port, 0, (127u << 24) + 250);
    const bool welcomed = newcomer >= 0 && writeAll(newcomer, loginBytes("newcomer"))
            && readUntil(newcomer, "Welcome").find("Welcome") != std::string::npos;
    const double loginMs = double(nowNs() - loginStart) / 1e6;
    const double rssHeld = gateway.memoryMiB("VmRSS:");

    // Until the handshake deadline has dropped every one of them.
    const long long waitStart = nowNs();
    int open = kIdle;
    while (open > 0 && nowNs() - waitStart < 20'000'000'000LL) {
        open = 0;
        for (const int fd : idle)
            open += peerState(fd) == RawState::Open ? 1 : 0;
        if (open > 0)
            usleep(100000);
    }
    const double droppedAfter = double(nowNs() - openEnd) / 1e9;
    std::vector<double> after;
    for (int i = 0; i < 20; ++i)
        if (const double ms = pingMs(pair, 200 + i); ms >= 0)
            after.push_back(ms);

    std::printf("  %s:\n"
                "    %zu of %d handshakes opened in %.2f s from %d address(es); %d refused by the caps at once, "
                "%zu held mid-handshake\n"
                "    pair's round trip before: %s\n"
                "    pair's round trip while they are held: %s\n"
                "    a new TLS login from another address meanwhile: %s in %.1f ms\n"
                "    gateway RSS while held %.1f MiB, peak %.1f MiB; %s %.1f s after the last was opened\n"
                "    pair's round trip after: %s\n",
                label, idle.size(), kIdle, openSeconds, addresses, refused, idle.size() - size_t(refused),
                roundTrips(before).c_str(), roundTrips(during).c_str(), welcomed ? "welcomed" : "NOT welcomed", loginMs,
                rssHeld, gateway.memoryMiB("VmHWM:"),
                open == 0 ? "all closed by the handshake deadline" : "some still open", droppedAfter,
                roundTrips(after).c_str());
    std::fflush(stdout);
    for (const int fd : idle)
        close(fd);
    if (newcomer >= 0)
        closeConnection(newcomer);
    for (const int fd : pair)
        closeConnection(fd);
}

void idleTlsHandshakes()
{
    std::printf("TLS: 1,000 idle handshakes (deadline 10 s; caps per address: 20 unfinished logins)\n");
    idleHandshakes(50, {}, "50 addresses, 20 each, default caps");
    idleHandshakes(1, {}, "one address, default caps");
}

} // namespace

// The unpaced fan-out of K = 50 in plain TCP and through TLS, and 1,000
// logins over TLS, each a fresh connection with a full handshake.
void tlsLoad(bool idleOnly)
{
    char dir[] = "/tmp/gateway-bench-tls-XXXXXX";
    if (!mkdtemp(dir)) {
        std::printf("  cannot make a temporary folder\n");
        return;
    }
    gCertDir = dir;
    const std::string make = "bash '" VESK_SOURCE_DIR "/scripts/make-cert.sh' '" + gCertDir + "' >/dev/null";
    if (std::system(make.c_str()) != 0) {
        std::printf("  cannot make a certificate with scripts/make-cert.sh\n");
        return;
    }
    SSL_CTX *context = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr); // the bench measures the gateway, not trust
    SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);

    if (idleOnly) {
        gTlsContext = context;
        idleTlsHandshakes();
        gTlsContext = nullptr;
        SSL_CTX_free(context);
        std::system(("rm -rf '" + gCertDir + "'").c_str());
        return;
    }

    constexpr int k = 50;
    const int m = int((kDeliveriesPerRun + long(k) * (k - 1) - 1) / (long(k) * (k - 1)));
    std::printf("TLS: K = %d clients in one channel, M = %d lines each, unpaced, plain port and TLS port\n", k, m);
    for (const bool tls : {false, true}) {
        gTlsContext = tls ? context : nullptr;
        const LoadResult r = runLoad(k, m, false);
        std::printf("  %-5s %6.2f M deliveries/s, %ld lost, %d dropped, gateway %.3f us CPU per delivery, "
                    "peak RSS %.1f MiB\n",
                    tls ? "TLS" : "plain", double(r.delivered) / r.seconds / 1e6, r.lost, r.dropped,
                    r.delivered ? r.gatewayCpu / double(r.delivered) * 1e6 : 0, r.peakRssMiB);
        std::fflush(stdout);
    }

    // Logins one after the other, each waiting for its welcome and then
    // leaving, so that what is measured is the login and not the lobby's size.
    gTlsContext = context;
    constexpr int kLogins = 1000;
    std::vector<std::string> options = {"--max-per-address", "2000"};
    const std::vector<std::string> tls = tlsOptions();
    options.insert(options.end(), tls.begin(), tls.end());
    {
        Gateway gateway(options);
        const double cpuBefore = gateway.cpuSeconds();
        const long long start = nowNs();
        int done = 0;
        for (int i = 0; i < kLogins; ++i) {
            const int fd = connectTo(gateway.port);
            if (fd < 0)
                continue;
            writeAll(fd, std::string("\x03\x04\r\n\r\nGuest\r\n\r\n"));
            if (readUntil(fd, "Welcome").find("Welcome") != std::string::npos)
                ++done;
            closeConnection(fd);
        }
        const double seconds = double(nowNs() - start) / 1e9;
        std::printf("  %d of %d TLS logins (connect, handshake, login, welcome) in %.2f s, one after the other; "
                    "gateway CPU %.2f s, peak RSS %.1f MiB\n",
                    done, kLogins, seconds, gateway.cpuSeconds() - cpuBefore, gateway.memoryMiB("VmHWM:"));
        std::fflush(stdout);
    }
    idleTlsHandshakes();
    std::printf("\n");
    gTlsContext = nullptr;
    SSL_CTX_free(context);
    std::system(("rm -rf '" + gCertDir + "'").c_str());
}

// Ten logins to hashed accounts at the same moment while a quiet pair chats:
// how long until all are in, the gateway's peak memory, and the pair's round trips.
void hashedLogins()
{
    constexpr int kLogins = 10;
    char dir[] = "/tmp/gateway-bench-accounts-XXXXXX";
    if (!mkdtemp(dir))
        return;
    const std::string accounts = std::string(dir) + "/accounts.txt";
    const std::string hash = "echo secret | '" + gPath + "' --hash-password u0 > '" + accounts + "'";
    if (std::system(hash.c_str()) != 0) {
        std::printf("  cannot hash a password with %s\n", gPath.c_str());
        return;
    }
    std::ifstream in(accounts);
    std::string line;
    std::getline(in, line);
    const std::string secret = line.substr(line.find(':'));
    std::ofstream out(accounts, std::ios::app);
    for (int i = 1; i < kLogins; ++i)
        out << "u" << i << secret << "\n";
    out.close();

    Gateway gateway({"--accounts", accounts});
    const std::vector<int> quiet = logIn(gateway.port, {"Guest", "guest"}, "Quiet");
    if (quiet[0] < 0 || quiet[1] < 0) {
        std::printf("  the quiet pair could not log in\n");
        return;
    }
    const double rssBefore = gateway.memoryMiB("VmRSS:");
    std::vector<int> fds;
    const long long start = nowNs();
    for (int i = 0; i < kLogins; ++i) {
        const int fd = connectTo(gateway.port);
        writeAll(fd, "\x03\x04\r\n\r\nu" + std::to_string(i) + "\r\nsecret\r\n");
        setNonBlocking(fd);
        fds.push_back(fd);
    }
    std::vector<std::string> got(kLogins);
    std::vector<double> roundTripsMs;
    int welcomed = 0;
    long long lastWelcome = start;
    for (int ping = 0; welcomed < kLogins && nowNs() - start < 20'000'000'000LL; ++ping) {
        const long long sentAt = nowNs();
        const std::string text = "ping " + std::to_string(ping);
        writeAll(quiet[0], text + "\r\n");
        if (readUntil(quiet[1], text + "\"", 5000).find(text) != std::string::npos)
            roundTripsMs.push_back(double(nowNs() - sentAt) / 1e6);
        for (int i = 0; i < kLogins; ++i) {
            char buffer[4096];
            ssize_t n;
            while ((n = read(fds[size_t(i)], buffer, sizeof buffer)) > 0)
                got[size_t(i)].append(buffer, size_t(n));
            if (got[size_t(i)].find("Welcome") != std::string::npos && got[size_t(i)] != "done") {
                got[size_t(i)] = "done";
                ++welcomed;
                lastWelcome = nowNs();
            }
        }
        usleep(5000);
    }
    const double maxRoundTrip = roundTripsMs.empty() ? 0 : *std::max_element(roundTripsMs.begin(), roundTripsMs.end());
    std::printf("Hashed accounts: %d of %d logins at once (argon2id, 19 MiB, 2 passes) in %.2f s; gateway RSS "
                "%.1f MiB before, peak %.1f MiB; quiet pair's round trip meanwhile: max %.1f ms over %zu pings\n\n",
                welcomed, kLogins, double(lastWelcome - start) / 1e9, rssBefore, gateway.memoryMiB("VmHWM:"),
                maxRoundTrip, roundTripsMs.size());
    for (const int fd : fds)
        close(fd);
    for (const int fd : quiet)
        close(fd);
    std::system(("rm -rf '" + std::string(dir) + "'").c_str());
}

int main(int argc, char **argv)
{
    signal(SIGPIPE, SIG_IGN);
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = std::max<rlim_t>(files.rlim_cur, std::min<rlim_t>(files.rlim_max, 4096));
    setrlimit(RLIMIT_NOFILE, &files);

    // Optional: "load [K]", "attacks", "tls", "tls-idle" or "accounts" to run one part;
    // --gateway PATH for another build.
    std::string only;
    int onlyK = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--gateway" && i + 1 < argc)
            gPath = argv[++i];
        else if (!arg.empty() && std::isdigit(static_cast<unsigned char>(arg[0])))
            onlyK = std::atoi(arg.c_str());
        else
            only = arg;
    }
    if (only.empty() || only == "load")
        load(onlyK);
    if (only.empty() || only == "attacks")
        attacks();
    if (only.empty() || only == "tls" || only == "tls-idle")
        tlsLoad(only == "tls-idle");
    if (only.empty() || only == "tls" || only == "accounts")
        hashedLogins();
    return 0;
}
